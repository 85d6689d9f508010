// Kernels for processors with AVX2: four doubles per register. This file
// alone is compiled with -mavx2 (and without fused multiply-add).
#define QUORVEL_KERNEL_TARGET avx2
#include <immintrin.h>

#include "element_loops.hpp"
#include "panel_tiles.hpp"
#include "table.hpp"

namespace quorvel::kernels::avx2 {
namespace {

struct Avx2Ops {
  using Vec = __m256d;
  static constexpr std::size_t kLanes = 4;
  static Vec load(const double* p) noexcept { return _mm256_loadu_pd(p); }
  static void store(double* p, Vec v) noexcept { _mm256_storeu_pd(p, v); }
  static Vec broadcast(double v) noexcept { return _mm256_set1_pd(v); }
  static Vec mul(Vec a, Vec b) noexcept { return _mm256_mul_pd(a, b); }
  static Vec sub(Vec a, Vec b) noexcept { return _mm256_sub_pd(a, b); }
  static Vec div(Vec a, Vec b) noexcept { return _mm256_div_pd(a, b); }
};

/// Rows whose elements are contiguous, B groups of four rows side by side:
/// one lane per row, each lane adding its own products in column order.
/// Two columns of four rows come from four 16-byte loads and one unpack:
/// [r0 | r2] and [r1 | r3] interleave into column j and column j + 1.
/// Rows past `count` repeat the last row and their sums are dropped.
template <std::size_t B, class RowAt>
void rows_across(RowAt row_at, std::size_t count, std::size_t cols, const double* x,
                 double* y) noexcept {
  for (std::size_t i = 0; i < count; i += 4 * B) {
    const double* p[4 * B];
    for (std::size_t l = 0; l < 4 * B; ++l) p[l] = row_at(i + l < count ? i + l : count - 1);
    __m256d acc[B];
    for (std::size_t b = 0; b < B; ++b) acc[b] = _mm256_set1_pd(-0.0);
    const auto pair = [](const double* low, const double* high) {
      return _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(low)), _mm_loadu_pd(high), 1);
    };
    std::size_t j = 0;
    for (; j + 4 <= cols; j += 4) {
      const __m256d xb[4] = {_mm256_set1_pd(x[j]), _mm256_set1_pd(x[j + 1]),
                             _mm256_set1_pd(x[j + 2]), _mm256_set1_pd(x[j + 3])};
      QUORVEL_UNROLL(4)
      for (std::size_t b = 0; b < B; ++b) {
        const double* const* q = p + 4 * b;
        const __m256d even0 = pair(q[0] + j, q[2] + j), odd0 = pair(q[1] + j, q[3] + j);
        const __m256d even1 = pair(q[0] + j + 2, q[2] + j + 2);
        const __m256d odd1 = pair(q[1] + j + 2, q[3] + j + 2);
        acc[b] = _mm256_add_pd(acc[b], _mm256_mul_pd(_mm256_unpacklo_pd(even0, odd0), xb[0]));
        acc[b] = _mm256_add_pd(acc[b], _mm256_mul_pd(_mm256_unpackhi_pd(even0, odd0), xb[1]));
        acc[b] = _mm256_add_pd(acc[b], _mm256_mul_pd(_mm256_unpacklo_pd(even1, odd1), xb[2]));
        acc[b] = _mm256_add_pd(acc[b], _mm256_mul_pd(_mm256_unpackhi_pd(even1, odd1), xb[3]));
      }
    }
    for (; j < cols; ++j) {
      const __m256d xj = _mm256_set1_pd(x[j]);
      for (std::size_t b = 0; b < B; ++b) {
        const double* const* q = p + 4 * b;
        const __m256d c = _mm256_setr_pd(q[0][j], q[1][j], q[2][j], q[3][j]);
        acc[b] = _mm256_add_pd(acc[b], _mm256_mul_pd(c, xj));
      }
    }
    alignas(32) double sums[4 * B];
    for (std::size_t b = 0; b < B; ++b) _mm256_store_pd(sums + 4 * b, acc[b]);
    for (std::size_t l = 0; l < 4 * B && i + l < count; ++l) y[i + l] = sums[l];
  }
}

/// Rows next to each other in memory (row stride 1): each lane loads its
/// own row's element of the column directly. The columns are taken a chunk
/// at a time across all rows, the running sums parked in `y` between
/// chunks, so that only a few columns are streamed from memory at once.
void rows_adjacent(const double* a, std::ptrdiff_t col_stride, std::size_t rows, std::size_t cols,
                   const double* x, double* y) noexcept {
  constexpr std::size_t B = 4;
  constexpr std::size_t kChunk = 16;
  for (std::size_t j0 = 0; j0 < cols; j0 += kChunk) {
    const std::size_t j1 = cols - j0 < kChunk ? cols : j0 + kChunk;
    std::size_t i = 0;
    for (; i + 4 * B <= rows; i += 4 * B) {
      __m256d acc[B];
      for (std::size_t b = 0; b < B; ++b) {
        acc[b] = j0 == 0 ? _mm256_set1_pd(-0.0) : _mm256_loadu_pd(y + i + 4 * b);
      }
      for (std::size_t j = j0; j < j1; ++j) {
        const double* column = a + i + static_cast<std::ptrdiff_t>(j) * col_stride;
        const __m256d xj = _mm256_set1_pd(x[j]);
        QUORVEL_UNROLL(4)
        for (std::size_t b = 0; b < B; ++b) {
          acc[b] = _mm256_add_pd(acc[b], _mm256_mul_pd(_mm256_loadu_pd(column + 4 * b), xj));
        }
      }
      for (std::size_t b = 0; b < B; ++b) _mm256_storeu_pd(y + i + 4 * b, acc[b]);
    }
    for (; i < rows; ++i) {
      double s = j0 == 0 ? -0.0 : y[i];
      for (std::size_t j = j0; j < j1; ++j) {
        s = s + a[static_cast<std::ptrdiff_t>(i) + static_cast<std::ptrdiff_t>(j) * col_stride] *
                    x[j];
      }
      y[i] = s;
    }
  }
  if (cols == 0) {
    for (std::size_t i = 0; i < rows; ++i) y[i] = -0.0;
  }
}

}  // namespace

void matvec(const double* a, std::ptrdiff_t row_stride, std::ptrdiff_t col_stride,
            std::size_t rows, std::size_t cols, const double* x, double* y) noexcept {
  if (rows == 0) return;
  if (col_stride == 1) {
    const auto row_at = [=](std::size_t i) {
      return a + static_cast<std::ptrdiff_t>(i) * row_stride;
    };
    rows_across<2>(row_at, rows, cols, x, y);
  } else if (row_stride == 1) {
    rows_adjacent(a, col_stride, rows, cols, x, y);
  } else {
    matvec_general(a, row_stride, col_stride, rows, cols, x, y);
  }
}

namespace {

void apply_panel_avx2(const PanelUpdate& update) noexcept { apply_panel<Avx2Ops, 4, 3>(update); }

}  // namespace
}  // namespace quorvel::kernels::avx2

namespace quorvel::kernels {

const KernelTable kAvx2Kernels = {"avx2", avx2::matvec, avx2::subtract_scaled,
                                  avx2::apply_panel_avx2, avx2::widen, avx2::column_magnitudes};

}  // namespace quorvel::kernels
