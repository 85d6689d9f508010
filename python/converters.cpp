#include "converters.hpp"

#include <algorithm>

#include "binding.hpp"
#include "buffers.hpp"
#include "process_values.hpp"
#include "recognise.hpp"

namespace quorvel::py {
namespace {

/// Upper bound on the room reserved from a size hint that the object could
/// have made up (`__len__` is arbitrary code). Exact lists and tuples report
/// the number of items they really hold, so their length is taken as it is.
constexpr Py_ssize_t kUntrustedHintCap = Py_ssize_t{1} << 16;

constexpr int kBufferFlags = PyBUF_STRIDES | PyBUF_FORMAT;

bool refuse_str() noexcept {
  PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
  return false;
}

bool refuse_non_sequence(PyObject* object) noexcept {
  PyObject* sequence = sequence_class();
  if (sequence == nullptr) return false;
  return cast_error(object, sequence);
}

/// True when the pending error is an ordinary Exception, which the caller
/// may treat as "no answer"; an interrupt (KeyboardInterrupt, SystemExit
/// and the like) must reach the caller instead.
bool ordinary_error() noexcept { return PyErr_ExceptionMatches(PyExc_Exception) != 0; }

/// The length of a sequence as a hint for the first reservation: 0 when
/// len() fails with an ordinary error, capped for anything but an exact list
/// or tuple. False when len() raised an interrupt.
bool size_hint(PyObject* object, Py_ssize_t& hint) noexcept {
  hint = PyObject_Size(object);
  if (hint < 0) {
    if (!ordinary_error()) return false;
    PyErr_Clear();
    hint = 0;
  }
  if (!PyList_CheckExact(object) && !PyTuple_CheckExact(object)) {
    hint = std::min(hint, kUntrustedHintCap);
  }
  return true;
}

enum class Read { Done, Failed, Other };

/// The numbers float() takes without running any Python code: floats (a
/// subclass's value is read directly, whatever its __float__ says), and
/// exact ints and bools.
inline Read read_plain(PyObject* item, double& out) noexcept {
  PyTypeObject* type = Py_TYPE(item);
  if (type == &PyFloat_Type) {
    out = PyFloat_AsDouble(item);
    return Read::Done;
  }
  if (type == &PyLong_Type) {
    out = PyLong_AsDouble(item);  // rounds to nearest; OverflowError past the doubles
    return out == -1.0 && PyErr_Occurred() ? Read::Failed : Read::Done;
  }
  if (type == &PyBool_Type) {
    out = item == Py_True ? 1.0 : 0.0;
    return Read::Done;
  }
  if (PyFloat_Check(item)) {
    out = PyFloat_AsDouble(item);
    return Read::Done;
  }
  return Read::Other;
}

/// Whether converting `object` may run Python code: it may when its class
/// was defined in Python (a heap type). The conversions of C-defined types,
/// numpy's scalars among them, are C code that allocates nothing the cycle
/// collector tracks.
bool may_run_python(PyObject* object) noexcept {
  return (PyType_GetFlags(Py_TYPE(object)) & Py_TPFLAGS_HEAPTYPE) != 0;
}

/// float() of anything else, which may run Python code. A reference is held
/// on the item meanwhile: the code may drop it from the list it came from.
bool read_other(PyObject* item, double& out, Conversion& conversion) {
  if (may_run_python(item)) conversion.before_python_code();
  Ref hold = Ref::borrow(item);
  const double value = PyFloat_AsDouble(item);
  if (value == -1.0 && PyErr_Occurred()) return false;  // a genuine -1.0 is fine
  out = value;
  return true;
}

template <bool IsList>
Py_ssize_t length_of(PyObject* sequence) noexcept {
  return IsList ? PyList_Size(sequence) : PyTuple_Size(sequence);
}

template <bool IsList>
PyObject* item_of(PyObject* sequence, Py_ssize_t i) noexcept {
  return IsList ? PyList_GetItem(sequence, i) : PyTuple_GetItem(sequence, i);
}

/// Appends the items of an exact list or tuple to `out`. The items are
/// borrowed, which is safe while no Python code runs; after an item that ran
/// code the length is read again, since that code may have resized the
/// list. This is the walk of the list iterator: by index, while the index is
/// below the current length.
template <bool IsList>
bool append_items(PyObject* sequence, Doubles& out, Conversion& conversion) {
  const std::size_t base = out.size();
  Py_ssize_t n = length_of<IsList>(sequence);
  out.resize(base + static_cast<std::size_t>(n));
  double* values = out.data() + base;
  Py_ssize_t i = 0;
  for (; i < n; ++i) {
    PyObject* item = item_of<IsList>(sequence, i);
    const Read read = read_plain(item, values[i]);
    if (read == Read::Done) continue;
    if (read == Read::Failed) return false;
    double value = 0.0;
    if (!read_other(item, value, conversion)) return false;
    n = length_of<IsList>(sequence);
    if (out.size() < base + static_cast<std::size_t>(n)) out.resize(base + static_cast<std::size_t>(n));
    values = out.data() + base;
    values[i] = value;
  }
  out.resize(base + static_cast<std::size_t>(i));
  return true;
}

/// Appends every item that iterating `object` yields.
bool append_iterated(PyObject* object, Doubles& out, Conversion& conversion) {
  conversion.before_python_code();
  Ref iterator = Ref::steal(PyObject_GetIter(object));
  if (!iterator) return false;
  while (Ref item = Ref::steal(PyIter_Next(iterator.get()))) {
    double value = 0.0;
    const Read read = read_plain(item.get(), value);
    if (read == Read::Failed) return false;
    if (read == Read::Other && !read_other(item.get(), value, conversion)) return false;
    out.push_back(value);
  }
  return !PyErr_Occurred();
}

enum class Taken { Yes, No, Failed };

/// Takes the buffer of `exporter`. numpy and array.array refuse only what
/// they cannot describe (object arrays, say), which is then iterated; a
/// memoryview refuses when it has been released, and that error is the
/// caller's (iterating a released view may read freed memory).
Taken acquire(HeldBuffer& buffer, PyObject* exporter) noexcept {
  if (buffer.acquire(exporter, kBufferFlags)) return Taken::Yes;
  if (Py_TYPE(exporter) == &PyMemoryView_Type) return Taken::Failed;
  PyErr_Clear();
  return Taken::No;
}

/// Reads a 1-D numeric buffer. Contiguous native doubles are read in place
/// when `in_place` is given (the buffer then stays held by it); everything
/// else is widened onto the end of `out`. No when the object exports no
/// such buffer: it is then iterated like any sequence.
Taken read_vector_buffer(PyObject* exporter, Doubles& out, VectorArg* in_place,
                         Conversion& conversion) {
  HeldBuffer local;
  HeldBuffer& buffer = in_place != nullptr ? in_place->buffer() : local;
  if (const Taken taken = acquire(buffer, exporter); taken != Taken::Yes) return taken;
  NumericBuffer layout;
  if (!describe(buffer.get(), layout) || layout.ndim != 1) {
    buffer.release();
    return Taken::No;
  }
  const Py_ssize_t n = layout.shape[0];
  if (in_place != nullptr && layout.doubles_in_place() &&
      (n <= 1 || layout.strides[0] == static_cast<Py_ssize_t>(sizeof(double)))) {
    in_place->read_in_place({reinterpret_cast<const double*>(layout.base), static_cast<std::size_t>(n)},
                            conversion);
    return Taken::Yes;
  }
  const std::size_t base = out.size();
  out.resize(base + static_cast<std::size_t>(n));
  widen(layout, layout.base, n, layout.strides[0], out.data() + base);
  buffer.release();
  return Taken::Yes;
}

/// The NumPy array behind an exact pandas Series of a NumPy dtype
/// (`.values`), or null when it has none (an extension dtype such as
/// nullable floats, whose iteration may yield pd.NA). Null with an error
/// set when looking raised an interrupt.
Ref series_values(PyObject* series, Conversion& conversion, bool& failed) {
  failed = false;
  conversion.before_python_code();
  const InternedNames* names = interned_names();
  if (names == nullptr) {
    failed = true;
    return {};
  }
  Ref values = Ref::steal(PyObject_GetAttr(series, names->values));
  if (!values) {
    if (!ordinary_error()) {
      failed = true;
      return {};
    }
    PyErr_Clear();
    return {};
  }
  const ArrayKind kind = recognise(values.get(), conversion);
  if (kind == ArrayKind::Failed) {
    failed = true;
    return {};
  }
  return kind == ArrayKind::NdArray ? std::move(values) : Ref();
}

/// Appends the values of one vector to `out`, or reads them in place into
/// `in_place` when it is given and the object allows it.
bool read_vector(PyObject* object, Doubles& out, VectorArg* in_place,
                 Conversion& conversion) {
  if (PyList_CheckExact(object)) return append_items<true>(object, out, conversion);
  if (PyTuple_CheckExact(object)) return append_items<false>(object, out, conversion);
  if (PyUnicode_Check(object)) return refuse_str();
  switch (recognise(object, conversion)) {
    case ArrayKind::NdArray:
    case ArrayKind::Array:
    case ArrayKind::MemoryView:
      switch (read_vector_buffer(object, out, in_place, conversion)) {
        case Taken::Yes: return true;
        case Taken::Failed: return false;
        case Taken::No: break;
      }
      break;
    case ArrayKind::Series: {
      bool failed = false;
      Ref values = series_values(object, conversion, failed);
      if (failed) return false;
      if (values && read_vector_buffer(values.get(), out, in_place, conversion) == Taken::Yes) {
        return true;
      }
      break;
    }
    case ArrayKind::DataFrame:
      // Iterating a DataFrame yields its column labels, never its numbers.
      PyErr_SetString(PyExc_TypeError,
                      "Can't extract `DataFrame` to `Vec`: pass one column or row (a Series)");
      return false;
    case ArrayKind::Failed:
      return false;
    case ArrayKind::Other:
      break;
  }
  if (!PySequence_Check(object)) return refuse_non_sequence(object);
  conversion.before_python_code();  // __len__ and __iter__ may be Python code
  Py_ssize_t hint = 0;
  if (!size_hint(object, hint)) return false;
  out.reserve(out.size() + static_cast<std::size_t>(hint));
  return append_iterated(object, out, conversion);
}

/// The rows of a matrix, gathered into one block row after row.
class RowBlock {
 public:
  RowBlock(Doubles& block, Py_ssize_t expected_rows)
      : block_(block), expected_rows_(expected_rows) {}

