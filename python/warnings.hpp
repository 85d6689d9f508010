// RuntimeWarnings for results that are returned as specified but are not
// what the caller meant: a degenerate variance reported as zero risk,
// variances floored into near-total weights, an iteration stopped short.
// Each says which function, what was degenerate, and what was returned
// instead. Each returns false when the warning was turned into an
// exception (a filter set to "error"), which is then set.
#pragma once

#include <span>
#include <string_view>

#include "risk.hpp"
#include "weighting.hpp"

namespace quorvel::py {

/// The function a result belongs to, and its parameter names, for messages.
struct CallSite {
  std::string_view function;
  std::span<const std::string_view> parameters;
};

/// When the variance behind a volatility (or a risk decomposition) is NaN
/// or negative; `reported` says what came back instead ("volatility
/// reported as 0.0").
[[nodiscard]] bool warn_if_degenerate(const CallSite& site, double variance,
                                      const NonFinite& culprit, std::string_view reported);

/// When diagonal variances were NaN or negative and were counted as the
/// floor: "so that asset " + `one`, or "so those assets " + `several`.
[[nodiscard]] bool warn_if_floored(const CallSite& site, const FlooredVariances& floored,
                                   std::string_view one, std::string_view several);

/// When risk parity was asked to converge (a tolerance above zero, at least
/// one pass) and stopped without reaching it.
[[nodiscard]] bool warn_if_not_converged(const CallSite& site, const RiskParity& r);

}  // namespace quorvel::py
