#include "inverse.hpp"

#include <algorithm>

#include "invariant.hpp"

namespace quorvel {

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

  Interrupt never;
  const Elimination outcome = gauss_jordan(a.data(), n, never);
  if (outcome == Elimination::Singular) return std::nullopt;
  QUORVEL_INVARIANT(outcome == Elimination::Inverted, "an inversion nobody can stop was stopped");

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
