#include "weighting.hpp"

#include <cmath>

#include "basics.hpp"
#include "inverse.hpp"

namespace quorvel {
namespace {

/// Floor on a diagonal variance before it is inverted (zero, negative and
/// NaN variances all count as this).
constexpr double kVarianceFloor = 1e-18;
/// Floor on every risk-parity weight after each update.
constexpr double kWeightFloor = 1e-12;
/// Floor on the risk aversion of mean-variance weights.
constexpr double kRiskAversionFloor = 1e-12;

FloatVector copy_of(VectorView values) { return FloatVector(values.begin(), values.end()); }

}  // namespace

Result<FloatVector> signal_proportional_weights(VectorView values) {
  if (values.empty()) return fail(CoreError::EmptySignals);
  return normalize_weights(copy_of(values), /*absolute=*/true);
}

Result<FloatVector> target_volatility_weights(VectorView volatility) {
  if (volatility.empty()) return fail(CoreError::EmptyVolatility);
  // Validate everything before computing anything. NaN compares neither way
  // and passes; +inf passes and inverts to zero.
  for (double v : volatility) {
    if (v <= 0.0) return fail(CoreError::NonPositiveVolatility);
  }
  FloatVector inverse(volatility.size());
  for (std::size_t i = 0; i < volatility.size(); ++i) inverse[i] = 1.0 / volatility[i];
  return normalize_weights(std::move(inverse), /*absolute=*/false);
}

Result<InverseWeights> minimum_variance_weights(const MatrixView& covariance,
                                                Interrupt& interrupt) {
  const auto n = check_square_matrix(covariance);
  if (!n) return fail(n.error());
  const Asymmetry asymmetry = first_asymmetry(covariance);
  auto inverse = regularized_inverse(covariance, interrupt);
  if (!inverse) return fail(inverse.error());
  const FloatVector ones(*n, 1.0);
  auto weights =
      normalize_weights(matrix_vector_product(inverse->inverse.view(), ones), /*absolute=*/false);
  if (!weights) return fail(weights.error());
  return InverseWeights{std::move(*weights), inverse->facts, asymmetry};
}

Result<InverseWeights> mean_variance_weights(VectorView expected_returns,
                                             const MatrixView& covariance, double risk_aversion,
                                             Interrupt& interrupt) {
  const auto n = check_square_matrix(covariance);
  if (!n) return fail(n.error());
  if (expected_returns.size() != *n) return fail(CoreError::ExpectedReturnsMismatch);
  const Asymmetry asymmetry = first_asymmetry(covariance);
  auto inverse = regularized_inverse(covariance, interrupt);
  if (!inverse) return fail(inverse.error());
  FloatVector u = matrix_vector_product(inverse->inverse.view(), expected_returns);
  // Dividing by a positive lambda only rescales; it matters for rounding and
  // for the range of doubles (overflow to inf, underflow to zero).
  const double lambda = floor_at(risk_aversion, kRiskAversionFloor);
  for (double& x : u) x = x / lambda;
  auto weights = sum_in_order(u) == 0.0 ? equal_weights(*n)
                                        : normalize_weights(std::move(u), /*absolute=*/false);
  if (!weights) return fail(weights.error());
  return InverseWeights{std::move(*weights), inverse->facts, asymmetry};
}

Result<RiskParity> risk_parity_weights(const MatrixView& covariance, std::uint64_t max_iter,
                                       double tolerance, Interrupt& interrupt) {
  const auto dim = check_square_matrix(covariance);
  if (!dim) return fail(dim.error());
  const std::size_t n = *dim;

  FloatVector start(n);
  const FlooredVariances floored = floored_diagonal(covariance, kVarianceFloor, start.data());
  for (double& w : start) w = 1.0 / std::sqrt(w);
  auto normalized = normalize_weights(std::move(start), /*absolute=*/false);
  if (!normalized) return fail(normalized.error());

  RiskParity out;
  out.floored = floored;
  out.asymmetry = first_asymmetry(covariance);
  out.weights = std::move(*normalized);
  out.tolerance = tolerance;
  if (max_iter == 0) return out;

  FloatVector& w = out.weights;
  FloatVector m(n);
  const double target = 1.0 / static_cast<double>(n);
  out.stop = RiskParityStop::PassesExhausted;
  for (std::uint64_t pass = 0; pass < max_iter; ++pass) {
    if (!interrupt.proceed(n * n + n)) return fail(CoreError::Interrupted);
    matrix_vector_product(covariance, w, m.data());
    const double variance = dot_in_order(w.data(), m.data(), n);
    if (!greater_than_nonnegative(variance, 0.0)) {  // zero, negative or NaN: keep what we have
      out.stop = RiskParityStop::VarianceNotPositive;
      out.variance = variance;
      return out;
    }

    double deviation = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
      // Shares use this pass's m and variance and w[i] before its own
      // update: all assets move together, not one after another.
      const double share = (m[i] * w[i]) / variance;
      if (share > 0.0) w[i] = w[i] * std::sqrt(target / share);
      const double gap = std::fabs(share - target);
      if (gap > deviation) deviation = gap;  // a NaN gap leaves it alone
      w[i] = floor_computed(w[i], kWeightFloor);  // w[i] comes from a division or a product
    }
    normalized = normalize_weights(std::move(w), /*absolute=*/false);
    if (!normalized) return fail(normalized.error());
    w = std::move(*normalized);
    out.passes = pass + 1;
    out.deviation = deviation;
    if (deviation < tolerance) {
      out.stop = RiskParityStop::Converged;
      return out;
    }
  }
  return out;
}

Result<InverseVariance> hierarchical_risk_parity_weights(const MatrixView& covariance) {
  const auto dim = check_square_matrix(covariance);
  if (!dim) return fail(dim.error());
  FloatVector w(*dim);
  const FlooredVariances floored = floored_diagonal(covariance, kVarianceFloor, w.data());
  for (double& v : w) v = 1.0 / v;
  auto normalized = normalize_weights(std::move(w), /*absolute=*/false);
  if (!normalized) return fail(normalized.error());
  return InverseVariance{std::move(*normalized), floored};
}

}  // namespace quorvel
