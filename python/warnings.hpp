// RuntimeWarnings for results that are returned as specified but are not
// what the caller meant: a degenerate variance reported as zero risk,
// variances floored into near-total weights, an iteration stopped short.
// Each says which function, what was degenerate, and what was returned
// instead. Each returns false when the warning was turned into an
// exception (a filter set to "error"), which is then set.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "ieee.hpp"
#include "risk.hpp"
#include "weighting.hpp"

namespace quorvel::py {

/// The function a result belongs to, and its parameter names, for messages.
struct CallSite {
  std::string_view function;
  std::span<const std::string_view> parameters;
};

/// The name of parameter `i` of the call.
[[nodiscard]] std::string parameter_name(const CallSite& site, std::size_t i);

// The tests below are inline and cost a comparison or two on every call;
// the messages are made out of line, only when there is something to say.

[[nodiscard]] bool warn_degenerate(const CallSite& site, double variance, const NonFinite& culprit,
                                   std::string_view reported);
[[nodiscard]] bool warn_floored(const CallSite& site, const FlooredVariances& floored,
                                std::string_view one, std::string_view several);
[[nodiscard]] bool warn_not_converged(const CallSite& site, const RiskParity& r);

/// When the variance behind a volatility (or a risk decomposition) is NaN
/// or negative; `reported` says what came back instead ("volatility
/// reported as 0.0"). +0.0 and -0.0 are silent.
[[nodiscard]] inline bool warn_if_degenerate(const CallSite& site, double variance,
                                             const NonFinite& culprit, std::string_view reported) {
  if (!is_nan(variance) && !(variance < 0.0)) return true;
  return warn_degenerate(site, variance, culprit, reported);
}

/// When diagonal variances were NaN or negative and were counted as the
/// floor: "so that asset " + `one`, or "so those assets " + `several`.
[[nodiscard]] inline bool warn_if_floored(const CallSite& site, const FlooredVariances& floored,
                                          std::string_view one, std::string_view several) {
  return floored.count == 0 || warn_floored(site, floored, one, several);
}

/// When risk parity was asked to converge (a tolerance above zero, at least
/// one pass) and stopped without reaching it.
[[nodiscard]] inline bool warn_if_not_converged(const CallSite& site, const RiskParity& r) {
  const bool stopped_short =
      r.stop == RiskParityStop::PassesExhausted || r.stop == RiskParityStop::VarianceNotPositive;
  return !(r.tolerance > 0.0) || !stopped_short || warn_not_converged(site, r);
}

}  // namespace quorvel::py

namespace quorvel::py {

class Conversion;

/// One warning for each disagreement of labels found while the arguments
/// were read: "portfolio_volatility: the index of weights and the columns of
/// covariance differ at position 0 ('a' and 'c'); values are matched by
/// position, not by label".
[[nodiscard]] bool warn_label_mismatches(const CallSite& site, const Conversion& conversion);

}  // namespace quorvel::py