  bool add(PyObject* row, Conversion& conversion) {
    const std::size_t before = block_.size();
    if (!read_vector(row, block_, nullptr, conversion)) return false;
    const std::size_t length = block_.size() - before;
    if (rows_ == 0) {
      cols_ = length;
      if (expected_rows_ > 1 && cols_ > 0) {
        block_.reserve(static_cast<std::size_t>(expected_rows_) * cols_);
      }
    } else if (length != cols_) {
      ragged_ = true;
    }
    // A ragged matrix is refused once every row is converted; its values
    // are never used, so they are not kept.
    if (ragged_) block_.clear();
    ++rows_;
    return true;
  }

  void finish(MatrixArg& out) noexcept { out.own(rows_, cols_, ragged_); }

 private:
  Doubles& block_;
  Py_ssize_t expected_rows_;
  std::size_t rows_ = 0;
  std::size_t cols_ = 0;
  bool ragged_ = false;
};

template <bool IsList>
bool read_rows(PyObject* outer, MatrixArg& out, Conversion& conversion) {
  const Py_ssize_t count = length_of<IsList>(outer);
  RowBlock rows(out.storage(), count);
  // Rows that are exact lists or tuples tell their length up front: room
  // for the whole block at once, not first for one row and then for all.
  if (count > 1) {
    PyObject* first = item_of<IsList>(outer, 0);
    if (PyList_CheckExact(first) || PyTuple_CheckExact(first)) {
      out.storage().reserve(static_cast<std::size_t>(count) *
                            static_cast<std::size_t>(PySequence_Size(first)));
    }
  }
  // The length is read afresh for every row: converting a row may run code
  // that changes the outer list.
  for (Py_ssize_t i = 0; i < length_of<IsList>(outer); ++i) {
    Ref row = Ref::borrow(item_of<IsList>(outer, i));
    if (!rows.add(row.get(), conversion)) return false;
  }
  rows.finish(out);
  return true;
}

bool read_iterated_rows(PyObject* outer, MatrixArg& out, Conversion& conversion) {
  if (!PySequence_Check(outer)) return refuse_non_sequence(outer);
  conversion.before_python_code();
  Py_ssize_t hint = 0;
  if (!size_hint(outer, hint)) return false;
  RowBlock rows(out.storage(), hint);
  Ref iterator = Ref::steal(PyObject_GetIter(outer));
  if (!iterator) return false;
  while (Ref row = Ref::steal(PyIter_Next(iterator.get()))) {
    if (!rows.add(row.get(), conversion)) return false;
  }
  if (PyErr_Occurred()) return false;
  rows.finish(out);
  return true;
}

/// Reads a 2-D numeric buffer: native doubles in place at any strides,
/// anything else widened into a dense block.
Taken read_matrix_buffer(PyObject* exporter, MatrixArg& out, Conversion& conversion) {
  HeldBuffer& buffer = out.buffer();
  if (const Taken taken = acquire(buffer, exporter); taken != Taken::Yes) return taken;
  NumericBuffer layout;
  if (!describe(buffer.get(), layout) || layout.ndim != 2) {
    buffer.release();
    return Taken::No;
  }
  const auto rows = static_cast<std::size_t>(layout.shape[0]);
  const auto cols = static_cast<std::size_t>(layout.shape[1]);
  if (layout.doubles_in_place()) {
    constexpr auto kDouble = static_cast<Py_ssize_t>(sizeof(double));
    out.read_in_place({reinterpret_cast<const double*>(layout.base), rows, cols,
                       layout.strides[0] / kDouble, layout.strides[1] / kDouble, false},
                      conversion);
    return Taken::Yes;
  }
  Doubles& block = out.storage();
  block.resize(rows * cols);
  for (std::size_t i = 0; i < rows; ++i) {
    widen(layout, layout.base + static_cast<Py_ssize_t>(i) * layout.strides[0],
          static_cast<Py_ssize_t>(cols), layout.strides[1], block.data() + i * cols);
  }
  buffer.release();
  out.own(rows, cols, false);
  return Taken::Yes;
}

/// A DataFrame is read by its values, as `to_numpy()` gives them.
bool read_dataframe(PyObject* frame, MatrixArg& out, Conversion& conversion) {
  conversion.before_python_code();
  const InternedNames* names = interned_names();
  if (names == nullptr) return false;
  Ref method = Ref::steal(PyObject_GetAttr(frame, names->to_numpy));
  Ref values = method ? Ref::steal(PyObject_CallNoArgs(method.get())) : Ref();
  if (!values) return false;
  const ArrayKind kind = recognise(values.get(), conversion);
  if (kind == ArrayKind::Failed) return false;
  if (kind == ArrayKind::NdArray && read_matrix_buffer(values.get(), out, conversion) == Taken::Yes) {
    return true;
  }
  Ref dtype = Ref::steal(PyObject_GetAttr(values.get(), names->dtype));
  Ref text = dtype ? Ref::steal(PyObject_Str(dtype.get())) : Ref();
  if (!text) {
    if (!ordinary_error()) return false;
    PyErr_Clear();
    PyErr_SetString(PyExc_TypeError, "DataFrame values must be real numbers");
    return false;
  }
  PyErr_Format(PyExc_TypeError, "DataFrame values must be real numbers, not dtype '%U'",
               text.get());
  return false;
}

}  // namespace

bool extract_float_vector(PyObject* object, VectorArg& out, Conversion& conversion) {
  Doubles& values = out.storage();
  values.clear();
  if (!read_vector(object, values, &out, conversion)) return false;
  if (!out.buffer().held()) out.own();
  return true;
}

bool extract_float_matrix(PyObject* object, MatrixArg& out, Conversion& conversion) {
  out.storage().clear();
  if (PyList_CheckExact(object)) return read_rows<true>(object, out, conversion);
  if (PyTuple_CheckExact(object)) return read_rows<false>(object, out, conversion);
  if (PyUnicode_Check(object)) return refuse_str();
  switch (recognise(object, conversion)) {
    case ArrayKind::NdArray:
    case ArrayKind::MemoryView:
      switch (read_matrix_buffer(object, out, conversion)) {
        case Taken::Yes: return true;
        case Taken::Failed: return false;
        case Taken::No: break;
      }
      break;
    case ArrayKind::DataFrame:
      return read_dataframe(object, out, conversion);
    case ArrayKind::Failed:
      return false;
    case ArrayKind::Array:
    case ArrayKind::Series:
    case ArrayKind::Other:
      break;
  }
  return read_iterated_rows(object, out, conversion);
}

bool extract_count(PyObject* object, std::uint64_t& out, Conversion& conversion) {
  Ref index;
  PyObject* number = object;
  if (!PyLong_Check(object)) {
    if (may_run_python(object)) conversion.before_python_code();  // __index__
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

bool extract_float(PyObject* object, double& out, Conversion& conversion) {
  switch (read_plain(object, out)) {
    case Read::Done:
      return true;
    case Read::Failed:
      return false;
    case Read::Other:
      break;
  }
  return read_other(object, out, conversion);
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

bool extract_flag(PyObject* object, bool& out, Conversion& conversion) {
  if (PyBool_Check(object)) {  // bool cannot be subclassed: this is exact
    out = object == Py_True;
    return true;
  }
  // numpy's scalar types are defined in C; a class defined in Python may run
  // code while its module or __bool__ is looked up.
  if (may_run_python(object)) conversion.before_python_code();
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
