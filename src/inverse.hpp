// Dense matrix inversion for the covariance-based weighting schemes.
#pragma once

#include <optional>

#include "gauss_jordan.hpp"
#include "types.hpp"

namespace quorvel {

/// Added to the diagonal of a copy for the single retry.
inline constexpr double kDiagonalRidge = 1e-12;

/// Gauss-Jordan elimination with partial pivoting on the first n columns of
/// the n rows of `matrix`. Empty when a pivot falls below kPivotThreshold.
[[nodiscard]] std::optional<FloatMatrix> invert_matrix(const FloatMatrix& matrix);

/// invert_matrix, then once more on a copy with kDiagonalRidge added to the
/// diagonal; SingularCovariance when both attempts fail.
[[nodiscard]] Result<FloatMatrix> regularized_inverse(const FloatMatrix& covariance);

}  // namespace quorvel
