#include "reader.hpp"

#include <algorithm>
#include <cstring>

#include "buffers.hpp"
#include "errors.hpp"
#include "inert.hpp"
#include "pandas.hpp"
#include "process_values.hpp"
#include "python_code.hpp"
#include "recognise.hpp"
#include "conversion_rules.hpp"  // last: see there

namespace quorvel::py {
namespace {

// ---------------------------------------------------------------------------
// Sequences walked by index.

/// Holds a list still while plain items are read from it: in a free-threaded
/// build, the list's own critical section, so that no other thread can
/// change it (or free an item) meanwhile; with the interpreter lock nothing
/// else runs anyway. Never held while Python code runs.
class Still {
 public:
#ifdef Py_GIL_DISABLED
  explicit Still(PyObject* sequence) noexcept : locked_(PyList_CheckExact(sequence)) {
    if (locked_) PyCriticalSection_Begin(&section_, sequence);
  }
  ~Still() {
    if (locked_) PyCriticalSection_End(&section_);
  }

 private:
  PyCriticalSection section_;
  bool locked_;
#else
  explicit Still(PyObject*) noexcept {}
#endif
 public:
  Still(const Still&) = delete;
  Still& operator=(const Still&) = delete;
};

template <bool IsList>
Py_ssize_t length_of(PyObject* sequence) noexcept {
  return IsList ? PyList_Size(sequence) : PyTuple_Size(sequence);
}

/// Item i, borrowed: only while nothing can change the sequence (a tuple, or
/// a list held Still).
template <bool IsList>
PyObject* item_of(PyObject* sequence, Py_ssize_t i) noexcept {
  return IsList ? PyList_GetItem(sequence, i) : PyTuple_GetItem(sequence, i);
}

/// Item i with a reference of our own, or null (no exception) past the end.
template <bool IsList>
Ref item_ref(PyObject* sequence, Py_ssize_t i) noexcept {
#ifdef Py_GIL_DISABLED
  if constexpr (IsList) {
    Ref item = Ref::steal(PyList_GetItemRef(sequence, i));
    if (!item) PyErr_Clear();
    return item;
  }
#endif
  if (i >= length_of<IsList>(sequence)) return {};
  return Ref::borrow(item_of<IsList>(sequence, i));
}

/// Appends the numbers of an exact list or tuple, walked as the list
/// iterator walks it: by index, while the index is below the current length.
/// Plain items are read where they are; any other item is held and converted
/// (read_number), after which the length is read again, since the code that
/// ran may have resized the list.
template <bool IsList>
bool append_indexed(PyObject* sequence, Doubles& out, Conversion& c) {
  const std::size_t base = out.size();
  Py_ssize_t i = 0;
  for (;;) {
    Ref other;
    {
      Still still(sequence);
      const Py_ssize_t n = length_of<IsList>(sequence);
      if (out.size() < base + static_cast<std::size_t>(n)) out.resize(base + static_cast<std::size_t>(n));
      double* const values = out.data() + base;
      for (; i < n; ++i) {
        PyObject* item = item_of<IsList>(sequence, i);
        const Read read = read_plain(item, values[i]);
        if (read == Read::Done) continue;
        if (read == Read::Failed) return false;
        other = Ref::borrow(item);
        break;
      }
      if (!other) {
        out.resize(base + static_cast<std::size_t>(i));
        return true;
      }
    }
    double value = 0.0;
    if (!read_number(other.get(), value, c)) return false;
    const Py_ssize_t n = length_of<IsList>(sequence);
    if (out.size() < base + static_cast<std::size_t>(n)) out.resize(base + static_cast<std::size_t>(n));
    out[base + static_cast<std::size_t>(i)] = value;
    ++i;
  }
}

// ---------------------------------------------------------------------------
// Anything else that is a sequence: iterated through the gate.

/// Upper bound on the room reserved from a size hint that the object could
/// have made up (`__len__` is arbitrary code).
constexpr Py_ssize_t kUntrustedHintCap = Py_ssize_t{1} << 16;

bool refuse_non_sequence(PyObject* object) noexcept {
  PyObject* sequence = sequence_class();
  if (sequence == nullptr) return false;
  return cast_error(object, sequence);
}

bool refuse_str() noexcept {
  PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
  return false;
}

/// Appends every number iterating `object` yields, after refusing anything
/// that is not a sequence (with the cast error naming Sequence).
bool append_iterated(PyObject* object, Doubles& out, Conversion& c) {
  if (!PySequence_Check(object)) return refuse_non_sequence(object);
  Py_ssize_t hint = 0;
  if (!PythonCode::length_hint(c, object, hint)) return false;
  out.reserve(out.size() + static_cast<std::size_t>(std::min(hint, kUntrustedHintCap)));
  Ref iterator = PythonCode::iterator(c, object);
  if (!iterator) return false;
  while (Ref item = PythonCode::next(c, iterator.get())) {
    double value = 0.0;
    if (!read_number(item.get(), value, c)) return false;
    out.push_back(value);
  }
  return !PyErr_Occurred();
}

// ---------------------------------------------------------------------------
// Numeric buffers.

enum class Taken {
  Yes,     ///< read
  No,      ///< not a buffer of numbers: iterate the object instead
  Failed,  ///< refused, with the exception set
};

Exporter exporter_of(ArrayKind kind) noexcept {
  switch (kind) {
    case ArrayKind::NumpyMatrix: return Exporter::NumpyMatrix;
    case ArrayKind::Array: return Exporter::Array;
    case ArrayKind::MemoryView: return Exporter::MemoryView;
    case ArrayKind::NumpyScalar: return Exporter::Scalar;
    default: return Exporter::NdArray;
  }
}

bool is_exporter(ArrayKind kind) noexcept {
  return kind == ArrayKind::NdArray || kind == ArrayKind::NumpyMatrix || kind == ArrayKind::Array ||
         kind == ArrayKind::MemoryView;
}

/// What a complex buffer gets: a TypeError naming its dtype, or No (the
/// caller words its own refusal).
enum class ComplexBuffer { Refused, Passed };

/// Takes the buffer of `exporter` and checks that it holds real numbers in
/// `ndim` dimensions. numpy and array.array refuse only what they cannot
/// describe (object arrays, say), which is then iterated; a memoryview
/// refuses when it has been released, and that error is the caller's
/// (iterating a released view may read freed memory).
Taken take(HeldBuffer& buffer, PyObject* exporter, ArrayKind kind, int ndim, NumericBuffer& layout,
           Conversion& c, ComplexBuffer complex = ComplexBuffer::Refused) {
  const bool acquired = inert_exporter(kind) ? acquire_inert(buffer, exporter)
                                             : PythonCode::buffer_of(c, exporter, buffer, kBufferFlags);
  if (!acquired) {
    if (kind == ArrayKind::MemoryView || !clear_if_ordinary()) return Taken::Failed;
    return Taken::No;
  }
  layout = describe(buffer.get());
  Taken taken = Taken::Yes;
  if (layout.content == Content::Complex) {
    taken = complex == ComplexBuffer::Refused && !refuse_complex(layout, exporter_of(kind)) ? Taken::Failed
                                                                                            : Taken::No;
  } else if (layout.content == Content::Other) {
    taken = Taken::No;
  } else if (layout.ndim != ndim) {
    refuse_dimensions(ndim, layout, exporter_of(kind));
    taken = Taken::Failed;
  }
  if (taken != Taken::Yes) buffer.release();
  return taken;
}

/// A 1-D numeric buffer onto the end of `out`, or in place into `arg` (when
/// given) for contiguous native doubles, which then holds the buffer.
Taken vector_buffer(PyObject* exporter, ArrayKind kind, Doubles& out, VectorArg* arg, Conversion& c) {
  HeldBuffer local;
  HeldBuffer& buffer = arg != nullptr ? arg->buffer() : local;
  NumericBuffer layout;
  if (const Taken taken = take(buffer, exporter, kind, 1, layout, c); taken != Taken::Yes) return taken;
  const Py_ssize_t n = layout.shape[0];
  if (arg != nullptr && layout.doubles_in_place() &&
      (n <= 1 || layout.strides[0] == static_cast<Py_ssize_t>(sizeof(double)))) {
    arg->read_in_place({reinterpret_cast<const double*>(layout.base), static_cast<std::size_t>(n)}, c);
    return Taken::Yes;
  }
  const std::size_t base = out.size();
  out.resize(base + static_cast<std::size_t>(n));
  c.settle();
  widen(layout, layout.base, n, layout.strides[0], out.data() + base);
  buffer.release();
  return Taken::Yes;
}

/// A 2-D numeric buffer: native doubles in place at any strides, anything
/// else widened into a dense block.
Taken matrix_buffer(PyObject* exporter, ArrayKind kind, MatrixArg& out, Conversion& c,
                    ComplexBuffer complex = ComplexBuffer::Refused) {
  HeldBuffer& buffer = out.buffer();
  NumericBuffer layout;
  if (const Taken taken = take(buffer, exporter, kind, 2, layout, c, complex); taken != Taken::Yes) {
    return taken;
  }
  const auto rows = static_cast<std::size_t>(layout.shape[0]);
  const auto cols = static_cast<std::size_t>(layout.shape[1]);
  if (layout.doubles_in_place()) {
    constexpr auto kDouble = static_cast<Py_ssize_t>(sizeof(double));
    out.read_in_place({reinterpret_cast<const double*>(layout.base), rows, cols,
                       layout.strides[0] / kDouble, layout.strides[1] / kDouble, false},
                      c);
    return Taken::Yes;
  }
  Doubles& block = out.storage();
  block.resize(rows * cols);
  c.settle();
  for (std::size_t i = 0; i < rows; ++i) {
    widen(layout, layout.base + static_cast<Py_ssize_t>(i) * layout.strides[0],
          static_cast<Py_ssize_t>(cols), layout.strides[1], block.data() + i * cols);
  }
  buffer.release();
  out.own(rows, cols, false);
  return Taken::Yes;
}

/// The one element of a 0-d numeric buffer (a numpy scalar or 0-d array),
/// described in `layout` and held in `buffer`: Done for a real number,
/// Failed for a complex one (refused, with the TypeError set), Other for
/// anything else (converted through the gate instead).
Read scalar_buffer(PyObject* object, NumericBuffer& layout, HeldBuffer& buffer) {
  if (!acquire_inert(buffer, object)) {
    PyErr_Clear();  // numpy's own export: only an ordinary refusal
    return Read::Other;
  }
  layout = describe(buffer.get());
  if (layout.ndim != 0 || layout.content == Content::Other) return Read::Other;
  if (layout.content == Content::Complex) {
    refuse_complex(layout, Exporter::Scalar);
    return Read::Failed;
  }
  return Read::Done;
}

// ---------------------------------------------------------------------------
// Vectors and matrices by kind.

/// Appends the numbers of one vector to `out`; `arg` is the argument being
/// filled when `object` is a whole vector argument (its numbers may then be
/// read in place, and its labels remembered), null for a row of a matrix.
bool read_into(PyObject* object, Doubles& out, VectorArg* arg, Conversion& c) {
  const ArrayKind kind = recognise(object, c);
  switch (kind) {
    case ArrayKind::List:
      return append_indexed<true>(object, out, c);
    case ArrayKind::Tuple:
      return append_indexed<false>(object, out, c);
    case ArrayKind::Str:
      return refuse_str();
    case ArrayKind::NdArray:
    case ArrayKind::NumpyMatrix:
    case ArrayKind::Array:
    case ArrayKind::MemoryView:
      if (const Taken taken = vector_buffer(object, kind, out, arg, c); taken != Taken::No) {
        return taken == Taken::Yes;
      }
      return append_iterated(object, out, c);
    case ArrayKind::Series: {
      if (arg != nullptr) c.labelled_vector(object);
      const Ref values = series_values(object, c);
      if (values) return read_into(values.get(), out, arg, c);  // a numpy array
      if (PyErr_Occurred()) return false;
      return append_iterated(object, out, c);
    }
    case ArrayKind::DataFrame:
      // Iterating a DataFrame yields its column labels, never its numbers.
      PyErr_SetString(PyExc_TypeError,
                      "Can't extract `DataFrame` to `Vec`: pass one column or row (a Series)");
      return false;
    case ArrayKind::Failed:
      return false;
    case ArrayKind::NumpyScalar:
    case ArrayKind::RangeIndex:
    case ArrayKind::Other:
      break;
  }
  return append_iterated(object, out, c);
}

/// The rows of a matrix, gathered into one block row after row, each read
/// as a vector.
class RowBlock {
 public:
  explicit RowBlock(Doubles& block) : block_(block) {}

