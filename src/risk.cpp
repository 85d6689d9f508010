#include "risk.hpp"

#include <cmath>
#include <limits>

#include "basics.hpp"

namespace quorvel {
namespace {

constexpr double kLargestDouble = std::numeric_limits<double>::max();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

/// Square matrix first, then a weight vector of the same dimension.
Result<std::size_t> validate(VectorView weights, const MatrixView& covariance) noexcept {
  const auto n = check_square_matrix(covariance);
  if (!n) return n;
  if (weights.size() != *n) return fail(CoreError::CovarianceWeightsMismatch);
  return n;
}

}  // namespace

// The bound. With u = 2^-53 (round to nearest) and subnormals honoured, a
// product rounds to ab(1 + d) + e with |d| <= u and |e| <= eta = 2^-1075
// (the absolute error of landing among the subnormals), and a sum to
// (a + b)(1 + d) with no absolute term (sums of doubles that land among the
// subnormals are exact). portfolio_variance computes y_i = (Sw)_i as an
// n-term dot product in order from -0.0, then v = sum_i w_i y_i as another.
// The usual running-error argument (Higham, Accuracy and Stability of
// Numerical Algorithms, 3.1), with gamma_k = ku / (1 - ku), gives
//   |y_i - (Sw)_i| <= gamma_n (|S||w|)_i + n eta (1 + gamma_n)
//   |v - sum_i w_i y_i| <= gamma_n sum_i |w_i||y_i| + n eta (1 + gamma_n)
// and, with |y_i| <= (1 + gamma_n)(|S||w|)_i + n eta (1 + gamma_n),
// A = |w|'|S||w| and W = sum_i |w_i|,
//   |v - w'Sw| <= (2 gamma_n + gamma_n^2) A + n eta (1 + gamma_n)^2 (W + 1)
//              <= gamma_2n A + n eta (1 + gamma_n)^2 (W + 1).
// So a computed v < 0 with |v| above that bound proves w'Sw < 0: S is not
// positive semi-definite. Within it, the sign is rounding's to give.
//
// The bound is computed in the same arithmetic, so its own rounding must
// only ever make it larger. A_hat and W_hat, sums of non-negative terms,
// are at most 2n and n roundings from A and W (each term passes through at
// most that many), so A <= A_hat / (1 - u)^2n + (underflow, below n eta
// (W + 1) again) and W <= W_hat (1 + gamma_n). Every matrix that fits in
// memory has n <= 2^32, so 2nu <= 2^-20 and gamma_2n (1 + gamma_2n) <
// 2nu (1 + 2^-18). The bound is taken as
//   fl(4nu * A_hat) + fl(n * fl(fl(W_hat + 2) * 2^-1073)),
// where 4nu is exact, 2^-1073 = 4 eta, and every rounding of these few
// operations (among the subnormals an absolute eta, which the + 2 covers)
// costs less than the factor of two each term carries over what the
// derivation needs. If A_hat overflows, no finite bound is known: the sign
// is then not put down to rounding (the caller warns, as for any negative
// variance).
NegativeVariance variance_rounding_bound(VectorView weights, const MatrixView& covariance,
                                         double variance) noexcept {
  const std::size_t n = weights.size();
  double a = 0.0;
  double w = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    double row = 0.0;
    for (std::size_t j = 0; j < n; ++j) row += std::fabs(covariance(i, j)) * std::fabs(weights[j]);
    a += std::fabs(weights[i]) * row;
    w += std::fabs(weights[i]);
  }
  NegativeVariance out;
  if (!(a <= kLargestDouble) || !(w <= kLargestDouble)) {  // overflow (or NaN): no bound
    out.bound = kInfinity;
    return out;
  }
  const auto count = static_cast<double>(n);
  const double relative = (4.0 * count * 0x1p-53) * a;
  const double absolute = count * ((w + 2.0) * 0x1p-1073);
  out.bound = relative + absolute;
  out.within_rounding = -variance <= out.bound;
  return out;
}

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
  Volatility out;
  out.value = std::sqrt(keep_positive(*variance));
  out.variance = *variance;
  if (is_nan(*variance)) out.culprit = first_nonfinite(weights, covariance);
  // The one test an ordinary call pays: the bound is worked out only for
  // the rare negative variance.
  if (*variance < 0.0) out.negative = variance_rounding_bound(weights, covariance, *variance);
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
  if (out.variance < 0.0) out.negative = variance_rounding_bound(weights, covariance, out.variance);

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
