// Risk of a weight vector under a covariance matrix.
#pragma once

#include "basics.hpp"
#include "types.hpp"

namespace quorvel {

/// A negative computed variance w . (S w) set against the rounding error
/// bound of the computation that produced it. Worked out only when the
/// variance is negative; otherwise it stays as default-constructed.
struct NegativeVariance {
  /// An upper bound on |computed variance - exact w'Sw| for the w and S
  /// given (see variance_rounding_bound); +inf when computing it overflowed.
  double bound = 0.0;
  /// |variance| <= bound: rounding alone can explain the sign, and the
  /// exact w'Sw may well be zero. When false, w'Sw < 0 for certain, so S
  /// is not positive semi-definite.
  bool within_rounding = false;
};

/// A volatility, and the variance it was taken from. A variance that is
/// NaN or negative is reported as a volatility of 0.0; `culprit` then says
/// which input made a NaN variance, and `negative` whether a negative one
/// is more than rounding.
struct Volatility {
  double value = 0.0;
  double variance = 0.0;
  NonFinite culprit;
  NegativeVariance negative;
};

/// The decomposition of portfolio volatility, one entry per asset.
struct RiskContribution {
  FloatVector marginal;      ///< (S w)_i / sigma
  FloatVector contribution;  ///< w_i * marginal_i
  FloatVector share;         ///< contribution_i / sigma
  double variance = 0.0;     ///< w . (S w), unclamped
  NonFinite culprit;         ///< for a NaN variance, as in Volatility
  NegativeVariance negative;  ///< for a negative variance, as in Volatility
};

/// The rounding error bound of a variance computed by portfolio_variance
/// from `weights` and `covariance` (already validated), set against the
/// negative `variance` it gave. O(n^2); called only for negative variances.
[[nodiscard]] NegativeVariance variance_rounding_bound(VectorView weights,
                                                       const MatrixView& covariance,
                                                       double variance) noexcept;

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
