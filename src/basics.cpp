#include "basics.hpp"

#include <algorithm>
#include <cmath>

#include "kernels/kernels.hpp"

namespace quorvel {

Result<std::size_t> check_square_matrix(const MatrixView& matrix) noexcept {
  if (matrix.rows == 0) return fail(CoreError::EmptyMatrix);
  // Only the first row is tested for emptiness: an empty row after a
  // non-empty first row is a ragged matrix.
  if (matrix.cols == 0) return fail(CoreError::EmptyMatrixRow);
  if (matrix.ragged) return fail(CoreError::RaggedMatrix);
  if (matrix.rows != matrix.cols) return fail(CoreError::NonSquareMatrix);
  return matrix.rows;
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

void matrix_vector_product(const MatrixView& matrix, VectorView vector, double* out) noexcept {
  // Rows side by side in vector lanes, each lane its own sum in index order.
  kernels::matvec(matrix.data, matrix.row_stride, matrix.col_stride, matrix.rows,
                  std::min(matrix.cols, vector.size()), vector.data(), out);
}

FloatVector matrix_vector_product(const MatrixView& matrix, VectorView vector) {
  FloatVector out(matrix.rows);
  matrix_vector_product(matrix, vector, out.data());
  return out;
}

NonFinite first_nonfinite(VectorView vector, const MatrixView& matrix) noexcept {
  for (const bool want_nan : {true, false}) {
    const auto matches = [&](double v) { return want_nan ? is_nan(v) : std::isinf(v); };
    for (std::size_t i = 0; i < vector.size(); ++i) {
      if (matches(vector[i])) return {NonFinite::In::Vector, i, 0, vector[i]};
    }
    if (matrix.ragged) continue;
    for (std::size_t i = 0; i < matrix.rows; ++i) {
      for (std::size_t j = 0; j < matrix.cols; ++j) {
        if (matches(matrix(i, j))) return {NonFinite::In::Matrix, i, j, matrix(i, j)};
      }
    }
  }
  return {};
}

Asymmetry first_asymmetry(const MatrixView& matrix) noexcept {
  // Square tiles of this many rows and columns: a tile and its mirror fit
  // in the first-level cache together, so each transposed entry read costs
  // no trip to memory. Within a band of rows every tile is searched before
  // the earliest pair is taken, so tiling does not change which is first.
  constexpr std::size_t kTile = 32;
  const std::size_t n = matrix.rows;
  Asymmetry out;
  for (std::size_t i0 = 0; i0 < n; i0 += kTile) {
    const std::size_t i1 = std::min(n, i0 + kTile);
    for (std::size_t j0 = i0; j0 < n; j0 += kTile) {
      const std::size_t j1 = std::min(n, j0 + kTile);
      for (std::size_t i = i0; i < i1; ++i) {
        // Rows below one already found cannot come first; in its own row
        // only a smaller column can.
        if (out.found && i > out.row) break;
        const std::size_t j_begin = std::max(j0, i + 1);
        const std::size_t j_end = out.found && out.row == i ? std::min(j1, out.col) : j1;
        for (std::size_t j = j_begin; j < j_end; ++j) {
          const double a = matrix(i, j);
          const double b = matrix(j, i);
          if (a == b || (is_nan(a) && is_nan(b))) continue;
          out = {true, i, j, a, b};
          break;
        }
      }
    }
    if (out.found) return out;
  }
  return out;
}

FlooredVariances floored_diagonal(const MatrixView& covariance, double floor, double* out) noexcept {
  FlooredVariances floored;
  floored.floor = floor;
  for (std::size_t i = 0; i < covariance.rows; ++i) {
    const double v = covariance(i, i);
    if (greater_than_nonnegative(v, floor)) {
      out[i] = v;
      continue;
    }
    out[i] = floor;
    if (is_nan(v) || v < 0.0) {
      if (floored.count++ == 0) {
        floored.first = i;
        floored.value = v;
      }
    }
  }
  return floored;
}

Result<FloatVector> equal_weights(std::uint64_t count) {
  if (count == 0) return fail(CoreError::EmptyAssets);
  // The count rounds to the nearest double (exact up to 2^53); one division.
  const double weight = 1.0 / static_cast<double>(count);
  return FloatVector(static_cast<std::size_t>(count), weight);
}

}  // namespace quorvel
