#include "scalars.hpp"

#include "errors.hpp"
#include "process_values.hpp"
#include "python_code.hpp"
#include "conversion_rules.hpp"  // last: see there

namespace quorvel::py {
namespace {

/// The int behind `object`: itself, or what operator.index() gives.
Ref as_int(PyObject* object, Conversion& conversion) {
  if (PyLong_Check(object)) return Ref::borrow(object);
  return PythonCode::index_of(conversion, object);
}

/// Whether `object` is a numpy boolean scalar, judged by its type's module
/// and name alone so that numpy need not be imported. Errors while looking
/// are cleared and mean "no".
bool is_numpy_bool(PyObject* object, const InternedNames& names, Conversion& conversion) {
  Ref module = PythonCode::class_attribute(conversion, Py_TYPE(object), names.module);
  if (!module || !PyUnicode_Check(module.get()) ||
      PyUnicode_CompareWithASCIIString(module.get(), "numpy") != 0) {
    PyErr_Clear();
    return false;
  }
  Ref name = Ref::steal(PyType_GetName(Py_TYPE(object)));
  if (!name || !PyUnicode_Check(name.get())) {
    PyErr_Clear();
    return false;
  }
  const bool match = PyUnicode_CompareWithASCIIString(name.get(), "bool_") == 0 ||
                     PyUnicode_CompareWithASCIIString(name.get(), "bool") == 0;
  PyErr_Clear();
  return match;
}

/// Calls the type's __bool__ on a numpy boolean scalar.
bool numpy_bool_value(PyObject* object, const InternedNames& names, bool& out,
                      Conversion& conversion) {
  PyTypeObject* type = Py_TYPE(object);
  Ref method = PythonCode::class_attribute(conversion, type, names.bool_);
  if (!method) {
    PyErr_Clear();
    PyErr_Format(PyExc_TypeError, "object of type '%S' does not define a '__bool__' conversion",
                 reinterpret_cast<PyObject*>(type));
    return false;
  }
  // A function found on the type is unbound: bind it to the scalar through
  // its descriptor slot, as attribute lookup on the instance would.
  auto get = reinterpret_cast<descrgetfunc>(PyType_GetSlot(Py_TYPE(method.get()), Py_tp_descr_get));
  if (get != nullptr) {
    method = Ref::steal(get(method.get(), object, reinterpret_cast<PyObject*>(type)));
    if (!method) return false;
  }
  Ref result = PythonCode::call_bound(conversion, object, method.get());
  if (!result) return false;
  if (!PyBool_Check(result.get())) {
    return cast_error(result.get(), reinterpret_cast<PyObject*>(&PyBool_Type));
  }
  out = result.get() == Py_True;
  return true;
}

}  // namespace

bool read_number(PyObject* item, double& out, Conversion& conversion) {
  switch (read_plain(item, out)) {
    case Read::Done:
      return true;
    case Read::Failed:
      return false;
    case Read::Other:
      break;
  }
  return PythonCode::float_of(conversion, item, out);
}

bool extract_count(PyObject* object, std::uint64_t& out, Conversion& conversion) {
  const Ref number = as_int(object, conversion);
  if (!number) return false;
  // 2**64 - 1 is both a valid count and the failure marker.
  const unsigned long long value = PyLong_AsUnsignedLongLong(number.get());
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
  out = value;
  return true;
}

bool extract_offset(PyObject* object, std::int64_t& out, Conversion& conversion) {
  const Ref number = as_int(object, conversion);
  if (!number) return false;
  const long long value = PyLong_AsLongLong(number.get());
  if (value == -1 && PyErr_Occurred()) return false;
  out = value;
  return true;
}

bool extract_float(PyObject* object, double& out, Conversion& conversion) {
  return read_number(object, out, conversion);
}

bool extract_flag(PyObject* object, bool& out, Conversion& conversion) {
  if (PyBool_Check(object)) {  // bool cannot be subclassed: this is exact
    out = object == Py_True;
    return true;
  }
  const InternedNames* names = interned_names();
  if (names == nullptr) return false;
  if (is_numpy_bool(object, *names, conversion)) {
    return numpy_bool_value(object, *names, out, conversion);
  }
  return cast_error(object, reinterpret_cast<PyObject*>(&PyBool_Type));
}

}  // namespace quorvel::py
