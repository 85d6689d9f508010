// Conversion of core results into new Python objects. Every double leaves
// through here, each NaN as the one canonical quiet NaN, so that results
// agree byte for byte whatever sign or payload the arithmetic left in a
// NaN on this processor, compiler or kernel. What a result's facts make
// the library say is the business of the function's row (warnings.hpp).
#pragma once

#include "attribution.hpp"
#include "ref.hpp"
#include "risk.hpp"
#include "types.hpp"
#include "weighting.hpp"

namespace quorvel::py {

/// A float.
[[nodiscard]] Ref to_python(double value) noexcept;

/// A new list with one float per element, in index order.
[[nodiscard]] Ref to_python(const FloatVector& values) noexcept;

/// (marginal, contribution, share)
[[nodiscard]] Ref to_python(const RiskContribution& r) noexcept;

/// (allocation, selection, interaction, total)
[[nodiscard]] Ref to_python(const AttributionEffects& e) noexcept;

/// (contributions, total)
[[nodiscard]] Ref to_python(const FactorDecomposition& d) noexcept;

/// The volatility as a float.
[[nodiscard]] inline Ref to_python(const Volatility& v) noexcept { return to_python(v.value); }

/// The weights of each weighting result, as a list.
[[nodiscard]] inline Ref to_python(const InverseVariance& w) noexcept { return to_python(w.weights); }
[[nodiscard]] inline Ref to_python(const RiskParity& r) noexcept { return to_python(r.weights); }
[[nodiscard]] inline Ref to_python(const InverseWeights& w) noexcept { return to_python(w.weights); }
[[nodiscard]] inline Ref to_python(const RankWeights& w) noexcept { return to_python(w.weights); }

}  // namespace quorvel::py
