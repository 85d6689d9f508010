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

}  // namespace

Result<FloatVector> signal_proportional_weights(FloatVector values) noexcept {
  if (values.empty()) return fail(CoreError::EmptySignals);
  return normalize_weights(std::move(values), /*absolute=*/true);
}

Result<FloatVector> target_volatility_weights(FloatVector volatility) noexcept {
  if (volatility.empty()) return fail(CoreError::EmptyVolatility);
  // Validate everything before touching anything. NaN compares neither way
  // and passes; +inf passes and inverts to zero.
  for (double v : volatility) {
    if (v <= 0.0) return fail(CoreError::NonPositiveVolatility);
  }
  for (double& v : volatility) v = 1.0 / v;
  return normalize_weights(std::move(volatility), /*absolute=*/false);
}

Result<FloatVector> minimum_variance_weights(const FloatMatrix& covariance) {
  const auto n = check_square_matrix(covariance);
  if (!n) return fail(n.error());
  auto inverse = regularized_inverse(covariance);
  if (!inverse) return fail(inverse.error());
  const FloatVector ones(*n, 1.0);
  return normalize_weights(matrix_vector_product(*inverse, ones), /*absolute=*/false);
}

Result<FloatVector> mean_variance_weights(const FloatVector& expected_returns,
                                          const FloatMatrix& covariance, double risk_aversion) {
  const auto n = check_square_matrix(covariance);
  if (!n) return fail(n.error());
  if (expected_returns.size() != *n) return fail(CoreError::ExpectedReturnsMismatch);
  auto inverse = regularized_inverse(covariance);
  if (!inverse) return fail(inverse.error());
  FloatVector u = matrix_vector_product(*inverse, expected_returns);
  // Dividing by a positive lambda only rescales; it matters for rounding and
  // for the range of doubles (overflow to inf, underflow to zero).
  const double lambda = floor_at(risk_aversion, kRiskAversionFloor);
  for (double& x : u) x = x / lambda;
  if (sum_in_order(u) == 0.0) return equal_weights(*n);
  return normalize_weights(std::move(u), /*absolute=*/false);
}

Result<FloatVector> risk_parity_weights(const FloatMatrix& covariance, std::uint64_t max_iter,
                                        double tolerance) {
  const auto dim = check_square_matrix(covariance);
  if (!dim) return fail(dim.error());
  const std::size_t n = *dim;

  FloatVector start(n);
  for (std::size_t i = 0; i < n; ++i) {
    start[i] = 1.0 / std::sqrt(floor_at(covariance[i][i], kVarianceFloor));
  }
  auto normalized = normalize_weights(std::move(start), /*absolute=*/false);
  if (!normalized) return normalized;
  FloatVector w = std::move(*normalized);
  if (max_iter == 0) return w;

  const double target = 1.0 / static_cast<double>(n);
  for (std::uint64_t pass = 0; pass < max_iter; ++pass) {
    const FloatVector m = matrix_vector_product(covariance, w);
    const double variance = dot_in_order(w.data(), m.data(), n);
    if (!(variance > 0.0)) return w;  // zero, negative or NaN: keep what we have

    double deviation = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
      // Shares use this pass's m and variance and w[i] before its own
      // update: all assets move together, not one after another.
      const double share = (m[i] * w[i]) / variance;
      if (share > 0.0) w[i] = w[i] * std::sqrt(target / share);
      const double gap = std::fabs(share - target);
      if (gap > deviation) deviation = gap;  // a NaN gap leaves it alone
      w[i] = floor_at(w[i], kWeightFloor);
    }
    normalized = normalize_weights(std::move(w), /*absolute=*/false);
    if (!normalized) return normalized;
    w = std::move(*normalized);
    if (deviation < tolerance) return w;
  }
  return w;
}

Result<FloatVector> hierarchical_risk_parity_weights(const FloatMatrix& covariance) {
  const auto dim = check_square_matrix(covariance);
  if (!dim) return fail(dim.error());
  FloatVector w(*dim);
  for (std::size_t i = 0; i < *dim; ++i) {
    w[i] = 1.0 / floor_at(covariance[i][i], kVarianceFloor);
  }
  return normalize_weights(std::move(w), /*absolute=*/false);
}

}  // namespace quorvel
