// Risk of a weight vector under a covariance matrix.
#pragma once

#include "basics.hpp"
#include "types.hpp"

namespace quorvel {

/// A volatility, and the variance it was taken from. A variance that is
/// NaN or negative is reported as a volatility of 0.0; `culprit` then says
/// which input made a NaN variance.
struct Volatility {
  double value;
  double variance;
  NonFinite culprit;
};

/// The decomposition of portfolio volatility, one entry per asset.
struct RiskContribution {
  FloatVector marginal;      ///< (S w)_i / sigma
  FloatVector contribution;  ///< w_i * marginal_i
  FloatVector share;         ///< contribution_i / sigma
  double variance = 0.0;     ///< w . (S w), unclamped
  NonFinite culprit;         ///< for a NaN variance, as in Volatility
};

/// w . (S w), unclamped: may be negative, -0.0, infinite or NaN.
[[nodiscard]] Result<double> portfolio_variance(VectorView weights, const MatrixView& covariance);

/// Square root of the variance clamped at +0.0: never negative, never NaN.
[[nodiscard]] Result<Volatility> portfolio_volatility(VectorView weights,
                                                      const MatrixView& covariance);

/// portfolio_volatility of a vector of active weights.
[[nodiscard]] Result<Volatility> tracking_error(VectorView active_weights,
                                                const MatrixView& covariance);

/// Marginal contributions, contributions and shares of risk.
[[nodiscard]] Result<RiskContribution> risk_contribution(VectorView weights,
                                                         const MatrixView& covariance);

}  // namespace quorvel
