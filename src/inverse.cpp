#include "inverse.hpp"

#include <algorithm>
#include <cmath>

#include "invariant.hpp"

namespace quorvel {
namespace {

// The hot loop of the inversion. Each element is one rounded product and one
// rounded subtraction whatever the vector width, so the wider clone gives
// the same bits; contraction into fused multiply-adds is off for the build.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
__attribute__((target_clones("avx2", "default")))
#endif
void subtract_scaled(double* __restrict target, const double* __restrict pivot_row, double f,
                     std::size_t width) noexcept {
  for (std::size_t j = 0; j < width; ++j) target[j] = target[j] - (pivot_row[j] * f);
}

enum class Elimination { Inverted, Singular, Interrupted };

/// Textbook Gauss-Jordan on the n x 2n block `a`, in place.
Elimination gauss_jordan(double* a, std::size_t n, Interrupt& interrupt) noexcept {
  const std::size_t width = 2 * n;
  auto row = [&](std::size_t i) { return a + i * width; };
  for (std::size_t c = 0; c < n; ++c) {
    // Partial pivoting: strictly larger magnitude wins, so ties keep the
    // upper row and a NaN neither wins nor is displaced.
    std::size_t p = c;
    for (std::size_t k = c + 1; k < n; ++k) {
      if (std::fabs(row(k)[c]) > std::fabs(row(p)[c])) p = k;
    }
    if (std::fabs(row(p)[c]) < kPivotThreshold) return Elimination::Singular;
    if (p != c) std::swap_ranges(row(c), row(c) + width, row(p));

    double* const pivot_row = row(c);
    const double v = pivot_row[c];
    for (std::size_t j = 0; j < width; ++j) pivot_row[j] = pivot_row[j] / v;

    // Every other row, every column: no skipping of zero factors, since a
    // zero factor against an infinite entry must still give NaN and
    // -0.0 - (-0.0) must still give +0.0.
    for (std::size_t r = 0; r < n; ++r) {
      if (r == c) continue;
      double* const target = row(r);
      subtract_scaled(target, pivot_row, target[c], width);
    }
    if (!interrupt.proceed(n * width)) return Elimination::Interrupted;
  }
  return Elimination::Inverted;
}

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
