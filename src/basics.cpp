#include "basics.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
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

namespace {

/// Rows and columns of the square tiles the symmetry test works in: a tile
/// and its mirror (2 x 8 KiB) stay in the first-level cache together, so
/// the transposed entries, read down a column, come from cache.
constexpr std::size_t kTile = 32;

/// Whether some pair of mirrored entries of the n x n matrix at `data`,
/// whose rows are `rs` apart and whose columns are adjacent, has different
/// bits. (+0.0 against -0.0, and two NaNs, differ here; the caller looks
/// again at such a pair.) One branch-free sweep over the tiles: in a full
/// tile off the diagonal, the inner loop has a fixed length and runs down
/// a column for one entry and along a row for its mirror.
bool any_mirror_differs(const double* data, std::size_t n, std::ptrdiff_t rs) noexcept {
  std::uint64_t differ = 0;
  const auto bits = [](double v) { return std::bit_cast<std::uint64_t>(v); };
  if (n <= kTile) {
    // One tile: each row left of the diagonal against its column above it.
    for (std::size_t i = 1; i < n; ++i) {
      const double* const row = data + static_cast<std::ptrdiff_t>(i) * rs;
      const double* const column = data + i;
      for (std::size_t j = 0; j < i; ++j) {
        differ |= bits(row[j]) ^ bits(column[static_cast<std::ptrdiff_t>(j) * rs]);
      }
    }
    return differ != 0;
  }
  for (std::size_t i0 = 0; i0 < n; i0 += kTile) {
    const std::size_t i1 = std::min(n, i0 + kTile);
    const double* const band = data + static_cast<std::ptrdiff_t>(i0) * rs;
    for (std::size_t j0 = i0; j0 < n; j0 += kTile) {
      const std::size_t j1 = std::min(n, j0 + kTile);
      for (std::size_t j = j0; j < j1; ++j) {
        const double* const mirror = data + static_cast<std::ptrdiff_t>(j) * rs;  // (j, i) at i
        const double* const column = band + j;  // (i0 + k, j) at k * rs
        if (j0 != i0 && i1 - i0 == kTile) {
          for (std::size_t k = 0; k < kTile; ++k) {
            differ |= bits(mirror[i0 + k]) ^ bits(column[static_cast<std::ptrdiff_t>(k) * rs]);
          }
        } else {
          const std::size_t rows = std::min(i1, j) - std::min(i0, std::min(i1, j));
          for (std::size_t k = 0; k < rows; ++k) {
            differ |= bits(mirror[i0 + k]) ^ bits(column[static_cast<std::ptrdiff_t>(k) * rs]);
          }
        }
      }
    }
  }
  return differ != 0;
}

/// The same for any strides.
bool any_mirror_differs(const MatrixView& m) noexcept {
  // M and its transpose have the same mirrored pairs: read it along its
  // unit stride, whichever that is.
  if (m.col_stride == 1) return any_mirror_differs(m.data, m.rows, m.row_stride);
  if (m.row_stride == 1) return any_mirror_differs(m.data, m.rows, m.col_stride);
  for (std::size_t i = 0; i < m.rows; ++i) {
    for (std::size_t j = i + 1; j < m.rows; ++j) {
      if (std::bit_cast<std::uint64_t>(m(i, j)) != std::bit_cast<std::uint64_t>(m(j, i))) return true;
    }
  }
  return false;
}

}  // namespace

Asymmetry first_asymmetry(const MatrixView& matrix) noexcept {
  Asymmetry out;
  if (!any_mirror_differs(matrix)) return out;  // the usual case: one sweep
  // Some pair differs in its bits: find the first that differs in value.
  // Within a band of rows every tile is searched before the earliest pair
  // is taken, so tiling does not change which is first.
  const std::size_t n = matrix.rows;
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
