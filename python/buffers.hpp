// Numbers read straight from the memory of numeric buffers (numpy arrays,
// array.array, memoryview), element by element as their iteration gives them.
#pragma once

#include <cstddef>

#include "kernels/kernels.hpp"
#include "ref.hpp"

namespace quorvel::py {

using kernels::Element;

/// The layout of a 1-D or 2-D buffer of real numbers.
struct NumericBuffer {
  const char* base = nullptr;
  int ndim = 0;
  Py_ssize_t shape[2] = {0, 0};
  Py_ssize_t strides[2] = {0, 0};  ///< in bytes
  Element element = Element::Float64;
  bool swap = false;               ///< stored in the other byte order

  /// Native, aligned doubles at strides the core can follow: readable where
  /// they lie, without a copy.
  [[nodiscard]] bool doubles_in_place() const noexcept;
};

/// Describes `view` when it holds real numbers (one struct-module code among
/// ?bBhHiIlLqQnNefd with an optional byte-order prefix) in 1 or 2 dimensions
/// without sub-offsets; false for anything else (complex, objects, records,
/// text, other dimensions).
[[nodiscard]] bool describe(const Py_buffer& view, NumericBuffer& out) noexcept;

/// Converts `count` elements spaced `stride` bytes apart into doubles: the
/// value iteration would give (exact widening; 64-bit integers rounded to
/// nearest as float() does; bools as 0.0 or 1.0).
void widen(const NumericBuffer& layout, const char* from, Py_ssize_t count, Py_ssize_t stride,
           double* out) noexcept;

}  // namespace quorvel::py
