// pandas objects, read by their values: a Series as a vector, a DataFrame
// as a matrix. pandas is never imported; recognise.hpp tells its classes.
#pragma once

#include "arguments.hpp"
#include "doubles.hpp"
#include "ref.hpp"

namespace quorvel::py {

/// The numbers of a Series: its NumPy values read as a buffer (in place
/// into `in_place` when given and possible), a numeric extension dtype
/// (nullable Float64, Int64, boolean, with or without pd.NA) by value with
/// pd.NA as NaN. No when the Series holds anything else, which is then
/// iterated like any sequence; Failed with the exception set.
[[nodiscard]] Taken read_series(PyObject* series, Doubles& out, VectorArg* in_place,
                                Conversion& conversion);

/// The numbers of a DataFrame, as `to_numpy()` gives them (row i of the
/// frame is row i of the matrix); columns of numeric extension dtypes by
/// value with pd.NA as NaN. Any other column makes a TypeError naming its
/// dtype.
[[nodiscard]] bool read_dataframe(PyObject* frame, MatrixArg& out, Conversion& conversion);

}  // namespace quorvel::py
