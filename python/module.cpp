// The quorvel extension module: its definition and what executing it adds
// to a new module object (the Example class, the public functions in the
// order of __all__, the version, the private members).
#include "errors.hpp"
#include "example_type.hpp"
#include "function_table.hpp"
#include "private_hooks.hpp"
#include "process_values.hpp"
#include "ref.hpp"

namespace quorvel::py {
namespace {

/// Appends `name` to the module's __all__ (creating the list if absent) and
/// sets the attribute. False with a Python exception set on failure.
bool module_add(PyObject* module, PyObject* name, PyObject* value, const InternedNames& names) {
  Ref all = Ref::steal(PyObject_GetAttr(module, names.all));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
    PyErr_Clear();
    all = Ref::steal(PyList_New(0));
    if (!all || PyObject_SetAttr(module, names.all, all.get()) < 0) return false;
  } else if (!PyList_Check(all.get())) {
    return cast_error(all.get(), reinterpret_cast<PyObject*>(&PyList_Type));
  }
  if (PyList_Append(all.get(), name) < 0) return false;
  return PyObject_SetAttr(module, name, value) == 0;
}

int add_members(PyObject* module) {
  if (!PyModule_Check(module)) {
    cast_error(module, reinterpret_cast<PyObject*>(&PyModule_Type));
    return -1;
  }
  const InternedNames* names = interned_names();
  if (names == nullptr) return -1;

  PyTypeObject* example = example_type();
  if (example == nullptr) return -1;
  Ref example_name = Ref::steal(PyUnicode_FromString("Example"));
  if (!example_name ||
      !module_add(module, example_name.get(), reinterpret_cast<PyObject*>(example), *names)) {
    return -1;
  }

  for (const PyMethodDef& record : public_functions()) {
    Ref module_name = Ref::steal(PyModule_GetNameObject(module));
    if (!module_name) return -1;
    Ref function = Ref::steal(
        PyCMethod_New(const_cast<PyMethodDef*>(&record), module, module_name.get(), nullptr));
    if (!function) return -1;
    module_name = Ref();
    Ref function_name = Ref::steal(PyObject_GetAttr(function.get(), names->name));
    if (!function_name) return -1;
    if (!PyUnicode_Check(function_name.get())) {
      cast_error(function_name.get(), reinterpret_cast<PyObject*>(&PyUnicode_Type));
      return -1;
    }
    if (!module_add(module, function_name.get(), function.get(), *names)) return -1;
  }
  // The package version, from the one place it is written down; an
  // attribute of its own, not one of the names the module exports.
  Ref version = Ref::steal(PyUnicode_FromString(QUORVEL_VERSION));
  if (!version || PyObject_SetAttrString(module, "__version__", version.get()) < 0) return -1;
  return add_private_members(module) ? 0 : -1;
}

int exec_module(PyObject* module) noexcept {
  return barrier(-1, [&] { return add_members(module); });
}

#if defined(Py_TARGET_ABI3T)

// The stable ABI that both builds of 3.15 and later load (abi3t) has no
// module definition structure: the interpreter asks PyModExport_quorvel
// for the same description as an array of slots. It says which ABI the
// module was built for, so that an interpreter that cannot run it refuses
// to import it instead of crashing.
PyABIInfo_VAR(kAbiInfo);

PySlot kModuleSlots[] = {
    PySlot_PTR_STATIC(Py_mod_abi, &kAbiInfo),
    PySlot_PTR_STATIC(Py_mod_name, "quorvel"),
    PySlot_PTR_STATIC(Py_mod_doc, ""),  // present and empty
    PySlot_PTR(Py_mod_exec, exec_module),
    // Every value shared between calls is created once, under a lock, and
    // immutable after; arguments are read as the free-threaded API allows.
    PySlot_PTR(Py_mod_gil, Py_MOD_GIL_NOT_USED),
    PySlot_END,
};

}  // namespace
}  // namespace quorvel::py

PyMODEXPORT_FUNC PyModExport_quorvel(void) { return quorvel::py::kModuleSlots; }

#else

PyModuleDef_Slot kModuleSlots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
#if defined(Py_GIL_DISABLED)
    // A free-threaded interpreter keeps its lock off for this module: every
    // value shared between calls is created once, under a lock, and
    // immutable after; arguments are read as the free-threaded API allows.
    // (Absent elsewhere: the GIL builds' definition has this one slot.)
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#endif
    {0, nullptr},
};

PyModuleDef kModuleDef = {
    PyModuleDef_HEAD_INIT,
    "quorvel",  // m_name
    "",         // m_doc: present and empty
    0,          // m_size: no per-module state
    nullptr,    // m_methods: functions are added by exec_module
    kModuleSlots,
    nullptr,  // m_traverse
    nullptr,  // m_clear
    nullptr,  // m_free
};

}  // namespace
}  // namespace quorvel::py

PyMODINIT_FUNC PyInit_quorvel(void) { return PyModuleDef_Init(&quorvel::py::kModuleDef); }

#endif
