// Value types shared by every routine of the computation core.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "arithmetic.hpp"
#include "core_error.hpp"
#include "result.hpp"

namespace quorvel {

/// An owned, ordered run of IEEE doubles: results, and working vectors.
using FloatVector = std::vector<double>;

/// A read-only run of doubles that someone else owns: weights, returns,
/// signals, volatilities and exposures all reach the core this way.
using VectorView = std::span<const double>;

/// A read-only matrix that someone else owns: element (i, j) lives at
/// data[i * row_stride + j * col_stride]. Strides count doubles and may be
/// zero or negative, so a transposed, sliced or broadcast array is read where
/// it lies.
///
/// A matrix that arrived as rows of unequal length is `ragged`: `cols` is then
/// the length of the first row, and the elements are not available (the only
/// thing the core does with such a matrix is refuse it).
struct MatrixView {
  const double* data = nullptr;
  std::size_t rows = 0;
  std::size_t cols = 0;
  std::ptrdiff_t row_stride = 0;
  std::ptrdiff_t col_stride = 1;
  bool ragged = false;

  [[nodiscard]] double operator()(std::size_t i, std::size_t j) const noexcept {
    return data[static_cast<std::ptrdiff_t>(i) * row_stride +
                static_cast<std::ptrdiff_t>(j) * col_stride];
  }
  /// Where row i starts; its elements are col_stride apart.
  [[nodiscard]] const double* row(std::size_t i) const noexcept {
    return data + static_cast<std::ptrdiff_t>(i) * row_stride;
  }
  /// A rows x cols block stored row after row with no gaps.
  [[nodiscard]] static MatrixView dense(const double* data, std::size_t rows,
                                        std::size_t cols) noexcept {
    return {data, rows, cols, static_cast<std::ptrdiff_t>(cols), 1, false};
  }
};

}  // namespace quorvel
