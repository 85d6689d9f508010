// Conversion of core results into new Python objects. Every double leaves
// through here, each NaN as the one canonical quiet NaN, so that results
// agree byte for byte whatever sign or payload the arithmetic left in a
// NaN on this processor, compiler or kernel.
#pragma once

#include "attribution.hpp"
#include "ref.hpp"
#include "risk.hpp"
#include "types.hpp"
#include "warnings.hpp"
#include "weighting.hpp"

namespace quorvel::py {

/// A float.
[[nodiscard]] Ref to_python(double value) noexcept;

/// A new list with one float per element, in index order.
[[nodiscard]] Ref to_python(const FloatVector& values) noexcept;

/// (marginal, contribution, share); a RuntimeWarning first when the
/// variance was NaN or negative.
[[nodiscard]] Ref to_python(const RiskContribution& r, const CallSite& site);

/// (allocation, selection, interaction, total)
[[nodiscard]] Ref to_python(const AttributionEffects& e) noexcept;

/// (contributions, total)
[[nodiscard]] Ref to_python(const FactorDecomposition& d) noexcept;

/// The volatility as a float; a RuntimeWarning first when the variance was
/// NaN or negative.
[[nodiscard]] Ref to_python(const Volatility& v, const CallSite& site);

/// The weights; a RuntimeWarning first when diagonal variances were floored.
[[nodiscard]] Ref to_python(const InverseVariance& w, const CallSite& site);

/// The weights; RuntimeWarnings first when the starting weights floored
/// variances, and when the iteration stopped short of the tolerance asked.
[[nodiscard]] Ref to_python(const RiskParity& r, const CallSite& site);

/// Results that carry no warnings take no call site.
template <class T>
  requires requires(const T& t) { to_python(t); }
[[nodiscard]] Ref to_python(const T& value, const CallSite&) {
  return to_python(value);
}

}  // namespace quorvel::py
