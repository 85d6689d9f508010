#include "sequences.hpp"

#include <algorithm>

#include "errors.hpp"
#include "process_values.hpp"
#include "python_code.hpp"
#include "scalars.hpp"
#include "conversion_rules.hpp"  // last: see there

namespace quorvel::py {
namespace {

/// Upper bound on the room reserved from a size hint that the object could
/// have made up (`__len__` is arbitrary code). Exact lists and tuples report
/// the number of items they really hold, so their length is taken as it is.
constexpr Py_ssize_t kUntrustedHintCap = Py_ssize_t{1} << 16;

bool refuse_non_sequence(PyObject* object) noexcept {
  PyObject* sequence = sequence_class();
  if (sequence == nullptr) return false;
  return cast_error(object, sequence);
}

/// The length of a sequence as a hint for the first reservation, capped for
/// anything but an exact list or tuple. False when len() raised an interrupt.
bool size_hint(PyObject* object, Py_ssize_t& hint, Conversion& conversion) {
  if (!PythonCode::length_hint(conversion, object, hint)) return false;
  if (!PyList_CheckExact(object) && !PyTuple_CheckExact(object)) {
    hint = std::min(hint, kUntrustedHintCap);
  }
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

/// The items are borrowed, which is safe while no Python code runs; after
/// an item that ran code the length is read again, since that code may have
/// resized the list. This is the walk of the list iterator: by index, while
/// the index is below the current length.
template <bool IsList>
bool append_indexed(PyObject* sequence, Doubles& out, Conversion& conversion) {
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
    if (!PythonCode::float_of(conversion, item, value)) return false;
    n = length_of<IsList>(sequence);
    if (out.size() < base + static_cast<std::size_t>(n)) out.resize(base + static_cast<std::size_t>(n));
    values = out.data() + base;
    values[i] = value;
  }
  out.resize(base + static_cast<std::size_t>(i));
  return true;
}

/// The rows of a matrix, gathered into one block row after row.
class RowBlock {
 public:
  RowBlock(Doubles& block, Py_ssize_t expected_rows)
      : block_(block), expected_rows_(expected_rows) {}

  bool add(PyObject* row, RowReader read_row, Conversion& conversion) {
    const std::size_t before = block_.size();
    // Rows that are lists or tuples, the usual case, are read here directly.
    const bool read = PyList_CheckExact(row)    ? append_indexed<true>(row, block_, conversion)
                      : PyTuple_CheckExact(row) ? append_indexed<false>(row, block_, conversion)
                                                : read_row(row, block_, conversion);
    if (!read) return false;
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
bool read_indexed_rows(PyObject* outer, MatrixArg& out, RowReader read_row,
                       Conversion& conversion) {
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
    if (!rows.add(row.get(), read_row, conversion)) return false;
  }
  rows.finish(out);
  return true;
}

bool read_iterated_rows(PyObject* outer, MatrixArg& out, RowReader read_row,
                        Conversion& conversion) {
  if (!PySequence_Check(outer)) return refuse_non_sequence(outer);
  Py_ssize_t hint = 0;
  if (!size_hint(outer, hint, conversion)) return false;
  RowBlock rows(out.storage(), hint);
  Ref iterator = PythonCode::iterator(conversion, outer);
  if (!iterator) return false;
  while (Ref row = PythonCode::next(conversion, iterator.get())) {
    if (!rows.add(row.get(), read_row, conversion)) return false;
  }
  if (PyErr_Occurred()) return false;
  rows.finish(out);
  return true;
}

}  // namespace

bool refuse_str() noexcept {
  PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
  return false;
}

bool append_items(PyObject* sequence, Doubles& out, Conversion& conversion) {
  if (PyList_CheckExact(sequence)) return append_indexed<true>(sequence, out, conversion);
  return append_indexed<false>(sequence, out, conversion);
}

bool append_iterated(PyObject* object, Doubles& out, Conversion& conversion) {
  if (!PySequence_Check(object)) return refuse_non_sequence(object);
  Py_ssize_t hint = 0;
  if (!size_hint(object, hint, conversion)) return false;
  out.reserve(out.size() + static_cast<std::size_t>(hint));
  Ref iterator = PythonCode::iterator(conversion, object);
  if (!iterator) return false;
  while (Ref item = PythonCode::next(conversion, iterator.get())) {
    double value = 0.0;
    if (!read_number(item.get(), value, conversion)) return false;
    out.push_back(value);
  }
  return !PyErr_Occurred();
}

bool read_rows(PyObject* outer, MatrixArg& out, RowReader read_row, Conversion& conversion) {
  out.storage().clear();
  if (PyList_CheckExact(outer)) return read_indexed_rows<true>(outer, out, read_row, conversion);
  if (PyTuple_CheckExact(outer)) return read_indexed_rows<false>(outer, out, read_row, conversion);
  return read_iterated_rows(outer, out, read_row, conversion);
}

}  // namespace quorvel::py
