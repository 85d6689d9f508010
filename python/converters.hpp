// Conversion of bound Python arguments to native values. Each converter
// returns false with a Python exception set when the object does not fit.
#pragma once

#include <cstdint>
#include <string>

#include "arguments.hpp"
#include "ref.hpp"
#include "types.hpp"

namespace quorvel::py {

/// Any sequence (not a str) whose iteration yields numbers. Numeric buffers
/// are read without iterating them, contiguous native doubles in place.
[[nodiscard]] bool extract_float_vector(PyObject* object, VectorArg& out, Conversion& conversion);
/// A sequence of such sequences (rows may be ragged or empty here), a 2-D
/// numeric buffer, or a pandas DataFrame by its values.
[[nodiscard]] bool extract_float_matrix(PyObject* object, MatrixArg& out, Conversion& conversion);
/// An int (or __index__ object) in 0 .. 2**64 - 1.
[[nodiscard]] bool extract_count(PyObject* object, std::uint64_t& out, Conversion& conversion);
/// Anything PyFloat_AsDouble takes: floats, ints, __float__, __index__.
[[nodiscard]] bool extract_float(PyObject* object, double& out, Conversion& conversion);
/// Exactly a bool, or a numpy boolean scalar.
[[nodiscard]] bool extract_flag(PyObject* object, bool& out, Conversion& conversion);
/// A str (or subclass), copied as UTF-8.
[[nodiscard]] bool extract_text(PyObject* object, std::string& out);

}  // namespace quorvel::py
