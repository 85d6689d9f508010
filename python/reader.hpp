// The one reader: every argument's numbers, whatever the object holding
// them, are taken here. It decides what kind of object an argument is
// (recognise.hpp), reads the known-inert ones directly (inert.hpp), and sends
// everything else through the gate (python_code.hpp). A vector, each row of
// a matrix, and each number go through the same few functions, so a new
// kind of input is one change here.
#pragma once

#include <cstdint>

#include "arguments.hpp"
#include "ref.hpp"

namespace quorvel::py {

/// float(object): floats, ints and bools directly, numpy scalars (and 0-d
/// arrays) from their buffers, anything else through its own conversion. A
/// complex numpy scalar is refused, as a complex array is.
[[nodiscard]] bool read_number(PyObject* object, double& out, Conversion& conversion);

/// An int (or __index__ object) in 0 .. 2**64 - 1.
[[nodiscard]] bool read_count(PyObject* object, std::uint64_t& out, Conversion& conversion);
/// An int (or __index__ object) in -2**63 .. 2**63 - 1.
[[nodiscard]] bool read_offset(PyObject* object, std::int64_t& out, Conversion& conversion);
/// Exactly a bool, or a numpy boolean scalar.
[[nodiscard]] bool read_flag(PyObject* object, bool& out, Conversion& conversion);

/// Any sequence (not a str) whose iteration yields numbers; numeric buffers
/// without iterating them, contiguous native doubles in place; a pandas
/// Series by its values.
[[nodiscard]] bool read_vector(PyObject* object, VectorArg& out, Conversion& conversion);
/// A sequence of such sequences (rows may be ragged or empty here), a 2-D
/// numeric buffer (native doubles in place at any strides), or a pandas
/// DataFrame by its values.
[[nodiscard]] bool read_matrix(PyObject* object, MatrixArg& out, Conversion& conversion);

}  // namespace quorvel::py
