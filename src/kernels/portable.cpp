// The reference kernels: plain C++ for any processor. The other kernel
// builds must match these bit for bit.
#include "panel_tiles.hpp"
#include "table.hpp"

namespace quorvel::kernels {
namespace {

void portable_matvec(const double* a, std::ptrdiff_t row_stride, std::ptrdiff_t col_stride,
                     std::size_t rows, std::size_t cols, const double* x, double* y) noexcept {
  tiles::matvec_general(a, row_stride, col_stride, rows, cols, x, y);
}

void portable_apply_panel(const PanelUpdate& update) noexcept {
  tiles::apply_panel<tiles::ScalarOps, 4, 2>(update);
}

}  // namespace

const KernelTable kPortableKernels = {"portable", portable_matvec, tiles::matvec_rows_general,
                                      portable_apply_panel};

}  // namespace quorvel::kernels
