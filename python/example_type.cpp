#include "example_type.hpp"

#include <array>
#include <new>
#include <string>
#include <string_view>

#include "binding.hpp"
#include "errors.hpp"

namespace quorvel::py {
namespace {

#if defined(Py_TARGET_ABI3T)
// abi3t keeps the object header's layout hidden (it differs between the GIL
// and the free-threaded build): the text lives in the type's own part of
// the object, wherever the running build puts it.
struct ExampleFields {
  std::string text;  // UTF-8, set once by the constructor
};
constexpr int kBasicSize = -static_cast<int>(sizeof(ExampleFields));  // added to object's

ExampleFields* as_example(PyObject* self) noexcept {
  return static_cast<ExampleFields*>(PyObject_GetTypeData(self, Py_TYPE(self)));
}
#else
struct ExampleObject {
  PyObject_HEAD
  std::string text;  // UTF-8, set once by the constructor
};
constexpr int kBasicSize = static_cast<int>(sizeof(ExampleObject));

ExampleObject* as_example(PyObject* self) noexcept { return reinterpret_cast<ExampleObject*>(self); }
#endif

constexpr std::array<std::string_view, 1> kParameters{"value"};

/// A str (or subclass), copied as UTF-8. False with the exception set.
bool extract_text(PyObject* object, std::string& out) {
  if (!PyUnicode_Check(object)) return cast_error(object, reinterpret_cast<PyObject*>(&PyUnicode_Type));
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(object, &size);
  if (utf8 == nullptr) return false;
  out.assign(utf8, static_cast<std::size_t>(size));
  return true;
}
constexpr SignatureDescriptor kConstructor{"__new__", "Example", kParameters};

PyObject* example_new(PyTypeObject* cls, PyObject* args, PyObject* kwargs) noexcept {
  return barrier<PyObject*>(nullptr, [&]() -> PyObject* {
    std::array<PyObject*, 1> slots{};
    if (!bind_arguments(kConstructor, args, kwargs, slots.data())) return nullptr;
    std::string text;
    if (!extract_text(slots[0], text)) {
      add_argument_note(kParameters[0]);
      return nullptr;
    }
    auto base_new = reinterpret_cast<newfunc>(PyType_GetSlot(&PyBaseObject_Type, Py_tp_new));
    Ref empty = Ref::steal(PyTuple_New(0));
    if (!empty) return nullptr;
    PyObject* self = base_new(cls, empty.get(), nullptr);
    if (self == nullptr) return nullptr;
    // The allocation is zero-filled raw storage: construct the member in it.
    new (&as_example(self)->text) std::string(std::move(text));
    return self;
  });
}

PyObject* text_object(const std::string& text) noexcept {
  return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

PyObject* example_str(PyObject* self) noexcept { return text_object(as_example(self)->text); }

PyObject* example_repr(PyObject* self) noexcept {
  return barrier<PyObject*>(nullptr, [&] {
    const std::string& text = as_example(self)->text;
    std::string out;
    out.reserve(text.size() + 9);
    out.append("Example<").append(text).append(">");
    return text_object(out);
  });
}

void example_dealloc(PyObject* self) noexcept {
  using std::string;
  as_example(self)->text.~string();
  // A heap type's instances hold a reference to their type: free first,
  // then let go of the type.
  PyTypeObject* type = Py_TYPE(self);
  auto free_slot = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  free_slot(self);
  Py_DECREF(type);
}

PyType_Slot kSlots[] = {
    {Py_tp_doc, const_cast<char*>("Example(value)\n--\n\n")},
    {Py_tp_base, &PyBaseObject_Type},
    {Py_tp_new, reinterpret_cast<void*>(example_new)},
    {Py_tp_repr, reinterpret_cast<void*>(example_repr)},
    {Py_tp_str, reinterpret_cast<void*>(example_str)},
    {Py_tp_dealloc, reinterpret_cast<void*>(example_dealloc)},
    {0, nullptr},
};

PyType_Spec kSpec{
    "builtins.Example",
    kBasicSize,
    0,
    // Immutable: the type object is shared by every interpreter in the
    // process, so no interpreter may replace a method on it (another
    // interpreter could be left calling code whose interpreter is gone).
    // Not a base type, not collected, no instance dictionary.
    Py_TPFLAGS_IMMUTABLETYPE,
    kSlots,
};

}  // namespace

PyTypeObject* create_example_type() noexcept {
  return reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&kSpec));
}

}  // namespace quorvel::py
