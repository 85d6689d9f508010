// Dense matrix inversion for the covariance-based weighting schemes.
#pragma once

#include <optional>

#include "gauss_jordan.hpp"
#include "interrupt.hpp"
#include "types.hpp"

namespace quorvel {

/// Added to the diagonal of a copy for the single retry.
inline constexpr double kDiagonalRidge = 1e-12;

/// The unit roundoff of doubles, 2^-53: the largest relative error of
/// rounding a real number to the nearest double, and what LAPACK's
/// dlamch('E') returns (numpy's finfo(float).eps is twice it, 2^-52, the gap
/// between 1.0 and the next double). A matrix whose reciprocal condition
/// number is below it lies within one rounding of each entry (relative to
/// its norm) of a singular matrix, so its computed inverse has no correct
/// digit to speak of; it is the threshold below which scipy's solvers warn
/// of an ill-conditioned matrix.
inline constexpr double kUnitRoundoff = 0x1p-53;

/// The inverse of an n x n matrix. Elimination runs on one n x 2n block
/// [M | I], row after row; the inverse is its right half, read in place.
struct Inverse {
  std::vector<double> block;
  std::size_t n = 0;

  [[nodiscard]] MatrixView view() const noexcept {
    return {block.data() + n, n, n, static_cast<std::ptrdiff_t>(2 * n), 1, false};
  }
};

/// What regularized_inverse met on the way, for the caller to report. None
/// of it changes the inverse.
struct InversionFacts {
  /// The first attempt failed, and the inverse is that of the matrix with
  /// kDiagonalRidge added to its diagonal.
  bool ridged = false;
  /// When ridged: the column (pivot step, from 0) at which the first
  /// attempt found no pivot of magnitude kPivotThreshold or more.
  std::size_t singular_column = 0;
  /// 1 / (||M||_1 * ||X||_1), where M is the matrix inverted (the ridged
  /// copy when ridged), X the computed inverse, and ||.||_1 the largest sum
  /// of magnitudes over a column. NaN when either holds a NaN; 0 when the
  /// product of the norms overflows.
  double reciprocal_condition = 1.0;
};

/// An inverse and the facts of its making.
struct RegularizedInverse {
  Inverse inverse;
  InversionFacts facts;
};

/// Gauss-Jordan elimination with partial pivoting on the first n columns of
/// the n rows of `matrix`. Empty when a pivot falls below kPivotThreshold;
/// Interrupted when `interrupt` asked to stop.
[[nodiscard]] Result<std::optional<Inverse>> invert_matrix(const MatrixView& matrix,
                                                           Interrupt& interrupt);

/// invert_matrix, then once more on a copy with kDiagonalRidge added to the
/// diagonal; SingularCovariance when both attempts fail. The facts say
/// whether the retry was needed and how well conditioned the matrix
/// inverted was.
[[nodiscard]] Result<RegularizedInverse> regularized_inverse(const MatrixView& covariance,
                                                             Interrupt& interrupt);

}  // namespace quorvel
