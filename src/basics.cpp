#include "basics.hpp"

#include <algorithm>
#include <cmath>

#include "kernels/kernels.hpp"

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
  const std::size_t cols = vector.size();
  // Rows at least as long as the vector go to the kernels in batches; a
  // shorter row is dotted over its own length.
  constexpr std::size_t kBatch = 256;
  const double* batch[kBatch];
  std::size_t first = 0;
  std::size_t count = 0;
  auto flush = [&] {
    kernels::matvec_rows(batch, count, cols, vector.data(), out.data() + first);
    count = 0;
  };
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (rows[i].size() < cols) {
      flush();
      out[i] = dot_in_order(rows[i].data(), vector.data(), rows[i].size());
      continue;
    }
    if (count == kBatch) flush();
    if (count == 0) first = i;
    batch[count++] = rows[i].data();
  }
  flush();
  return out;
}

Result<FloatVector> equal_weights(std::uint64_t count) {
  if (count == 0) return fail(CoreError::EmptyAssets);
  // The count rounds to the nearest double (exact up to 2^53); one division.
  const double weight = 1.0 / static_cast<double>(count);
  return FloatVector(static_cast<std::size_t>(count), weight);
}

}  // namespace quorvel
