// Kernels for processors with AVX-512 (F, DQ, BW, VL): eight doubles per
// register. This file alone is compiled with those instruction sets (and
// without fused multiply-add).
#define QUORVEL_KERNEL_TARGET avx512
#include <immintrin.h>

#include "element_loops.hpp"
#include "panel_tiles.hpp"
#include "table.hpp"

namespace quorvel::kernels::avx512 {
namespace {

struct Avx512Ops {
  using Vec = __m512d;
  static constexpr std::size_t kLanes = 8;
  static Vec load(const double* p) noexcept { return _mm512_loadu_pd(p); }
  static void store(double* p, Vec v) noexcept { _mm512_storeu_pd(p, v); }
  static Vec broadcast(double v) noexcept { return _mm512_set1_pd(v); }
  static Vec mul(Vec a, Vec b) noexcept { return _mm512_mul_pd(a, b); }
  static Vec sub(Vec a, Vec b) noexcept { return _mm512_sub_pd(a, b); }
  static Vec div(Vec a, Vec b) noexcept { return _mm512_div_pd(a, b); }
};

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
    for (; i + 8 * B <= rows; i += 8 * B) {
      __m512d acc[B];
      for (std::size_t b = 0; b < B; ++b) {
        acc[b] = j0 == 0 ? _mm512_set1_pd(-0.0) : _mm512_loadu_pd(y + i + 8 * b);
      }
      for (std::size_t j = j0; j < j1; ++j) {
        const double* column = a + i + static_cast<std::ptrdiff_t>(j) * col_stride;
        const __m512d xj = _mm512_set1_pd(x[j]);
        QUORVEL_UNROLL(4)
        for (std::size_t b = 0; b < B; ++b) {
          acc[b] = _mm512_add_pd(acc[b], _mm512_mul_pd(_mm512_loadu_pd(column + 8 * b), xj));
        }
      }
      for (std::size_t b = 0; b < B; ++b) _mm512_storeu_pd(y + i + 8 * b, acc[b]);
    }
    for (; i < rows; i += 8) {
      const std::size_t width = rows - i < 8 ? rows - i : 8;
      const __mmask8 mask = static_cast<__mmask8>((1u << width) - 1u);
      __m512d acc = j0 == 0 ? _mm512_set1_pd(-0.0) : _mm512_maskz_loadu_pd(mask, y + i);
      for (std::size_t j = j0; j < j1; ++j) {
        const double* column = a + i + static_cast<std::ptrdiff_t>(j) * col_stride;
        const __m512d xj = _mm512_set1_pd(x[j]);
        acc = _mm512_add_pd(acc, _mm512_mul_pd(_mm512_maskz_loadu_pd(mask, column), xj));
      }
      _mm512_mask_storeu_pd(y + i, mask, acc);
    }
  }
  if (cols == 0) {
    for (std::size_t i = 0; i < rows; ++i) y[i] = -0.0;
  }
}

void matvec_avx512(const double* a, std::ptrdiff_t row_stride, std::ptrdiff_t col_stride,
                   std::size_t rows, std::size_t cols, const double* x, double* y) noexcept {
  if (row_stride == 1 && col_stride != 1) {
    rows_adjacent(a, col_stride, rows, cols, x, y);
  } else {
    avx2::matvec(a, row_stride, col_stride, rows, cols, x, y);
  }
}

void apply_panel_avx512(const PanelUpdate& update) noexcept {
  apply_panel<Avx512Ops, 4, 4>(update);
}

}  // namespace
}  // namespace quorvel::kernels::avx512

namespace quorvel::kernels {

const KernelTable kAvx512Kernels = {"avx512", avx512::matvec_avx512, avx512::subtract_scaled,
                                    avx512::apply_panel_avx512, avx512::widen,
                                    avx512::column_magnitudes};

}  // namespace quorvel::kernels
