// The numeric inner loops, compiled once per instruction set and chosen once
// per process from what the processor offers. Every kernel gives the same
// bits: a kernel may change the order in which independent elements are
// visited, never the operations an element receives or their order.
//
// This is the one way into code built for a wider instruction set: only
// plain pointers, counts and small structs cross it, and nothing built
// with such flags is reachable otherwise.
#pragma once

#include <cstddef>

namespace quorvel::kernels {

/// y[i] = sum over j = 0 .. cols-1, in j order, from -0.0, of
/// a[i*row_stride + j*col_stride] * x[j] (product rounded, then the addition
/// rounded), for i = 0 .. rows-1. Strides count doubles and may be zero or
/// negative. `y` must not overlap `a` or `x`.
void matvec(const double* a, std::ptrdiff_t row_stride, std::ptrdiff_t col_stride,
            std::size_t rows, std::size_t cols, const double* x, double* y) noexcept;

/// target[j] = target[j] - (pivot_row[j] * f) for j = 0 .. width-1: the
/// product rounded, then the difference. The two rows must not overlap.
void subtract_scaled(double* target, const double* pivot_row, double f,
                     std::size_t width) noexcept;

/// sums[j] = the sum over i = 0 .. rows-1, in i order, from +0.0, of
/// |a[i*stride + j]| for j = 0 .. cols-1: the magnitudes of each column,
/// rows of contiguous elements read one after another. `sums` must not
/// overlap `a`.
void column_magnitudes(const double* a, std::size_t rows, std::size_t cols, std::size_t stride,
                       double* sums) noexcept;

/// Largest number of pivot steps one PanelUpdate may carry.
inline constexpr std::size_t kMaxPanelSteps = 64;

/// A panel of Gauss-Jordan pivot steps, already factored on its own columns,
/// to be applied to other columns of the same rows. Step k used pivot row
/// first_pivot + k (rows already in their places after the panel's swaps),
/// divided that row by pivots[k] and then, for every other row r, subtracted
/// (pivot row value * multipliers[r * steps + k]).
struct PanelUpdate {
  double* a;                  ///< row-major block, row r starts at a + r * stride
  std::size_t stride;         ///< doubles from one row to the next
  std::size_t rows;           ///< all rows of the block take part
  std::size_t first_pivot;    ///< row of step 0
  std::size_t steps;          ///< 1 .. kMaxPanelSteps
  const double* multipliers;  ///< rows x steps, row-major; pivot rows' own entries unused
  const double* pivots;       ///< the value each pivot row is divided by
  std::size_t col_begin;      ///< columns [col_begin, col_end) receive the steps
  std::size_t col_end;
};

/// Applies every step of the panel, in order, to every element of the
/// column range: each element receives exactly the operations of running
/// the steps one after another over the whole range.
void apply_panel(const PanelUpdate& update) noexcept;

/// How one element of a block of memory is stored.
enum class Element : unsigned char {
  Bool, Int8, Int16, Int32, Int64, UInt8, UInt16, UInt32, UInt64, Float16, Float32, Float64,
};

/// Converts `count` elements of type `element`, `stride` bytes apart from
/// `from` (stored in the other byte order when `swap`), into doubles: each
/// the value float() of the element gives (exact widening; 64-bit integers
/// rounded to nearest; bools as 0.0 or 1.0; NaN payloads kept).
void widen(Element element, bool swap, const char* from, std::ptrdiff_t count,
           std::ptrdiff_t stride, double* out) noexcept;

/// "portable", "avx2" or "avx512": the kernels in use. The first call (or
/// the first use of any kernel) decides, from the processor and the
/// environment variable QUORVEL_KERNELS, which may lower the choice.
[[nodiscard]] const char* active_kernels() noexcept;

/// The kernel builds compiled in, narrowest first, separated by spaces:
/// "portable", or "portable avx2 avx512". The choice is the widest of them
/// that the processor and the operating system run (before QUORVEL_KERNELS).
[[nodiscard]] const char* built_kernels() noexcept;

}  // namespace quorvel::kernels
