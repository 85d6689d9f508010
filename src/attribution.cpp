#include "attribution.hpp"

#include <cmath>

#include "basics.hpp"

namespace quorvel {

double active_share(VectorView active_weights) noexcept {
  double sum = -0.0;
  for (double a : active_weights) sum += std::fabs(a);
  return sum * 0.5;
}

Result<AttributionEffects> brinson_attribution(VectorView portfolio_weights,
                                               VectorView benchmark_weights,
                                               VectorView portfolio_returns,
                                               VectorView benchmark_returns) noexcept {
  const std::size_t n = portfolio_weights.size();
  if (benchmark_weights.size() != n || portfolio_returns.size() != n ||
      benchmark_returns.size() != n) {
    return fail(CoreError::InputLengthMismatch);
  }
  // The effects start from +0.0 (an empty attribution is four positive
  // zeros); the benchmark total, a plain sum, starts from -0.0.
  AttributionEffects e{0.0, 0.0, 0.0, 0.0};
  if (n != 0) {
    const double benchmark_total =
        dot_in_order(benchmark_weights.data(), benchmark_returns.data(), n);
    for (std::size_t i = 0; i < n; ++i) {
      const double wp = portfolio_weights[i], wb = benchmark_weights[i];
      const double rp = portfolio_returns[i], rb = benchmark_returns[i];
      e.selection += wb * (rp - rb);
      e.allocation += (wp - wb) * (rb - benchmark_total);
      e.interaction += (rp - rb) * (wp - wb);
    }
  }
  e.total = (e.selection + e.allocation) + e.interaction;
  return e;
}

Result<FactorDecomposition> factor_return_decomposition(VectorView exposures,
                                                        VectorView factor_returns) {
  if (exposures.size() != factor_returns.size()) return fail(CoreError::ExposureLengthMismatch);
  FactorDecomposition out;
  out.contributions.resize(exposures.size());
  for (std::size_t i = 0; i < exposures.size(); ++i) {
    out.contributions[i] = exposures[i] * factor_returns[i];
  }
  out.total = sum_in_order(out.contributions);
  return out;
}

}  // namespace quorvel
