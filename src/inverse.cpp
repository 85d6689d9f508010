#include "inverse.hpp"

#include "invariant.hpp"

namespace quorvel {
namespace {

/// Fills `block` with [M | I] for the n x n matrix M, plus `ridge` on the
/// diagonal of M when it is not zero.
void augment(const MatrixView& matrix, std::vector<double>& block, double ridge) {
  const std::size_t n = matrix.rows;
  const std::size_t width = 2 * n;
  block.assign(n * width, 0.0);
  for (std::size_t i = 0; i < n; ++i) {
    double* row = block.data() + i * width;
    for (std::size_t j = 0; j < n; ++j) row[j] = matrix(i, j);
    if (ridge != 0.0) row[i] = row[i] + ridge;
    row[n + i] = 1.0;
  }
}

Result<std::optional<Inverse>> invert_with_ridge(const MatrixView& matrix, double ridge,
                                                 Interrupt& interrupt) {
  QUORVEL_INVARIANT(matrix.cols >= matrix.rows && !matrix.ragged,
                    "matrix narrower than it is tall");
  Inverse inverse;
  inverse.n = matrix.rows;
  augment(matrix, inverse.block, ridge);
  if (inverse.n == 0) return inverse;
  switch (gauss_jordan(inverse.block.data(), inverse.n, interrupt)) {
    case Elimination::Inverted:
      return inverse;
    case Elimination::Singular:
      return std::nullopt;
    case Elimination::Interrupted:
      break;
  }
  return fail(CoreError::Interrupted);
}

}  // namespace

Result<std::optional<Inverse>> invert_matrix(const MatrixView& matrix, Interrupt& interrupt) {
  return invert_with_ridge(matrix, 0.0, interrupt);
}

Result<Inverse> regularized_inverse(const MatrixView& covariance, Interrupt& interrupt) {
  auto first = invert_matrix(covariance, interrupt);
  if (!first) return fail(first.error());
  if (*first) return std::move(**first);
  // One retry with a small ridge on the diagonal of a copy; the caller's
  // matrix is never changed.
  auto second = invert_with_ridge(covariance, kDiagonalRidge, interrupt);
  if (!second) return fail(second.error());
  if (*second) return std::move(**second);
  return fail(CoreError::SingularCovariance);
}

}  // namespace quorvel
