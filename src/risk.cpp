#include "risk.hpp"

#include <cmath>

#include "basics.hpp"

namespace quorvel {
namespace {

/// Square matrix first, then a weight vector of the same dimension.
Result<std::size_t> validate(VectorView weights, const MatrixView& covariance) noexcept {
  const auto n = check_square_matrix(covariance);
  if (!n) return n;
  if (weights.size() != *n) return fail(CoreError::CovarianceWeightsMismatch);
  return n;
}

}  // namespace

Result<double> portfolio_variance(VectorView weights, const MatrixView& covariance) {
  const auto n = validate(weights, covariance);
  if (!n) return fail(n.error());
  // Sw is needed only for the final dot product: small portfolios keep it
  // on the stack.
  constexpr std::size_t kOnStack = 64;
  double local[kOnStack];
  FloatVector heap;
  double* sw = local;
  if (*n > kOnStack) {
    heap.resize(*n);
    sw = heap.data();
  }
  matrix_vector_product(covariance, weights, sw);
  return dot_in_order(weights.data(), sw, *n);
}

Result<Volatility> portfolio_volatility(VectorView weights, const MatrixView& covariance) {
  const auto variance = portfolio_variance(weights, covariance);
  if (!variance) return fail(variance.error());
  Volatility out{std::sqrt(keep_positive(*variance)), *variance, {}};
  if (is_nan(*variance)) out.culprit = first_nonfinite(weights, covariance);
  return out;
}

Result<Volatility> tracking_error(VectorView active_weights, const MatrixView& covariance) {
  return portfolio_volatility(active_weights, covariance);
}

Result<RiskContribution> risk_contribution(VectorView weights, const MatrixView& covariance) {
  const auto dim = validate(weights, covariance);
  if (!dim) return fail(dim.error());
  const std::size_t n = *dim;

  RiskContribution out;
  out.marginal = matrix_vector_product(covariance, weights);
  out.variance = dot_in_order(weights.data(), out.marginal.data(), n);
  const double variance = keep_positive(out.variance);
  const double sigma = std::sqrt(variance);
  const bool degenerate = variance == 0.0;
  if (degenerate && is_nan(out.variance)) out.culprit = first_nonfinite(weights, covariance);

  if (degenerate) {
    out.marginal.assign(n, 0.0);
  } else {
    for (double& m : out.marginal) m = m / sigma;
  }
  // Formed in both cases: a negative weight against a zero marginal gives
  // -0.0, an infinite or NaN weight gives NaN.
  out.contribution.resize(n);
  for (std::size_t i = 0; i < n; ++i) out.contribution[i] = weights[i] * out.marginal[i];
  if (degenerate) {
    out.share.assign(n, 0.0);
  } else {
    out.share.resize(n);
    for (std::size_t i = 0; i < n; ++i) out.share[i] = out.contribution[i] / sigma;
  }
  return out;
}

}  // namespace quorvel
