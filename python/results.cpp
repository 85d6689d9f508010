#include "results.hpp"

#include <bit>
#include <cstdint>

#include "ieee.hpp"

namespace quorvel::py {
namespace {

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

}  // namespace

Ref to_python(double value) noexcept { return Ref::steal(PyFloat_FromDouble(canonical(value))); }

Ref to_python(const FloatVector& values) noexcept {
  Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(values.size())));
  if (!list) return list;
  // Floats are immutable, so an element with the very bits of the one
  // before it shares its object (equal weights make one float, not n).
  PyObject* previous = nullptr;
  std::uint64_t previous_bits = 0;
  const double* const data = values.data();
  const std::size_t n = values.size();
  for (std::size_t i = 0; i < n; ++i) {
    const auto bits = std::bit_cast<std::uint64_t>(data[i]);
    PyObject* item = nullptr;
    if (previous != nullptr && bits == previous_bits) {
      Py_INCREF(previous);
      item = previous;
    } else {
      item = PyFloat_FromDouble(canonical(data[i]));
      if (item == nullptr) return {};
    }
    PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item);  // steals item
    previous = item;  // the list holds it
    previous_bits = bits;
  }
  return list;
}

Ref to_python(const RiskContribution& r) noexcept {
  return make_tuple(r.marginal, r.contribution, r.share);
}

Ref to_python(const AttributionEffects& e) noexcept {
  return make_tuple(e.allocation, e.selection, e.interaction, e.total);
}

Ref to_python(const FactorDecomposition& d) noexcept { return make_tuple(d.contributions, d.total); }

}  // namespace quorvel::py
