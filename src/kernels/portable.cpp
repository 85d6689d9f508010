// The reference kernels: plain C++ for any processor. The other kernel
// builds must match these bit for bit.
#define QUORVEL_KERNEL_TARGET portable
#include "element_loops.hpp"
#include "panel_tiles.hpp"
#include "table.hpp"

namespace quorvel::kernels::portable {
namespace {

void apply_panel_scalar(const PanelUpdate& update) noexcept {
  apply_panel<ScalarOps, 4, 2>(update);
}

}  // namespace
}  // namespace quorvel::kernels::portable

namespace quorvel::kernels {

const KernelTable kPortableKernels = {"portable", portable::matvec_general,
                                      portable::subtract_scaled, portable::apply_panel_scalar,
                                      portable::widen, portable::column_magnitudes};

}  // namespace quorvel::kernels
