// Risk of a weight vector under a covariance matrix.
#pragma once

#include "types.hpp"

namespace quorvel {

/// The decomposition of portfolio volatility, one entry per asset.
struct RiskContribution {
  FloatVector marginal;      ///< (S w)_i / sigma
  FloatVector contribution;  ///< w_i * marginal_i
  FloatVector share;         ///< contribution_i / sigma
};

/// w . (S w), unclamped: may be negative, -0.0, infinite or NaN.
[[nodiscard]] Result<double> portfolio_variance(VectorView weights, const MatrixView& covariance);

/// Square root of the variance clamped at +0.0: never negative, never NaN.
[[nodiscard]] Result<double> portfolio_volatility(VectorView weights,
                                                  const MatrixView& covariance);

/// portfolio_volatility of a vector of active weights.
[[nodiscard]] Result<double> tracking_error(VectorView active_weights,
                                            const MatrixView& covariance);

/// Marginal contributions, contributions and shares of risk.
[[nodiscard]] Result<RiskContribution> risk_contribution(VectorView weights,
                                                         const MatrixView& covariance);

}  // namespace quorvel
