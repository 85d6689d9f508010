// Weighting schemes: each returns weights in input order, scaled to sum to one.
#pragma once

#include <cstdint>

#include "basics.hpp"
#include "interrupt.hpp"
#include "inverse.hpp"
#include "types.hpp"

namespace quorvel {

/// Signals over the sum of their magnitudes (unit gross exposure).
[[nodiscard]] Result<FloatVector> signal_proportional_weights(VectorView values);

/// Inverse volatilities (1/sigma) over their sum.
[[nodiscard]] Result<FloatVector> target_volatility_weights(VectorView volatility);

/// Weights built on the inverse of a covariance, and what the caller
/// should hear about that covariance and its inversion.
struct InverseWeights {
  FloatVector weights;
  InversionFacts inversion;
  Asymmetry asymmetry;  ///< the covariance as given
};

/// Row sums of the regularised inverse covariance, over their sum.
[[nodiscard]] Result<InverseWeights> minimum_variance_weights(const MatrixView& covariance,
                                                              Interrupt& interrupt);

/// Inverse covariance times expected returns over max(risk_aversion, 1e-12),
/// over its sum; equal weights when that sum is exactly zero.
[[nodiscard]] Result<InverseWeights> mean_variance_weights(VectorView expected_returns,
                                                           const MatrixView& covariance,
                                                           double risk_aversion,
                                                           Interrupt& interrupt);

/// Why the risk-parity iteration ended.
enum class RiskParityStop {
  NoPasses,             ///< max_iter was 0: the starting weights
  Converged,            ///< the largest deviation fell below the tolerance
  VarianceNotPositive,  ///< a pass found a zero, negative or NaN variance
  PassesExhausted,      ///< max_iter passes ran without converging
};

/// The weights of the risk-parity iteration and how it ended.
struct RiskParity {
  FloatVector weights;
  RiskParityStop stop = RiskParityStop::NoPasses;
  std::uint64_t passes = 0;  ///< passes that updated the weights
  double deviation = 0.0;    ///< largest |share - 1/n| of the last such pass
  double tolerance = 0.0;    ///< the tolerance the caller asked for
  double variance = 0.0;     ///< on VarianceNotPositive: the variance found
  FlooredVariances floored;  ///< diagonal variances the starting weights floored
  Asymmetry asymmetry;       ///< the covariance as given
};

/// Inverse-variance weights, and the diagonal variances that were floored.
struct InverseVariance {
  FloatVector weights;
  FlooredVariances floored;
};

/// Multiplicative fixed-point iteration towards equal shares of variance,
/// started from inverse-volatility weights.
[[nodiscard]] Result<RiskParity> risk_parity_weights(const MatrixView& covariance,
                                                     std::uint64_t max_iter, double tolerance,
                                                     Interrupt& interrupt);

/// Inverse-variance weights from the covariance diagonal (no clustering).
[[nodiscard]] Result<InverseVariance> hierarchical_risk_parity_weights(
    const MatrixView& covariance);

/// Rank weights, and the NaNs among the values ranked (each compares equal
/// to every value, so the ranks around it do not follow the values).
struct RankWeights {
  FloatVector weights;
  NaNs nans;
};

/// Ranks 1..n by a stable sort (ascending or descending), over their sum.
[[nodiscard]] Result<RankWeights> rank_weights(VectorView values, bool ascending);

}  // namespace quorvel
