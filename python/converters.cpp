#include "converters.hpp"

#include "buffers.hpp"
#include "pandas.hpp"
#include "recognise.hpp"
#include "sequences.hpp"
#include "conversion_rules.hpp"  // last: see there

namespace quorvel::py {
namespace {

/// Appends the values of one vector to `out`, or reads them in place into
/// `in_place` when it is given and the object allows it.
bool read_vector(PyObject* object, Doubles& out, VectorArg* in_place, Conversion& conversion) {
  if (PyList_CheckExact(object) || PyTuple_CheckExact(object)) {
    return append_items(object, out, conversion);
  }
  if (PyUnicode_Check(object)) return refuse_str();
  Taken taken = Taken::No;
  switch (recognise(object, conversion)) {
    case ArrayKind::NdArray:
      taken = read_vector_buffer(object, Exporter::NdArray, out, in_place, conversion);
      break;
    case ArrayKind::NumpyMatrix:
      taken = read_vector_buffer(object, Exporter::NumpyMatrix, out, in_place, conversion);
      break;
    case ArrayKind::Array:
      taken = read_vector_buffer(object, Exporter::Array, out, in_place, conversion);
      break;
    case ArrayKind::MemoryView:
      taken = read_vector_buffer(object, Exporter::MemoryView, out, in_place, conversion);
      break;
    case ArrayKind::Series:
      taken = read_series(object, out, in_place, conversion);
      break;
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
  Taken taken = Taken::No;
  switch (recognise(object, conversion)) {
    case ArrayKind::NdArray:
      taken = read_matrix_buffer(object, Exporter::NdArray, out, conversion);
      break;
    case ArrayKind::NumpyMatrix:
      taken = read_matrix_buffer(object, Exporter::NumpyMatrix, out, conversion);
      break;
    case ArrayKind::Array:
      taken = read_matrix_buffer(object, Exporter::Array, out, conversion);
      break;
    case ArrayKind::MemoryView:
      taken = read_matrix_buffer(object, Exporter::MemoryView, out, conversion);
      break;
    case ArrayKind::DataFrame:
      return read_dataframe(object, out, conversion);
    case ArrayKind::Failed:
      return false;
    case ArrayKind::Series:
    case ArrayKind::Other:
      break;
  }
  if (taken != Taken::No) return taken == Taken::Yes;
  return read_rows(object, out, read_row, conversion);
}

}  // namespace quorvel::py
