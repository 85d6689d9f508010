// Numbers in the memory of numeric buffers (numpy arrays and scalars,
// array.array, memoryview): what a buffer holds, and its elements widened to
// doubles exactly as float() of each would give them. Nothing here runs
// Python code or holds a buffer; the reader decides what is acquired.
#pragma once

#include <cstddef>

#include "kernels/kernels.hpp"
#include "ref.hpp"

namespace quorvel::py {

/// What the object offering a buffer is, for messages.
enum class Exporter { NdArray, NumpyMatrix, Array, MemoryView, Scalar };

/// What the elements of a buffer are.
enum class Content { Real, Complex, Other };

/// The layout of an acquired buffer.
struct NumericBuffer {
  Content content = Content::Other;
  kernels::Element element = kernels::Element::Float64;
  bool swap = false;  ///< stored in the other byte order
  const char* base = nullptr;
  int ndim = 0;
  Py_ssize_t itemsize = 0;
  const Py_ssize_t* shape = nullptr;
  const Py_ssize_t* strides = nullptr;  ///< in bytes

  /// Native, aligned doubles at strides the core can follow: readable where
  /// they lie, without a copy.
  [[nodiscard]] bool doubles_in_place() const noexcept;
};

/// The flags every numeric buffer is requested with.
inline constexpr int kBufferFlags = PyBUF_STRIDES | PyBUF_FORMAT;

/// Describes `view`: real numbers (one struct-module code among
/// ?bBhHiIlLqQnNefd with an optional byte-order prefix), complex numbers
/// ('Z' and a float code), or anything else (objects, records, text,
/// sub-offsets), in any number of dimensions.
[[nodiscard]] NumericBuffer describe(const Py_buffer& view) noexcept;

/// TypeError "expected a 1-D array of numbers, got a 3-D array of shape
/// (2, 2, 2)". Always false.
bool refuse_dimensions(int wanted, const NumericBuffer& layout, Exporter kind);

/// TypeError naming the complex dtype: reading only the real parts would
/// drop data without a word, which float() of a complex number refuses too.
/// Always false.
bool refuse_complex(const NumericBuffer& layout, Exporter kind);

/// `count` elements `stride` bytes apart from `from`, widened into `out`.
inline void widen(const NumericBuffer& layout, const char* from, Py_ssize_t count,
                  Py_ssize_t stride, double* out) noexcept {
  kernels::widen(layout.element, layout.swap, from, count, stride, out);
}

}  // namespace quorvel::py
