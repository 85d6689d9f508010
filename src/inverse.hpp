// Dense matrix inversion for the covariance-based weighting schemes.
#pragma once

#include <optional>

#include "gauss_jordan.hpp"
#include "interrupt.hpp"
#include "types.hpp"

namespace quorvel {

/// Added to the diagonal of a copy for the single retry.
inline constexpr double kDiagonalRidge = 1e-12;

/// The inverse of an n x n matrix. Elimination runs on one n x 2n block
/// [M | I], row after row; the inverse is its right half, read in place.
struct Inverse {
  std::vector<double> block;
  std::size_t n = 0;

  [[nodiscard]] MatrixView view() const noexcept {
    return {block.data() + n, n, n, static_cast<std::ptrdiff_t>(2 * n), 1, false};
  }
};

/// Gauss-Jordan elimination with partial pivoting on the first n columns of
/// the n rows of `matrix`. Empty when a pivot falls below kPivotThreshold;
/// Interrupted when `interrupt` asked to stop.
[[nodiscard]] Result<std::optional<Inverse>> invert_matrix(const MatrixView& matrix,
                                                           Interrupt& interrupt);

/// invert_matrix, then once more on a copy with kDiagonalRidge added to the
/// diagonal; SingularCovariance when both attempts fail.
[[nodiscard]] Result<Inverse> regularized_inverse(const MatrixView& covariance,
                                                  Interrupt& interrupt);

}  // namespace quorvel
