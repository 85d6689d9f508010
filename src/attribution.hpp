// Active-position and return-attribution measures.
#pragma once

#include "types.hpp"

namespace quorvel {

/// Brinson-Fachler effects, each summed over all segments.
struct AttributionEffects {
  double allocation;
  double selection;
  double interaction;
  double total;  ///< (selection + allocation) + interaction
};

/// Per-factor contributions (exposure times factor return) and their sum.
struct FactorDecomposition {
  FloatVector contributions;
  double total;
};

/// Half the sum of |active weight|; -0.0 for no weights.
[[nodiscard]] double active_share(VectorView active_weights) noexcept;

[[nodiscard]] Result<AttributionEffects> brinson_attribution(VectorView portfolio_weights,
                                                             VectorView benchmark_weights,
                                                             VectorView portfolio_returns,
                                                             VectorView benchmark_returns) noexcept;

[[nodiscard]] Result<FactorDecomposition> factor_return_decomposition(
    VectorView exposures, VectorView factor_returns);

}  // namespace quorvel
