#include "recognise.hpp"

#include <atomic>
#include <string_view>

#include "errors.hpp"
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
  /// on the release). An imitation only gets its to_numpy() or .values read.
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

}  // namespace

ArrayKind recognise(PyObject* object, Conversion& conversion) {
  PyTypeObject* type = Py_TYPE(object);
  if (type == &PyMemoryView_Type) return ArrayKind::MemoryView;
  for (std::size_t k = 0; k < kKnownCount; ++k) {
    if (g_seen[k].load(std::memory_order_acquire) == type) return kKnown[k].kind;
  }
  const bool is_static = (PyType_GetFlags(type) & Py_TPFLAGS_HEAPTYPE) == 0;
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
      match = found.get() == reinterpret_cast<PyObject*>(type);
    } else {
      if (is_static != (known.verify == Verify::Static)) continue;
      const InternedNames* names = interned_names();
      Ref module = names != nullptr ? PythonCode::class_attribute(conversion, type, names->module)
                                    : Ref();
      if (!module) {
        if (PyErr_Occurred() && !clear_if_ordinary()) return ArrayKind::Failed;
        PyErr_Clear();
      }
      match = module_matches(module.get(), known);
    }
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
