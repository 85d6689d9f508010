#include "inverse.hpp"

#include <algorithm>
#include <cmath>

#include "ieee.hpp"
#include "invariant.hpp"
#include "kernels/kernels.hpp"

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

/// The 1-norm (largest column sum of magnitudes) of the n x n matrix whose
/// row i starts at a + i * stride, with `s` (room for n) as scratch. NaN
/// when an entry is NaN. Each column's sum is added in row order, in a lane
/// of its own, so the kernels stream through the rows once and every build
/// gives the same bits.
double norm1(const double* a, std::size_t n, std::size_t stride, double* s) noexcept {
  kernels::column_magnitudes(a, n, n, stride, s);
  double norm = 0.0;
  for (std::size_t j = 0; j < n; ++j) {
    if (is_nan(s[j])) return s[j];
    if (s[j] > norm) norm = s[j];
  }
  return norm;
}

struct Attempt {
  std::optional<Inverse> inverse;
  std::size_t singular_column = 0;
  double norm = 0.0;  ///< the 1-norm of the matrix eliminated, when asked for
};

/// One elimination of M (+ ridge on the diagonal). With `sums` (room for
/// n), also the 1-norm of the matrix eliminated, taken from the block
/// before it changes.
Result<Attempt> attempt(const MatrixView& matrix, double ridge, Interrupt& interrupt,
                        double* sums) {
  QUORVEL_INVARIANT(matrix.cols >= matrix.rows && !matrix.ragged,
                    "matrix narrower than it is tall");
  Attempt out;
  Inverse inverse;
  inverse.n = matrix.rows;
  augment(matrix, inverse.block, ridge);
  if (inverse.n == 0) {
    out.inverse = std::move(inverse);
    return out;
  }
  if (sums != nullptr) out.norm = norm1(inverse.block.data(), inverse.n, 2 * inverse.n, sums);
  switch (gauss_jordan(inverse.block.data(), inverse.n, interrupt, out.singular_column)) {
    case Elimination::Inverted:
      out.inverse = std::move(inverse);
      return out;
    case Elimination::Singular:
      return out;
    case Elimination::Interrupted:
      break;
  }
  return fail(CoreError::Interrupted);
}

/// 1 / (||M||_1 * ||X||_1) for the inverse X of a matrix of 1-norm `norm`.
double reciprocal_condition(double norm, const Inverse& inverse, double* sums) noexcept {
  const double inverse_norm = norm1(inverse.block.data() + inverse.n, inverse.n, 2 * inverse.n, sums);
  return 1.0 / (norm * inverse_norm);
}

}  // namespace

Result<std::optional<Inverse>> invert_matrix(const MatrixView& matrix, Interrupt& interrupt) {
  auto first = attempt(matrix, 0.0, interrupt, nullptr);
  if (!first) return fail(first.error());
  return std::move(first->inverse);
}

Result<RegularizedInverse> regularized_inverse(const MatrixView& covariance, Interrupt& interrupt) {
  // Scratch for the column sums of the norms: small matrices keep it on
  // the stack, where it costs no allocation.
  constexpr std::size_t kOnStack = 64;
  double local[kOnStack];
  std::vector<double> heap;
  double* sums = local;
  if (covariance.rows > kOnStack) {
    heap.resize(covariance.rows);
    sums = heap.data();
  }
  auto first = attempt(covariance, 0.0, interrupt, sums);
  if (!first) return fail(first.error());
  RegularizedInverse out;
  if (first->inverse) {
    out.facts.reciprocal_condition = reciprocal_condition(first->norm, *first->inverse, sums);
    out.inverse = std::move(*first->inverse);
    return out;
  }
  // One retry with a small ridge on the diagonal of a copy; the caller's
  // matrix is never changed.
  auto second = attempt(covariance, kDiagonalRidge, interrupt, sums);
  if (!second) return fail(second.error());
  if (!second->inverse) return fail(CoreError::SingularCovariance);
  out.facts.ridged = true;
  out.facts.singular_column = first->singular_column;
  out.facts.reciprocal_condition = reciprocal_condition(second->norm, *second->inverse, sums);
  out.inverse = std::move(*second->inverse);
  return out;
}

}  // namespace quorvel
