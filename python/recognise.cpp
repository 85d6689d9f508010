#include "recognise.hpp"

#include <atomic>
#include <string_view>

#include "errors.hpp"
#include "inert.hpp"
#include "process_values.hpp"
#include "python_code.hpp"
#include "conversion_rules.hpp"  // last: see there

namespace quorvel::py {
namespace {

/// How a type is told apart from imitations.
enum class Verify {
  /// A C-defined (static) type with this module and name: Python code cannot
  /// define one.
  Static,
  /// The very class that the already imported module of this name holds
  /// under this name (array.array is a heap type since Python 3.10).
  Imported,
  /// A class defined in Python with this name, in this package or one of its
  /// modules (pandas classes say "pandas" or "pandas.core.frame" depending
  /// on the release). An imitation only gets its to_numpy() or .values read,
  /// through the gate.
  Package,
};

struct KnownType {
  ArrayKind kind;
  std::string_view name;
  std::string_view module;
  Verify verify;
};

constexpr KnownType kKnown[] = {
    {ArrayKind::NdArray, "ndarray", "numpy", Verify::Static},
    {ArrayKind::NumpyMatrix, "matrix", "numpy", Verify::Package},
    {ArrayKind::Array, "array", "array", Verify::Imported},
    {ArrayKind::DataFrame, "DataFrame", "pandas", Verify::Package},
    {ArrayKind::Series, "Series", "pandas", Verify::Package},
    {ArrayKind::RangeIndex, "RangeIndex", "pandas", Verify::Package},
};
constexpr std::size_t kKnownCount = sizeof kKnown / sizeof kKnown[0];

/// Types seen to match, kept (with a reference) for the life of the process
/// so that later calls recognise them by pointer alone.
std::atomic<PyTypeObject*> g_seen[kKnownCount];

/// Classes seen to be none of the above (a pandas Index, say, whose labels
/// are looked at in every call that takes a DataFrame), a few at a time:
/// recognised by pointer until the slots are taken, by name after that.
constexpr std::size_t kOtherSlots = 8;
std::atomic<PyTypeObject*> g_others[kOtherSlots];

void remember_other(PyTypeObject* type) noexcept {
  for (auto& slot : g_others) {
    PyTypeObject* expected = nullptr;
    if (slot.compare_exchange_strong(expected, type, std::memory_order_acq_rel)) {
      Py_INCREF(reinterpret_cast<PyObject*>(type));  // remembered for good
      return;
    }
    if (expected == type) return;
  }
}

/// numpy's scalar types seen so far (there are about two dozen).
constexpr std::size_t kScalarSlots = 32;
std::atomic<PyTypeObject*> g_scalars[kScalarSlots];

bool text_equals(PyObject* text, std::string_view expected) noexcept {
  Py_ssize_t size = 0;
  if (text == nullptr || !PyUnicode_Check(text)) return false;
  const char* utf8 = PyUnicode_AsUTF8AndSize(text, &size);
  if (utf8 == nullptr) {
    PyErr_Clear();  // a name with no UTF-8 form is no name we look for
    return false;
  }
  return std::string_view(utf8, static_cast<std::size_t>(size)) == expected;
}

bool module_matches(PyObject* module, const KnownType& known) noexcept {
  if (text_equals(module, known.module)) return true;
  if (known.verify != Verify::Package || module == nullptr || !PyUnicode_Check(module)) return false;
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(module, &size);
  if (utf8 == nullptr) {
    PyErr_Clear();
    return false;
  }
  const std::string_view text(utf8, static_cast<std::size_t>(size));
  return text.size() > known.module.size() && text.starts_with(known.module) &&
         text[known.module.size()] == '.';
}

bool is_static(PyTypeObject* type) noexcept {
  return (PyType_GetFlags(type) & Py_TPFLAGS_HEAPTYPE) == 0;
}

/// The __module__ of a class: read directly for a static class whose
/// metaclass is `type`, through the gate otherwise (a metaclass defined in
/// Python may compute it). Null with no exception when it cannot be had; null
/// with the exception set on an interrupt.
Ref module_of(PyTypeObject* type, Conversion& conversion) {
  const InternedNames* names = interned_names();
  if (names == nullptr) return {};
  Ref module;
  if (plain_static_class(type)) {
    module = static_class_module(type, names->module);
  } else {
    module = PythonCode::class_attribute(conversion, type, names->module);
  }
  if (!module && clear_if_ordinary()) return {};
  return module;
}

/// Whether a static class with a buffer is one of numpy's scalar types.
ArrayKind numpy_scalar(PyObject* object, PyTypeObject* type, Conversion& conversion) {
  for (auto& slot : g_scalars) {
    PyTypeObject* seen = slot.load(std::memory_order_acquire);
    if (seen == type) return ArrayKind::NumpyScalar;
    if (seen == nullptr) break;
  }
  if (!plain_static_class(type) || !PyObject_CheckBuffer(object)) {
    return ArrayKind::Other;
  }
  Ref module = module_of(type, conversion);
  if (!module) return PyErr_Occurred() ? ArrayKind::Failed : ArrayKind::Other;
  if (!text_equals(module.get(), "numpy")) return ArrayKind::Other;
  for (auto& slot : g_scalars) {
    PyTypeObject* expected = nullptr;
    if (slot.compare_exchange_strong(expected, type, std::memory_order_acq_rel)) {
      Py_INCREF(reinterpret_cast<PyObject*>(type));  // remembered for good
      break;
    }
    if (expected == type) break;
  }
  return ArrayKind::NumpyScalar;
}

}  // namespace

ArrayKind recognise_other(PyObject* object, Conversion& conversion) {
  PyTypeObject* type = Py_TYPE(object);
  if (PyUnicode_Check(object)) return ArrayKind::Str;
  if (type == &PyMemoryView_Type) return ArrayKind::MemoryView;
  for (std::size_t k = 0; k < kKnownCount; ++k) {
    if (g_seen[k].load(std::memory_order_acquire) == type) return kKnown[k].kind;
  }
  for (auto& slot : g_others) {
    const PyTypeObject* other = slot.load(std::memory_order_acquire);
    if (other == type) return ArrayKind::Other;
    if (other == nullptr) break;
  }
  const bool is_static_type = is_static(type);
  // The name of a class costs nothing to read and rules out nearly
  // everything; the rest is looked at only for a matching name.
  Ref name = Ref::steal(PyType_GetName(type));
  if (!name) {
    PyErr_Clear();
    return ArrayKind::Other;
  }
  for (std::size_t k = 0; k < kKnownCount; ++k) {
    const KnownType& known = kKnown[k];
    if (!text_equals(name.get(), known.name)) continue;
    bool match = false;
    if (known.verify == Verify::Imported) {
      // Only dictionaries are read: sys.modules and the module's namespace.
      const Ref found = PythonCode::imported_attribute(conversion, known.module.data(),
                                                       known.name.data());
      if (!found && PyErr_Occurred()) return ArrayKind::Failed;
      match = found.get() == reinterpret_cast<PyObject*>(type);
    } else {
      if (is_static_type != (known.verify == Verify::Static)) continue;
      Ref module = module_of(type, conversion);
      if (!module && PyErr_Occurred()) return ArrayKind::Failed;
      match = module_matches(module.get(), known);
    }
    if (!match) return ArrayKind::Other;
    PyTypeObject* expected = nullptr;
    if (g_seen[k].compare_exchange_strong(expected, type, std::memory_order_acq_rel)) {
      Py_INCREF(reinterpret_cast<PyObject*>(type));  // remembered for good
    }
    return known.kind;
  }
  const ArrayKind kind = numpy_scalar(object, type, conversion);
  if (kind == ArrayKind::Other) remember_other(type);
  return kind;
}

}  // namespace quorvel::py

namespace quorvel::py {

ArrayKind recognise_number(PyObject* object, Conversion& conversion) {
  PyTypeObject* type = Py_TYPE(object);
  static_assert(kKnown[0].kind == ArrayKind::NdArray);
  if (g_seen[0].load(std::memory_order_acquire) == type) return ArrayKind::NumpyScalar;
  return numpy_scalar(object, type, conversion);
}

}  // namespace quorvel::py
