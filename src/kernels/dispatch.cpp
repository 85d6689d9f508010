// Picks the kernels once per process: the widest build that the processor
// runs, lowered (never raised) by QUORVEL_KERNELS=portable|avx2|avx512.
#include <cstdlib>
#include <cstring>

#include "kernels.hpp"
#include "panel_tiles.hpp"
#include "table.hpp"

namespace quorvel::kernels {
namespace {

const KernelTable* choose() noexcept {
#if QUORVEL_X86_KERNELS
  const KernelTable* const levels[] = {&kPortableKernels, &kAvx2Kernels, &kAvx512Kernels};
  __builtin_cpu_init();
  int supported = 0;
  if (__builtin_cpu_supports("avx2")) {
    supported = 1;
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
        __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl")) {
      supported = 2;
    }
  }
  int level = supported;
  if (const char* wanted = std::getenv("QUORVEL_KERNELS")) {
    for (int i = 0; i < 3; ++i) {
      if (std::strcmp(wanted, levels[i]->name) == 0 && i < level) level = i;
    }
  }
  return levels[level];
#else
  return &kPortableKernels;
#endif
}

const KernelTable& table() noexcept {
  static const KernelTable* const chosen = choose();
  return *chosen;
}

}  // namespace

void matvec(const double* a, std::ptrdiff_t row_stride, std::ptrdiff_t col_stride,
            std::size_t rows, std::size_t cols, const double* x, double* y) noexcept {
  table().matvec(a, row_stride, col_stride, rows, cols, x, y);
}

void matvec_rows(const double* const* rows, std::size_t count, std::size_t cols, const double* x,
                 double* y) noexcept {
  // A handful of rows is done before any wide kernel would have set up.
  if (count < 4) return tiles::matvec_rows_general(rows, count, cols, x, y);
  table().matvec_rows(rows, count, cols, x, y);
}

void apply_panel(const PanelUpdate& update) noexcept { table().apply_panel(update); }

const char* active_kernels() noexcept { return table().name; }

}  // namespace quorvel::kernels
