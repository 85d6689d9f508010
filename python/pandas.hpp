// pandas objects: where their numbers are (a Series' values, a DataFrame's
// to_numpy()), and whether their labels agree. pandas is never imported;
// recognise.hpp tells its classes. What comes back is read by the reader
// like any other array.
#pragma once

#include "arguments.hpp"
#include "ref.hpp"

namespace quorvel::py {

/// The array holding a Series' numbers: its values when they are a NumPy
/// array, else (a numeric extension dtype: nullable Float64, Int64, boolean,
/// with or without pd.NA) the values as float64 with pd.NA as NaN. Null
/// with no exception when the Series holds anything else, which is then
/// iterated like any sequence; null with the exception set on failure.
[[nodiscard]] Ref series_values(PyObject* series, Conversion& conversion);

/// frame.to_numpy(), or null with the exception set.
[[nodiscard]] Ref frame_values(PyObject* frame, Conversion& conversion);

/// For a frame whose to_numpy() (`values`) holds no real numbers: the frame
/// as float64 with pd.NA as NaN when every column is numeric and some are
/// extension dtypes (to_numpy() gives objects for those); otherwise null
/// with a TypeError naming the first column dtype that is not numeric among
/// extension dtypes, or the values' own dtype.
[[nodiscard]] Ref frame_values_by_value(PyObject* frame, PyObject* values, Conversion& conversion);

/// Compares the labels of a DataFrame argument: its index with its columns,
/// and the index of every Series argument converted before it with its
/// columns (the labels its values are multiplied with). Mismatches are
/// recorded in `conversion`; labels are never used. The default index (a
/// RangeIndex from 0 by 1) counts as none, and labels that cannot be read
/// or compared are not compared. False only with an interrupt set.
[[nodiscard]] bool compare_labels(PyObject* frame, Conversion& conversion);

}  // namespace quorvel::py