  bool add(PyObject* row, Conversion& c) {
    const std::size_t before = block_.size();
    if (!read_into(row, block_, nullptr, c)) return false;
    const std::size_t length = block_.size() - before;
    if (rows_ == 0) {
      cols_ = length;
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
  std::size_t rows_ = 0;
  std::size_t cols_ = 0;
  bool ragged_ = false;
};

/// Up to this many doubles are reserved for a list of rows on the word of
/// its first row alone: a ragged matrix wastes at most this much.
constexpr std::size_t kTrustedBlock = std::size_t{1} << 16;

/// Room for every row of an exact list or tuple of rows: rows times the
/// length of the first row when that is small; otherwise the lengths of the
/// rows that are themselves lists or tuples, added up, as long as they
/// agree (a ragged matrix keeps no values, so it needs no room).
template <bool IsList>
void reserve_rows(PyObject* outer, Doubles& block) {
  std::size_t total = 0;
  {
    Still still(outer);
    const Py_ssize_t count = length_of<IsList>(outer);
    if (count == 0) return;
    Py_ssize_t first = -1;
    for (Py_ssize_t i = 0; i < count; ++i) {
      PyObject* row = item_of<IsList>(outer, i);
      Py_ssize_t length = 0;
      if (PyList_CheckExact(row)) {
        length = PyList_Size(row);
      } else if (PyTuple_CheckExact(row)) {
        length = PyTuple_Size(row);
      } else {
        break;  // rows of other kinds grow the block as they come
      }
      if (first < 0) {
        first = length;
        const auto whole = static_cast<std::size_t>(count) * static_cast<std::size_t>(length);
        if (whole <= kTrustedBlock) {
          total = whole;
          break;
        }
      }
      if (length != first) return;
      total += static_cast<std::size_t>(length);
    }
  }
  block.reserve(total);
}

template <bool IsList>
bool read_indexed_rows(PyObject* outer, MatrixArg& out, Conversion& c) {
  reserve_rows<IsList>(outer, out.storage());
  RowBlock rows(out.storage());
  // The length is read afresh for every row: converting a row may run code
  // that changes the outer list.
  for (Py_ssize_t i = 0;; ++i) {
    const Ref row = item_ref<IsList>(outer, i);
    if (!row) break;
    if (!rows.add(row.get(), c)) return false;
  }
  rows.finish(out);
  return true;
}

bool read_iterated_rows(PyObject* outer, MatrixArg& out, Conversion& c) {
  if (!PySequence_Check(outer)) return refuse_non_sequence(outer);
  Py_ssize_t hint = 0;  // only an interrupt from len() matters here
  if (!PythonCode::length_hint(c, outer, hint)) return false;
  RowBlock rows(out.storage());
  Ref iterator = PythonCode::iterator(c, outer);
  if (!iterator) return false;
  while (Ref row = PythonCode::next(c, iterator.get())) {
    if (!rows.add(row.get(), c)) return false;
  }
  if (PyErr_Occurred()) return false;
  rows.finish(out);
  return true;
}

/// A DataFrame by its values, after its labels were compared.
bool read_frame(PyObject* frame, MatrixArg& out, Conversion& c) {
  if (!compare_labels(frame, c)) return false;
  const Ref values = frame_values(frame, c);
  if (!values) return false;
  const ArrayKind kind = recognise(values.get(), c);
  if (kind == ArrayKind::Failed) return false;
  if (kind == ArrayKind::NdArray) {
    const Taken taken = matrix_buffer(values.get(), kind, out, c, ComplexBuffer::Passed);
    if (taken != Taken::No) return taken == Taken::Yes;
  }
  const Ref doubles = frame_values_by_value(frame, values.get(), c);
  if (!doubles) return false;
  const Taken taken = matrix_buffer(doubles.get(), ArrayKind::NdArray, out, c);
  if (taken != Taken::No) return taken == Taken::Yes;
  return raise(PyExc_TypeError, "DataFrame values must be real numbers");
}

/// The value of one integer element of a buffer, exactly.
bool integer_element(const NumericBuffer& layout, Ref& out) {
  unsigned char bytes[8] = {};
  const auto size = static_cast<std::size_t>(layout.itemsize);
  if (size > sizeof bytes) return false;
  std::memcpy(bytes, layout.base, size);
  if (layout.swap) std::reverse(bytes, bytes + size);
  auto load = [&](auto value) {
    std::memcpy(&value, bytes, sizeof value);
    return value;
  };
  using kernels::Element;
  switch (layout.element) {
    case Element::Int8: out = Ref::steal(PyLong_FromLong(load(std::int8_t{}))); break;
    case Element::Int16: out = Ref::steal(PyLong_FromLong(load(std::int16_t{}))); break;
    case Element::Int32: out = Ref::steal(PyLong_FromLong(load(std::int32_t{}))); break;
    case Element::Int64: out = Ref::steal(PyLong_FromLongLong(load(std::int64_t{}))); break;
    case Element::UInt8: out = Ref::steal(PyLong_FromUnsignedLong(load(std::uint8_t{}))); break;
    case Element::UInt16: out = Ref::steal(PyLong_FromUnsignedLong(load(std::uint16_t{}))); break;
    case Element::UInt32: out = Ref::steal(PyLong_FromUnsignedLong(load(std::uint32_t{}))); break;
    case Element::UInt64: out = Ref::steal(PyLong_FromUnsignedLongLong(load(std::uint64_t{}))); break;
    default: return false;  // floats and bools have no __index__
  }
  return true;
}

/// The int behind `object`: itself, a numpy integer scalar's value, or what
/// operator.index() gives.
Ref as_int(PyObject* object, Conversion& c) {
  if (PyLong_Check(object)) return Ref::borrow(object);  // its digits are read, nothing is called
  const ArrayKind kind = recognise_number(object, c);
  if (kind == ArrayKind::Failed) return {};
  if (kind == ArrayKind::NumpyScalar) {
    HeldBuffer buffer;
    NumericBuffer layout;
    if (scalar_buffer(object, layout, buffer) == Read::Done) {
      Ref value;
      if (integer_element(layout, value)) return value;
      if (PyErr_Occurred()) return {};
    }
    if (PyErr_Occurred()) PyErr_Clear();  // a complex scalar: index() says what it says
  }
  return PythonCode::index_of(c, object);
}

/// Whether `object` is a numpy boolean scalar, judged by its type's module
/// and name alone so that numpy need not be imported. Ordinary errors while
/// looking are cleared and mean "no"; an interrupt is left set.
bool is_numpy_bool(PyObject* object, const InternedNames& names, bool& yes, Conversion& c) {
  yes = false;
  PyTypeObject* type = Py_TYPE(object);
  const Ref module = plain_static_class(type) ? static_class_module(type, names.module)
                                              : PythonCode::class_attribute(c, type, names.module);
  if (!module) return clear_if_ordinary();
  if (!PyUnicode_Check(module.get()) || PyUnicode_CompareWithASCIIString(module.get(), "numpy") != 0) {
    return !PyErr_Occurred() || clear_if_ordinary();
  }
  const Ref name = Ref::steal(PyType_GetName(type));
  if (!name) return clear_if_ordinary();
  yes = PyUnicode_Check(name.get()) && (PyUnicode_CompareWithASCIIString(name.get(), "bool_") == 0 ||
                                        PyUnicode_CompareWithASCIIString(name.get(), "bool") == 0);
  return !PyErr_Occurred() || clear_if_ordinary();
}

/// Calls the type's __bool__ on a numpy boolean scalar; numpy's own reads
/// its one byte instead, which is what that method returns.
bool numpy_bool_value(PyObject* object, const InternedNames& names, bool& out, Conversion& c) {
  PyTypeObject* type = Py_TYPE(object);
  if (plain_static_class(type)) {
    HeldBuffer buffer;
    NumericBuffer layout;
    if (scalar_buffer(object, layout, buffer) == Read::Done &&
        layout.element == kernels::Element::Bool) {
      out = *layout.base != 0;
      return true;
    }
    if (PyErr_Occurred()) PyErr_Clear();
  }
  Ref method = PythonCode::class_attribute(c, type, names.bool_);
  if (!method) {
    if (!clear_if_ordinary()) return false;
    PyErr_Format(PyExc_TypeError, "object of type '%S' does not define a '__bool__' conversion",
                 reinterpret_cast<PyObject*>(type));
    return false;
  }
  // A function found on the type is unbound: bind it to the scalar, as
  // attribute lookup on the instance would.
  method = PythonCode::bind(c, method.get(), object);
  if (!method) return false;
  const Ref result = PythonCode::call_bound(c, method.get());
  if (!result) return false;
  if (!PyBool_Check(result.get())) {
    return cast_error(result.get(), reinterpret_cast<PyObject*>(&PyBool_Type));
  }
  out = result.get() == Py_True;
  return true;
}

}  // namespace

bool read_number(PyObject* object, double& out, Conversion& c) {
  switch (read_plain(object, out)) {
    case Read::Done:
      return true;
    case Read::Failed:
      return false;
    case Read::Other:
      break;
  }
  const ArrayKind kind = recognise_number(object, c);
  if (kind == ArrayKind::Failed) return false;
  if (kind == ArrayKind::NumpyScalar) {
    HeldBuffer buffer;
    NumericBuffer layout;
    switch (scalar_buffer(object, layout, buffer)) {
      case Read::Done:
        c.settle();
        widen(layout, layout.base, 1, 0, &out);
        return true;
      case Read::Failed:
        return false;
      case Read::Other:
        break;  // an object array, say: its own conversion runs Python code
    }
  }
  return PythonCode::float_of(c, object, out);
}

bool read_count(PyObject* object, std::uint64_t& out, Conversion& c) {
  const Ref number = as_int(object, c);
  if (!number) return false;
  // 2**64 - 1 is both a valid count and the failure marker.
  const unsigned long long value = PyLong_AsUnsignedLongLong(number.get());
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
  out = value;
  return true;
}

bool read_offset(PyObject* object, std::int64_t& out, Conversion& c) {
  const Ref number = as_int(object, c);
  if (!number) return false;
  const long long value = PyLong_AsLongLong(number.get());
  if (value == -1 && PyErr_Occurred()) return false;
  out = value;
  return true;
}

bool read_flag(PyObject* object, bool& out, Conversion& c) {
  if (PyBool_Check(object)) {  // bool cannot be subclassed: this is exact
    out = object == Py_True;
    return true;
  }
  const InternedNames* names = interned_names();
  if (names == nullptr) return false;
  bool numpy_bool = false;
  if (!is_numpy_bool(object, *names, numpy_bool, c)) return false;
  if (numpy_bool) return numpy_bool_value(object, *names, out, c);
  return cast_error(object, reinterpret_cast<PyObject*>(&PyBool_Type));
}

bool read_vector(PyObject* object, VectorArg& out, Conversion& c) {
  Doubles& values = out.storage();
  values.clear();
  if (!read_into(object, values, &out, c)) return false;
  if (!out.buffer().held()) out.own();
  return true;
}

bool read_matrix(PyObject* object, MatrixArg& out, Conversion& c) {
  out.storage().clear();
  const ArrayKind kind = recognise(object, c);
  switch (kind) {
    case ArrayKind::List:
      return read_indexed_rows<true>(object, out, c);
    case ArrayKind::Tuple:
      return read_indexed_rows<false>(object, out, c);
    case ArrayKind::Str:
      return refuse_str();
    case ArrayKind::DataFrame:
      return read_frame(object, out, c);
    case ArrayKind::Failed:
      return false;
    default:
      break;
  }
  if (is_exporter(kind)) {
    const Taken taken = matrix_buffer(object, kind, out, c);
    if (taken != Taken::No) return taken == Taken::Yes;
  }
  return read_iterated_rows(object, out, c);
}

}  // namespace quorvel::py
