#include "converters.hpp"

#include "buffers.hpp"
#include "pandas.hpp"
#include "recognise.hpp"
#include "sequences.hpp"
#include "conversion_rules.hpp"  // last: see there

namespace quorvel::py {
namespace {

/// The exporter a recognised object is, when it offers a buffer of numbers.
bool as_exporter(ArrayKind kind, Exporter& out) noexcept {
  switch (kind) {
    case ArrayKind::NdArray: out = Exporter::NdArray; return true;
    case ArrayKind::NumpyMatrix: out = Exporter::NumpyMatrix; return true;
    case ArrayKind::Array: out = Exporter::Array; return true;
    case ArrayKind::MemoryView: out = Exporter::MemoryView; return true;
    default: return false;
  }
}

/// Appends the values of one vector to `out`, or reads them in place into
/// `in_place` when it is given and the object allows it.
bool read_vector(PyObject* object, Doubles& out, VectorArg* in_place, Conversion& conversion) {
  if (PyList_CheckExact(object) || PyTuple_CheckExact(object)) {
    return append_items(object, out, conversion);
  }
  if (PyUnicode_Check(object)) return refuse_str();
  const ArrayKind kind = recognise(object, conversion);
  Taken taken = Taken::No;
  if (Exporter exporter; as_exporter(kind, exporter)) {
    taken = read_vector_buffer(object, exporter, out, in_place, conversion);
  } else if (kind == ArrayKind::Series) {
    taken = read_series(object, out, in_place, conversion);
  } else if (kind == ArrayKind::DataFrame) {
    // Iterating a DataFrame yields its column labels, never its numbers.
    PyErr_SetString(PyExc_TypeError,
                    "Can't extract `DataFrame` to `Vec`: pass one column or row (a Series)");
    return false;
  } else if (kind == ArrayKind::Failed) {
    return false;
  }
  if (taken != Taken::No) return taken == Taken::Yes;
  return append_iterated(object, out, conversion);
}

/// One row of a matrix: any vector, never read in place (the rows are
/// gathered into one block).
bool read_row(PyObject* row, Doubles& out, Conversion& conversion) {
  return read_vector(row, out, nullptr, conversion);
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
  if (PyList_CheckExact(object) || PyTuple_CheckExact(object)) {
    return read_rows(object, out, read_row, conversion);
  }
  if (PyUnicode_Check(object)) return refuse_str();
  const ArrayKind kind = recognise(object, conversion);
  if (kind == ArrayKind::Failed) return false;
  if (kind == ArrayKind::DataFrame) return read_dataframe(object, out, conversion);
  if (Exporter exporter; as_exporter(kind, exporter)) {
    const Taken taken = read_matrix_buffer(object, exporter, out, conversion);
    if (taken != Taken::No) return taken == Taken::Yes;
  }
  return read_rows(object, out, read_row, conversion);
}

}  // namespace quorvel::py
