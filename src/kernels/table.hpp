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
  void (*matvec_rows)(const double* const* rows, std::size_t count, std::size_t cols,
                      const double* x, double* y) noexcept;
  void (*apply_panel)(const PanelUpdate& update) noexcept;
};

extern const KernelTable kPortableKernels;
#if QUORVEL_X86_KERNELS
extern const KernelTable kAvx2Kernels;
extern const KernelTable kAvx512Kernels;

// The AVX2 build's matrix-vector kernels. Over rows of contiguous elements
// they beat eight-lane transposes on the processors measured, so the
// AVX-512 build uses them there too.
void avx2_matvec(const double* a, std::ptrdiff_t row_stride, std::ptrdiff_t col_stride,
                 std::size_t rows, std::size_t cols, const double* x, double* y) noexcept;
void avx2_matvec_rows(const double* const* rows, std::size_t count, std::size_t cols,
                      const double* x, double* y) noexcept;
#endif

}  // namespace quorvel::kernels
