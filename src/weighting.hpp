// Weighting schemes: each returns weights in input order, scaled to sum to one.
#pragma once

#include <cstdint>

#include "types.hpp"

namespace quorvel {

/// Signals over the sum of their magnitudes (unit gross exposure), in place.
[[nodiscard]] Result<FloatVector> signal_proportional_weights(FloatVector values) noexcept;

/// Inverse volatilities (1/sigma) over their sum, in place.
[[nodiscard]] Result<FloatVector> target_volatility_weights(FloatVector volatility) noexcept;

/// Row sums of the regularised inverse covariance, over their sum.
[[nodiscard]] Result<FloatVector> minimum_variance_weights(const FloatMatrix& covariance);

/// Inverse covariance times expected returns over max(risk_aversion, 1e-12),
/// over its sum; equal weights when that sum is exactly zero.
[[nodiscard]] Result<FloatVector> mean_variance_weights(const FloatVector& expected_returns,
                                                        const FloatMatrix& covariance,
                                                        double risk_aversion);

/// Multiplicative fixed-point iteration towards equal shares of variance,
/// started from inverse-volatility weights.
[[nodiscard]] Result<FloatVector> risk_parity_weights(const FloatMatrix& covariance,
                                                      std::uint64_t max_iter, double tolerance);

/// Inverse-variance weights from the covariance diagonal (no clustering).
[[nodiscard]] Result<FloatVector> hierarchical_risk_parity_weights(const FloatMatrix& covariance);

/// Ranks 1..n by a stable sort (ascending or descending), over their sum.
[[nodiscard]] Result<FloatVector> rank_weights(const FloatVector& values, bool ascending);

}  // namespace quorvel
