#include "basics.hpp"

#include <algorithm>
#include <cmath>

namespace quorvel {

Result<std::size_t> check_square_matrix(const FloatMatrix& matrix) noexcept {
  if (matrix.empty()) return fail(CoreError::EmptyMatrix);
  const std::size_t width = matrix.front().size();
  if (width == 0) return fail(CoreError::EmptyMatrixRow);
  for (const FloatVector& row : matrix) {
    if (row.size() != width) return fail(CoreError::RaggedMatrix);
  }
  if (matrix.size() != width) return fail(CoreError::NonSquareMatrix);
  return matrix.size();
}

Result<FloatVector> normalize_weights(FloatVector values, bool absolute) noexcept {
  if (values.empty()) return fail(CoreError::ZeroDenominator);
  double denominator = -0.0;
  if (absolute) {
    for (double v : values) denominator += std::fabs(v);
  } else {
    denominator = sum_in_order(values);
  }
  // Exact test: a denominator of 1e-300 is divided by, a NaN is not zero.
  if (denominator == 0.0) return fail(CoreError::ZeroDenominator);
  // A true division per element: multiplying by 1/denominator rounds twice.
  for (double& v : values) v = v / denominator;
  return values;
}

FloatVector matrix_vector_product(const FloatMatrix& rows, const FloatVector& vector) {
  FloatVector out(rows.size());
  auto length = [&](std::size_t i) { return std::min(rows[i].size(), vector.size()); };
  std::size_t i = 0;
  // Four rows at a time. Each row's sum still adds its own terms one by one
  // in index order from -0.0; running four such chains side by side only
  // hides the latency of each addition behind the other three.
  for (; i + 4 <= rows.size(); i += 4) {
    const double* r[4] = {rows[i].data(), rows[i + 1].data(), rows[i + 2].data(),
                          rows[i + 3].data()};
    const double* x = vector.data();
    const std::size_t common = std::min({length(i), length(i + 1), length(i + 2), length(i + 3)});
    double s[4] = {-0.0, -0.0, -0.0, -0.0};
    for (std::size_t j = 0; j < common; ++j) {
      for (std::size_t k = 0; k < 4; ++k) s[k] += r[k][j] * x[j];
    }
    for (std::size_t k = 0; k < 4; ++k) {
      for (std::size_t j = common; j < length(i + k); ++j) s[k] += r[k][j] * x[j];
      out[i + k] = s[k];
    }
  }
  for (; i < rows.size(); ++i) out[i] = dot_in_order(rows[i].data(), vector.data(), length(i));
  return out;
}

Result<FloatVector> equal_weights(std::uint64_t count) {
  if (count == 0) return fail(CoreError::EmptyAssets);
  // The count rounds to the nearest double (exact up to 2^53); one division.
  const double weight = 1.0 / static_cast<double>(count);
  return FloatVector(static_cast<std::size_t>(count), weight);
}

}  // namespace quorvel
