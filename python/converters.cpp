#include "converters.hpp"

#include <cstring>

#include "binding.hpp"
#include "process_values.hpp"

namespace quorvel::py {
namespace {

/// Upper bound on the room reserved from a size hint that the object could
/// have made up (`__len__` is arbitrary code). Exact lists and tuples report
/// the number of items they really hold, so their hint is taken as it is and
/// the vector is filled with a single reservation.
constexpr Py_ssize_t kUntrustedHintCap = Py_ssize_t{1} << 16;

/// Refuses a str (never a sequence of characters here) and any object that
/// is not a sequence; otherwise returns the capped size hint.
bool check_sequence(PyObject* object, Py_ssize_t& hint) {
  if (PyUnicode_Check(object)) {
    PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
    return false;
  }
  if (!PySequence_Check(object)) {
    PyObject* sequence = sequence_class();
    if (sequence == nullptr) return false;
    return cast_error(object, sequence);
  }
  hint = PyObject_Size(object);
  if (hint < 0) {
    PyErr_Clear();  // a failing size is only a missing hint
    hint = 0;
  }
  if (!PyList_CheckExact(object) && !PyTuple_CheckExact(object) && hint > kUntrustedHintCap) {
    hint = kUntrustedHintCap;
  }
  return true;
}

/// Appends one item as a double. -1.0 is a genuine value unless an error is
/// pending.
bool append_item(PyObject* item, FloatVector& out) {
  const double value = PyFloat_AsDouble(item);
  if (value == -1.0 && PyErr_Occurred()) return false;
  out.push_back(value);
  return true;
}

/// Calls `each(item)` for every item of `object` in iteration order, with a
/// strong reference held on the item for the duration of the call.
template <class Each>
bool for_each_item(PyObject* object, Each each) {
  if (PyList_CheckExact(object)) {
    // Same walk as the list iterator: the length is read afresh at every
    // step, since converting an item may run code that resizes the list.
    for (Py_ssize_t i = 0; i < PyList_Size(object); ++i) {
      Ref item = Ref::borrow(PyList_GetItem(object, i));
      if (!each(item.get())) return false;
    }
    return true;
  }
  if (PyTuple_CheckExact(object)) {
    const Py_ssize_t n = PyTuple_Size(object);
    for (Py_ssize_t i = 0; i < n; ++i) {
      if (!each(PyTuple_GetItem(object, i))) return false;  // the tuple keeps it alive
    }
    return true;
  }
  Ref iterator = Ref::steal(PyObject_GetIter(object));
  if (!iterator) return false;
  while (Ref item = Ref::steal(PyIter_Next(iterator.get()))) {
    if (!each(item.get())) return false;
  }
  return !PyErr_Occurred();
}

/// Whether `object` is exactly a numpy.ndarray, judged by its type's module
/// and name so that numpy is never imported. Lookup failures mean "no".
bool is_ndarray(PyObject* object) noexcept {
  const InternedNames* names = interned_names();
  if (names == nullptr) {
    PyErr_Clear();
    return false;
  }
  PyTypeObject* type = Py_TYPE(object);
  Ref name = Ref::steal(PyType_GetName(type));
  bool match = name && PyUnicode_Check(name.get()) &&
               PyUnicode_CompareWithASCIIString(name.get(), "ndarray") == 0;
  if (match) {
    Ref module = Ref::steal(PyObject_GetAttr(reinterpret_cast<PyObject*>(type), names->module));
    match = module && PyUnicode_Check(module.get()) &&
            PyUnicode_CompareWithASCIIString(module.get(), "numpy") == 0;
  }
  PyErr_Clear();
  return match;
}

/// A buffer view released on every path.
struct BufferView {
  Py_buffer view{};
  bool held = false;
  ~BufferView() {
    if (held) PyBuffer_Release(&view);
  }
};

/// Reads an exact numpy array of native doubles with `ndim` dimensions
/// straight from its memory, calling `row(pointer, count, stride)` once per
/// row (once in all for one dimension). Iterating such an array yields the
/// very same doubles, one Python float object each; this skips the objects.
/// False, with no error pending, when the object is anything else: the
/// caller then iterates it as usual.
template <class Row>
bool read_double_array(PyObject* object, int ndim, Row row) {
  if (PyList_CheckExact(object) || PyTuple_CheckExact(object) || !is_ndarray(object)) return false;
  BufferView buffer;
  if (PyObject_GetBuffer(object, &buffer.view, PyBUF_STRIDES | PyBUF_FORMAT) < 0) {
    PyErr_Clear();
    return false;
  }
  buffer.held = true;
  const Py_buffer& v = buffer.view;
  if (v.ndim != ndim || v.itemsize != static_cast<Py_ssize_t>(sizeof(double)) ||
      v.format == nullptr || std::strcmp(v.format, "d") != 0) {
    return false;
  }
  const auto* base = static_cast<const char*>(v.buf);
  const Py_ssize_t rows = ndim == 1 ? 1 : v.shape[0];
  const Py_ssize_t row_stride = ndim == 1 ? 0 : v.strides[0];
  for (Py_ssize_t i = 0; i < rows; ++i) {
    row(base + i * row_stride, v.shape[ndim - 1], v.strides[ndim - 1]);
  }
  return true;
}

/// Copies `count` doubles spaced `stride` bytes apart.
void copy_strided(const char* from, Py_ssize_t count, Py_ssize_t stride, FloatVector& out) {
  out.resize(static_cast<std::size_t>(count));
  if (stride == static_cast<Py_ssize_t>(sizeof(double))) {
    if (count > 0) std::memcpy(out.data(), from, static_cast<std::size_t>(count) * sizeof(double));
    return;
  }
  for (Py_ssize_t k = 0; k < count; ++k) std::memcpy(&out[k], from + k * stride, sizeof(double));
}

}  // namespace

bool extract_float_vector(PyObject* object, FloatVector& out) {
  Py_ssize_t hint = 0;
  if (!check_sequence(object, hint)) return false;
  out.clear();
  if (read_double_array(object, 1, [&out](const char* from, Py_ssize_t count, Py_ssize_t stride) {
        copy_strided(from, count, stride, out);
      })) {
    return true;
  }
  out.reserve(static_cast<std::size_t>(hint));
  return for_each_item(object, [&out](PyObject* item) { return append_item(item, out); });
}

bool extract_float_matrix(PyObject* object, FloatMatrix& out) {
  Py_ssize_t hint = 0;
  if (!check_sequence(object, hint)) return false;
  out.clear();
  out.reserve(static_cast<std::size_t>(hint));
  if (read_double_array(object, 2, [&out](const char* from, Py_ssize_t count, Py_ssize_t stride) {
        copy_strided(from, count, stride, out.emplace_back());
      })) {
    return true;
  }
  return for_each_item(object, [&out](PyObject* row) {
    FloatVector values;
    if (!extract_float_vector(row, values)) return false;
    out.push_back(std::move(values));
    return true;
  });
}

bool extract_count(PyObject* object, std::uint64_t& out) noexcept {
  Ref index;
  PyObject* number = object;
  if (!PyLong_Check(object)) {
    index = Ref::steal(PyNumber_Index(object));
    if (!index) return false;
    number = index.get();
  }
  // 2**64 - 1 is both a valid count and the failure marker.
  const unsigned long long value = PyLong_AsUnsignedLongLong(number);
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
  out = value;
  return true;
}

bool extract_float(PyObject* object, double& out) noexcept {
  const double value = PyFloat_AsDouble(object);
  if (value == -1.0 && PyErr_Occurred()) return false;
  out = value;
  return true;
}

namespace {

/// Whether `object` is a numpy boolean scalar, judged by its type's module
/// and name alone so that numpy need not be imported. Errors while looking
/// are cleared and mean "no".
bool is_numpy_bool(PyObject* object, const InternedNames& names) noexcept {
  PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(object));
  Ref module = Ref::steal(PyObject_GetAttr(type, names.module));
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
bool numpy_bool_value(PyObject* object, const InternedNames& names, bool& out) noexcept {
  PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(object));
  Ref method = Ref::steal(PyObject_GetAttr(type, names.bool_));
  if (!method) {
    PyErr_Clear();
    PyErr_Format(PyExc_TypeError, "object of type '%S' does not define a '__bool__' conversion",
                 type);
    return false;
  }
  // A function found on the type is unbound: bind it to the scalar through
  // its descriptor slot, as attribute lookup on the instance would.
  auto get = reinterpret_cast<descrgetfunc>(PyType_GetSlot(Py_TYPE(method.get()), Py_tp_descr_get));
  if (get != nullptr) {
    method = Ref::steal(get(method.get(), object, type));
    if (!method) return false;
  }
  Ref result = Ref::steal(PyObject_CallNoArgs(method.get()));
  if (!result) return false;
  if (!PyBool_Check(result.get())) return cast_error(result.get(), reinterpret_cast<PyObject*>(&PyBool_Type));
  out = result.get() == Py_True;
  return true;
}

}  // namespace

bool extract_flag(PyObject* object, bool& out) noexcept {
  if (PyBool_Check(object)) {  // bool cannot be subclassed: this is exact
    out = object == Py_True;
    return true;
  }
  const InternedNames* names = interned_names();
  if (names == nullptr) return false;
  if (is_numpy_bool(object, *names)) return numpy_bool_value(object, *names, out);
  return cast_error(object, reinterpret_cast<PyObject*>(&PyBool_Type));
}

bool extract_text(PyObject* object, std::string& out) {
  if (!PyUnicode_Check(object)) return cast_error(object, reinterpret_cast<PyObject*>(&PyUnicode_Type));
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(object, &size);
  if (utf8 == nullptr) return false;
  out.assign(utf8, static_cast<std::size_t>(size));
  return true;
}

}  // namespace quorvel::py
