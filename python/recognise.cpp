#include "recognise.hpp"

#include <atomic>
#include <string_view>

#include "process_values.hpp"

namespace quorvel::py {
namespace {

struct KnownType {
  ArrayKind kind;
  std::string_view name;
  /// The module, or its first component when `package` (pandas classes say
  /// "pandas" or "pandas.core.frame" depending on the release).
  std::string_view module;
  bool package;
  /// Static (C-defined) types cannot be imitated from Python; classes
  /// defined in Python can, which only costs us speed (the object then gets
  /// the generic treatment of a sequence).
  bool static_type;
};

constexpr KnownType kKnown[] = {
    {ArrayKind::NdArray, "ndarray", "numpy", false, true},
    {ArrayKind::Array, "array", "array", false, true},
    {ArrayKind::DataFrame, "DataFrame", "pandas", true, false},
    {ArrayKind::Series, "Series", "pandas", true, false},
};
constexpr std::size_t kKnownCount = sizeof kKnown / sizeof kKnown[0];

/// Types seen to match, kept (with a reference) for the life of the process
/// so that later calls recognise them by pointer alone.
std::atomic<PyTypeObject*> g_seen[kKnownCount];

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
  if (!known.package || module == nullptr || !PyUnicode_Check(module)) return false;
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

}  // namespace

ArrayKind recognise(PyObject* object, Conversion& conversion) {
  PyTypeObject* type = Py_TYPE(object);
  if (type == &PyMemoryView_Type) return ArrayKind::MemoryView;
  for (std::size_t k = 0; k < kKnownCount; ++k) {
    if (g_seen[k].load(std::memory_order_acquire) == type) return kKnown[k].kind;
  }
  const bool is_static = (PyType_GetFlags(type) & Py_TPFLAGS_HEAPTYPE) == 0;
  // The name of a class costs nothing to read and rules out nearly
  // everything; the module is read only for a matching name.
  Ref name = Ref::steal(PyType_GetName(type));
  if (!name) {
    PyErr_Clear();
    return ArrayKind::Other;
  }
  for (std::size_t k = 0; k < kKnownCount; ++k) {
    const KnownType& known = kKnown[k];
    if (known.static_type != is_static || !text_equals(name.get(), known.name)) continue;
    if (!is_static) conversion.before_python_code();  // a metaclass may run code
    const InternedNames* names = interned_names();
    Ref module = names != nullptr ? Ref::steal(PyObject_GetAttr(reinterpret_cast<PyObject*>(type),
                                                                names->module))
                                  : Ref();
    if (!module) {
      if (PyErr_Occurred() && !PyErr_ExceptionMatches(PyExc_Exception)) return ArrayKind::Failed;
      PyErr_Clear();
    }
    const bool match = module_matches(module.get(), known);
    if (!match) return ArrayKind::Other;
    PyTypeObject* expected = nullptr;
    if (g_seen[k].compare_exchange_strong(expected, type, std::memory_order_acq_rel)) {
      Py_INCREF(reinterpret_cast<PyObject*>(type));  // remembered for good
    }
    return known.kind;
  }
  return ArrayKind::Other;
}

}  // namespace quorvel::py
