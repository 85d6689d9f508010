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

}  // namespace

std::optional<FloatMatrix> invert_matrix(const FloatMatrix& matrix) {
  const std::size_t n = matrix.size();
  if (n == 0) return FloatMatrix{};
  const std::size_t width = 2 * n;

  // The augmented matrix [M | I], one contiguous block of n rows of 2n.
  std::vector<double> a(n * width, 0.0);
  auto row = [&](std::size_t i) { return a.data() + i * width; };
  for (std::size_t i = 0; i < n; ++i) {
    QUORVEL_INVARIANT(matrix[i].size() >= n, "matrix row shorter than the matrix is tall");
    std::copy_n(matrix[i].data(), n, row(i));
    row(i)[n + i] = 1.0;
  }

  for (std::size_t c = 0; c < n; ++c) {
    // Partial pivoting: strictly larger magnitude wins, so ties keep the
    // upper row and a NaN neither wins nor is displaced.
    std::size_t p = c;
    for (std::size_t k = c + 1; k < n; ++k) {
      if (std::fabs(row(k)[c]) > std::fabs(row(p)[c])) p = k;
    }
    if (std::fabs(row(p)[c]) < kPivotThreshold) return std::nullopt;
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
  }

  FloatMatrix inverse(n);
  for (std::size_t i = 0; i < n; ++i) inverse[i].assign(row(i) + n, row(i) + width);
  return inverse;
}

Result<FloatMatrix> regularized_inverse(const FloatMatrix& covariance) {
  if (auto inverse = invert_matrix(covariance)) return std::move(*inverse);
  // One retry on a deep copy with a small ridge on the diagonal; the
  // caller's matrix is never changed.
  FloatMatrix ridged = covariance;
  for (std::size_t i = 0; i < ridged.size(); ++i) ridged[i][i] = ridged[i][i] + kDiagonalRidge;
  if (auto inverse = invert_matrix(ridged)) return std::move(*inverse);
  return fail(CoreError::SingularCovariance);
}

}  // namespace quorvel
