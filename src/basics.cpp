#include "basics.hpp"

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
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const FloatVector& row = rows[i];
    const std::size_t n = row.size() < vector.size() ? row.size() : vector.size();
    out[i] = dot_in_order(row.data(), vector.data(), n);
  }
  return out;
}

Result<FloatVector> equal_weights(std::uint64_t count) {
  if (count == 0) return fail(CoreError::EmptyAssets);
  // The count rounds to the nearest double (exact up to 2^53); one division.
  const double weight = 1.0 / static_cast<double>(count);
  return FloatVector(static_cast<std::size_t>(count), weight);
}

}  // namespace quorvel
