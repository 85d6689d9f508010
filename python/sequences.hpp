// Numbers taken item by item from Python sequences: exact lists and tuples
// walked by index, anything else iterated; and matrices as sequences of
// rows.
#pragma once

#include "arguments.hpp"
#include "doubles.hpp"
#include "ref.hpp"

namespace quorvel::py {

/// Appends the numbers of an exact list or tuple to `out`.
[[nodiscard]] bool append_items(PyObject* sequence, Doubles& out, Conversion& conversion);

/// Appends every number iterating `object` yields, after refusing anything
/// that is not a sequence (with the cast error naming Sequence). The room
/// reserved first comes from len(), capped unless the object is an exact
/// list or tuple.
[[nodiscard]] bool append_iterated(PyObject* object, Doubles& out, Conversion& conversion);

/// Appends the numbers of one row of a matrix to `out` (any kind of vector).
using RowReader = bool (*)(PyObject* row, Doubles& out, Conversion& conversion);

/// Reads the rows of `outer`, each with `read_row`, into one block row
/// after row: an exact list or tuple by index, anything else iterated (and
/// refused when it is not a sequence).
[[nodiscard]] bool read_rows(PyObject* outer, MatrixArg& out, RowReader read_row,
                             Conversion& conversion);

/// TypeError "Can't extract `str` to `Vec`": a str is never taken as a
/// sequence of characters. Always false.
bool refuse_str() noexcept;

}  // namespace quorvel::py
