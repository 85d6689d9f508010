// Shared checks and the equal-weighting scheme.
#pragma once

#include <cstdint>

#include "ieee.hpp"
#include "types.hpp"

namespace quorvel {

/// The dimension n >= 1 of a square matrix, or the first shape error found:
/// no rows, an empty first row, a row unlike the first, rows != columns.
[[nodiscard]] Result<std::size_t> check_square_matrix(const MatrixView& matrix) noexcept;

/// Divides every element by the sum of the elements (of their magnitudes when
/// `absolute`), in place. A sum equal to zero of either sign is refused.
[[nodiscard]] Result<FloatVector> normalize_weights(FloatVector values, bool absolute) noexcept;

/// Row i of `matrix` dotted with `vector`, over the shorter of the two
/// lengths, into out[0 .. rows). Each entry is its own sum in index order
/// from -0.0.
void matrix_vector_product(const MatrixView& matrix, VectorView vector, double* out) noexcept;

/// The same, into a new vector of one entry per row.
[[nodiscard]] FloatVector matrix_vector_product(const MatrixView& matrix, VectorView vector);

/// Where the first NaN (or, failing that, the first infinity) among a
/// routine's inputs lies. Found only after a result has come out NaN, to say
/// why; `where` is Nowhere when every input was finite (the NaN then came
/// from the arithmetic, an overflow or infinity minus infinity).
struct NonFinite {
  enum class In : unsigned char { Nowhere, Vector, Matrix };
  In where = In::Nowhere;
  std::size_t row = 0;  ///< the index in the vector, or the row in the matrix
  std::size_t col = 0;  ///< the column in the matrix
  double value = 0.0;
};

/// The first NaN in `vector`, else the first NaN in `matrix` (row after
/// row), else the first infinity in the same order.
[[nodiscard]] NonFinite first_nonfinite(VectorView vector, const MatrixView& matrix) noexcept;

/// The first pair of mirrored entries of a square matrix that differ: the
/// smallest row, then the smallest column, of the upper triangle. Two NaNs
/// count as equal (a covariance with missing data is NaN in both places),
/// and so do +0.0 and -0.0.
struct Asymmetry {
  bool found = false;
  std::size_t row = 0;  ///< row < col
  std::size_t col = 0;
  double upper = 0.0;  ///< matrix(row, col)
  double lower = 0.0;  ///< matrix(col, row)
};

/// Where a square matrix (not ragged) first fails to equal its transpose.
/// Reads it tile by tile, so that the transposed entries come from cache.
[[nodiscard]] Asymmetry first_asymmetry(const MatrixView& matrix) noexcept;

/// NaNs among a routine's input values.
struct NaNs {
  std::size_t count = 0;
  std::size_t first = 0;  ///< the index of the first, when count > 0
};

/// Diagonal variances of a covariance that were NaN or negative, and were
/// counted as a small positive floor instead.
struct FlooredVariances {
  std::size_t count = 0;  ///< how many
  std::size_t first = 0;  ///< the index of the first
  double value = 0.0;     ///< the first one's value
  double floor = 0.0;     ///< what each was counted as
};

/// max(covariance[i][i], floor) for each i into out[i], a NaN giving the
/// floor; counts the entries that were NaN or negative (a zero or a tiny
/// positive variance is floored too, but it is what it says it is).
[[nodiscard]] FlooredVariances floored_diagonal(const MatrixView& covariance, double floor,
                                                double* out) noexcept;

/// `count` copies of 1/count. Counts above the largest vector size throw
/// std::length_error or std::bad_alloc, like any other refused allocation.
[[nodiscard]] Result<FloatVector> equal_weights(std::uint64_t count);

/// Sum of `values` in index order, one rounding per addition, from -0.0 so
/// that an empty sum (or a sum of negative zeros) stays negative zero.
[[nodiscard]] inline double sum_in_order(VectorView values) noexcept {
  double s = -0.0;
  for (double v : values) s += v;
  return s;
}

/// Dot product in index order from -0.0 over the first `n` terms.
[[nodiscard]] inline double dot_in_order(const double* a, const double* b, std::size_t n) noexcept {
  double s = -0.0;
  for (std::size_t j = 0; j < n; ++j) s += a[j] * b[j];
  return s;
}

}  // namespace quorvel
