// What each instruction-set build of the kernels provides, and the builds
// this module was compiled with. Internal to src/kernels.
#pragma once

#include <cstddef>

#include "kernels.hpp"

namespace quorvel::kernels {

struct KernelTable {
  const char* name;
  void (*matvec)(const double* a, std::ptrdiff_t row_stride, std::ptrdiff_t col_stride,
                 std::size_t rows, std::size_t cols, const double* x, double* y) noexcept;
  void (*subtract_scaled)(double* target, const double* pivot_row, double f,
                          std::size_t width) noexcept;
  void (*apply_panel)(const PanelUpdate& update) noexcept;
  void (*widen)(Element element, bool swap, const char* from, std::ptrdiff_t count,
                std::ptrdiff_t stride, double* out) noexcept;
  void (*column_magnitudes)(const double* a, std::size_t rows, std::size_t cols,
                            std::size_t stride, double* sums) noexcept;
};

extern const KernelTable kPortableKernels;
#if QUORVEL_X86_KERNELS
extern const KernelTable kAvx2Kernels;
extern const KernelTable kAvx512Kernels;

namespace avx2 {
// Over rows of contiguous elements the AVX2 matrix-vector kernel beats
// eight-lane transposes on the processors measured, so the AVX-512 build
// uses it there too.
void matvec(const double* a, std::ptrdiff_t row_stride, std::ptrdiff_t col_stride,
            std::size_t rows, std::size_t cols, const double* x, double* y) noexcept;
}  // namespace avx2
#endif

}  // namespace quorvel::kernels
