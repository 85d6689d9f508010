// Conversion of bound Python arguments to native values. Each converter
// returns false with a Python exception set when the object does not fit.
#pragma once

#include <cstdint>
#include <string>

#include "ref.hpp"
#include "types.hpp"

namespace quorvel::py {

/// Any sequence (not a str) whose iteration yields numbers.
[[nodiscard]] bool extract_float_vector(PyObject* object, FloatVector& out);
/// A sequence of such sequences; rows may be ragged or empty here.
[[nodiscard]] bool extract_float_matrix(PyObject* object, FloatMatrix& out);
/// An int (or __index__ object) in 0 .. 2**64 - 1.
[[nodiscard]] bool extract_count(PyObject* object, std::uint64_t& out) noexcept;
/// Anything PyFloat_AsDouble takes: floats, ints, __float__, __index__.
[[nodiscard]] bool extract_float(PyObject* object, double& out) noexcept;
/// Exactly a bool, or a numpy boolean scalar.
[[nodiscard]] bool extract_flag(PyObject* object, bool& out) noexcept;
/// A str (or subclass), copied as UTF-8.
[[nodiscard]] bool extract_text(PyObject* object, std::string& out);

}  // namespace quorvel::py
