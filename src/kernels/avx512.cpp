// Kernels for processors with AVX-512 (F, DQ, BW, VL): eight doubles per
// register. This file alone is compiled with those instruction sets (and
// without fused multiply-add).
#include <immintrin.h>

// GCC 12 reports the deliberately undefined pass-through operand inside its
// own shuffle and unpack intrinsics as possibly uninitialised.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#include "panel_tiles.hpp"
#include "table.hpp"

namespace quorvel::kernels {
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

/// c[t] lane l = v[l][t]: an 8 x 8 block of rows turned into columns.
inline void transpose8(const __m512d v[8], __m512d c[8]) noexcept {
  // Pairs of rows interleaved within each 128-bit lane.
  const __m512d t0 = _mm512_unpacklo_pd(v[0], v[1]), t1 = _mm512_unpackhi_pd(v[0], v[1]);
  const __m512d t2 = _mm512_unpacklo_pd(v[2], v[3]), t3 = _mm512_unpackhi_pd(v[2], v[3]);
  const __m512d t4 = _mm512_unpacklo_pd(v[4], v[5]), t5 = _mm512_unpackhi_pd(v[4], v[5]);
  const __m512d t6 = _mm512_unpacklo_pd(v[6], v[7]), t7 = _mm512_unpackhi_pd(v[6], v[7]);
  // Four rows of one column in each 256-bit half (columns t and t + 4).
  const __m512i even = _mm512_set_epi64(13, 12, 5, 4, 9, 8, 1, 0);
  const __m512i odd = _mm512_set_epi64(15, 14, 7, 6, 11, 10, 3, 2);
  const __m512d s0 = _mm512_permutex2var_pd(t0, even, t2), s2 = _mm512_permutex2var_pd(t0, odd, t2);
  const __m512d s1 = _mm512_permutex2var_pd(t1, even, t3), s3 = _mm512_permutex2var_pd(t1, odd, t3);
  const __m512d s4 = _mm512_permutex2var_pd(t4, even, t6), s6 = _mm512_permutex2var_pd(t4, odd, t6);
  const __m512d s5 = _mm512_permutex2var_pd(t5, even, t7), s7 = _mm512_permutex2var_pd(t5, odd, t7);
  // Rows 0-3 and rows 4-7 of each column joined.
  c[0] = _mm512_shuffle_f64x2(s0, s4, 0x44);
  c[4] = _mm512_shuffle_f64x2(s0, s4, 0xEE);
  c[1] = _mm512_shuffle_f64x2(s1, s5, 0x44);
  c[5] = _mm512_shuffle_f64x2(s1, s5, 0xEE);
  c[2] = _mm512_shuffle_f64x2(s2, s6, 0x44);
  c[6] = _mm512_shuffle_f64x2(s2, s6, 0xEE);
  c[3] = _mm512_shuffle_f64x2(s3, s7, 0x44);
  c[7] = _mm512_shuffle_f64x2(s3, s7, 0xEE);
}

/// Rows whose elements are contiguous, B groups of eight rows side by side:
/// one lane per row, each lane adding its own products in column order.
/// Rows past `count` repeat the last row and their sums are dropped.
template <std::size_t B, class RowAt>
void rows_across(RowAt row_at, std::size_t count, std::size_t cols, const double* x,
                 double* y) noexcept {
  for (std::size_t i = 0; i < count; i += 8 * B) {
    const double* p[8 * B];
    for (std::size_t l = 0; l < 8 * B; ++l) p[l] = row_at(i + l < count ? i + l : count - 1);
    __m512d acc[B];
    for (std::size_t b = 0; b < B; ++b) acc[b] = _mm512_set1_pd(-0.0);
    std::size_t j = 0;
    for (; j < cols; j += 8) {
      const std::size_t width = cols - j < 8 ? cols - j : 8;
      const __mmask8 mask = static_cast<__mmask8>((1u << width) - 1u);
#pragma GCC unroll 4
      for (std::size_t b = 0; b < B; ++b) {
        __m512d v[8];
#pragma GCC unroll 8
        for (std::size_t l = 0; l < 8; ++l) v[l] = _mm512_maskz_loadu_pd(mask, p[8 * b + l] + j);
        __m512d c[8];
        transpose8(v, c);
        if (width == 8) {
#pragma GCC unroll 8
          for (std::size_t t = 0; t < 8; ++t) {
            acc[b] = _mm512_add_pd(acc[b], _mm512_mul_pd(c[t], _mm512_set1_pd(x[j + t])));
          }
        } else {
          for (std::size_t t = 0; t < width; ++t) {
            acc[b] = _mm512_add_pd(acc[b], _mm512_mul_pd(c[t], _mm512_set1_pd(x[j + t])));
          }
        }
      }
    }
    alignas(64) double sums[8 * B];
    for (std::size_t b = 0; b < B; ++b) _mm512_store_pd(sums + 8 * b, acc[b]);
    for (std::size_t l = 0; l < 8 * B && i + l < count; ++l) y[i + l] = sums[l];
  }
}

/// Rows next to each other in memory (row stride 1): each lane loads its
/// own row's element of the column directly.
void rows_adjacent(const double* a, std::ptrdiff_t col_stride, std::size_t rows, std::size_t cols,
                   const double* x, double* y) noexcept {
  constexpr std::size_t B = 4;
  std::size_t i = 0;
  for (; i + 8 * B <= rows; i += 8 * B) {
    __m512d acc[B];
    for (std::size_t b = 0; b < B; ++b) acc[b] = _mm512_set1_pd(-0.0);
    for (std::size_t j = 0; j < cols; ++j) {
      const double* column = a + i + static_cast<std::ptrdiff_t>(j) * col_stride;
      const __m512d xj = _mm512_set1_pd(x[j]);
#pragma GCC unroll 4
      for (std::size_t b = 0; b < B; ++b) {
        acc[b] = _mm512_add_pd(acc[b], _mm512_mul_pd(_mm512_loadu_pd(column + 8 * b), xj));
      }
    }
    for (std::size_t b = 0; b < B; ++b) _mm512_storeu_pd(y + i + 8 * b, acc[b]);
  }
  for (; i < rows; i += 8) {
    const std::size_t width = rows - i < 8 ? rows - i : 8;
    const __mmask8 mask = static_cast<__mmask8>((1u << width) - 1u);
    __m512d acc = _mm512_set1_pd(-0.0);
    for (std::size_t j = 0; j < cols; ++j) {
      const double* column = a + i + static_cast<std::ptrdiff_t>(j) * col_stride;
      acc = _mm512_add_pd(acc, _mm512_mul_pd(_mm512_maskz_loadu_pd(mask, column), _mm512_set1_pd(x[j])));
    }
    _mm512_mask_storeu_pd(y + i, mask, acc);
  }
}

void avx512_matvec(const double* a, std::ptrdiff_t row_stride, std::ptrdiff_t col_stride,
                   std::size_t rows, std::size_t cols, const double* x, double* y) noexcept {
  if (rows == 0) return;
  if (col_stride == 1) {
    const auto row_at = [=](std::size_t i) { return a + static_cast<std::ptrdiff_t>(i) * row_stride; };
    rows_across<2>(row_at, rows, cols, x, y);
  } else if (row_stride == 1) {
    rows_adjacent(a, col_stride, rows, cols, x, y);
  } else {
    tiles::matvec_general(a, row_stride, col_stride, rows, cols, x, y);
  }
}

void avx512_matvec_rows(const double* const* rows, std::size_t count, std::size_t cols,
                        const double* x, double* y) noexcept {
  if (count == 0) return;
  rows_across<2>([=](std::size_t i) { return rows[i]; }, count, cols, x, y);
}

void avx512_apply_panel(const PanelUpdate& update) noexcept {
  tiles::apply_panel<Avx512Ops, 4, 4>(update);
}

}  // namespace

const KernelTable kAvx512Kernels = {"avx512", avx512_matvec, avx512_matvec_rows,
                                    avx512_apply_panel};

}  // namespace quorvel::kernels
