// Conversion of core results into new Python objects.
#pragma once

#include <bit>
#include <cstdint>

#include "attribution.hpp"
#include "ref.hpp"
#include "risk.hpp"
#include "types.hpp"
#include "weighting.hpp"

namespace quorvel::py {

/// A float.
inline Ref to_python(double value) noexcept { return Ref::steal(PyFloat_FromDouble(value)); }

/// A new list with one float per element, in index order. Floats are
/// immutable, so an element with the very bits of the one before it shares
/// its object (equal weights make one float, not n).
inline Ref to_python(const FloatVector& values) noexcept {
  Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(values.size())));
  if (!list) return list;
  PyObject* previous = nullptr;
  std::uint64_t previous_bits = 0;
  for (std::size_t i = 0; i < values.size(); ++i) {
    const auto bits = std::bit_cast<std::uint64_t>(values[i]);
    PyObject* item = nullptr;
    if (previous != nullptr && bits == previous_bits) {
      Py_INCREF(previous);
      item = previous;
    } else {
      item = PyFloat_FromDouble(values[i]);
      if (item == nullptr) return {};
    }
    PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item);  // steals item
    previous = item;  // the list holds it
    previous_bits = bits;
  }
  return list;
}

/// A tuple of the converted items; each item is converted before the tuple
/// is made, so a failure leaves nothing half-built behind.
template <class... Items>
Ref make_tuple(const Items&... items) noexcept {
  Ref parts[] = {to_python(items)...};
  for (const Ref& part : parts) {
    if (!part) return {};
  }
  Ref tuple = Ref::steal(PyTuple_New(sizeof...(Items)));
  if (!tuple) return tuple;
  for (std::size_t i = 0; i < sizeof...(Items); ++i) {
    PyTuple_SetItem(tuple.get(), static_cast<Py_ssize_t>(i), parts[i].release());
  }
  return tuple;
}

/// (marginal, contribution, share)
inline Ref to_python(const RiskContribution& r) noexcept {
  return make_tuple(r.marginal, r.contribution, r.share);
}

/// (allocation, selection, interaction, total)
inline Ref to_python(const AttributionEffects& e) noexcept {
  return make_tuple(e.allocation, e.selection, e.interaction, e.total);
}

/// Warns with a RuntimeWarning that the risk-parity iteration stopped short of
/// the tolerance it was given. False with the warning raised as an exception
/// (under an "error" filter) or another error set.
[[nodiscard]] bool warn_not_converged(const RiskParity& r);

/// The weights as a list; a RuntimeWarning first when the caller asked for
/// convergence (a tolerance above zero, at least one pass) and the iteration
/// ended without reaching it.
inline Ref to_python(const RiskParity& r) {
  Ref list = to_python(r.weights);
  if (!list) return list;
  const bool stopped_short =
      r.stop == RiskParityStop::PassesExhausted || r.stop == RiskParityStop::VarianceNotPositive;
  if (r.tolerance > 0.0 && stopped_short && !warn_not_converged(r)) return {};
  return list;
}

/// (contributions, total)
inline Ref to_python(const FactorDecomposition& d) noexcept {
  return make_tuple(d.contributions, d.total);
}

}  // namespace quorvel::py
