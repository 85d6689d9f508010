// Decisions on doubles that must come out the same on every processor and
// compiler, NaN included.
//
// A comparison such as `v > floor ? v : floor` is what the arithmetic
// means, but an optimiser may turn it into a max instruction (fmaxnm on
// AArch64) that treats a signalling NaN differently from a quiet one. These
// helpers decide on the bits instead, which no compiler rewrites, so every
// NaN of either kind and either sign gets the same answer everywhere.
#pragma once

#include <bit>
#include <cstdint>

#include "arithmetic.hpp"

namespace quorvel {

inline constexpr std::uint64_t kSignBit = 0x8000000000000000u;
inline constexpr std::uint64_t kInfinityBits = 0x7ff0000000000000u;
/// The quiet NaN that Python's float('nan') holds: every NaN a result
/// carries out of the library is this one, so that results agree byte for
/// byte whatever sign or payload the arithmetic left in it.
inline constexpr std::uint64_t kCanonicalNanBits = 0x7ff8000000000000u;

[[nodiscard]] inline bool is_nan(double v) noexcept {
  return (std::bit_cast<std::uint64_t>(v) & ~kSignBit) > kInfinityBits;
}

[[nodiscard]] inline double canonical_nan() noexcept {
  return std::bit_cast<double>(kCanonicalNanBits);
}

/// `v`, or the canonical NaN when `v` is any NaN.
[[nodiscard]] inline double canonical(double v) noexcept { return is_nan(v) ? canonical_nan() : v; }

/// Whether `v` compares greater than `limit`, where `limit` is +0.0 or a
/// positive finite number: false for every NaN, -0.0 and negative value.
/// Non-negative doubles order as their bit patterns do, and every negative
/// value (-0.0 included) has the sign bit set, a negative integer here.
[[nodiscard]] inline bool greater_than_nonnegative(double v, double limit) noexcept {
  return !is_nan(v) && std::bit_cast<std::int64_t>(v) > std::bit_cast<std::int64_t>(limit);
}

/// The larger of `value` and a positive `floor`; every NaN gives the floor.
[[nodiscard]] inline double floor_at(double value, double floor) noexcept {
  return greater_than_nonnegative(value, floor) ? value : floor;
}

/// floor_at for a value that the arithmetic has just produced, which is
/// never a signalling NaN: every processor's max instruction, and a plain
/// comparison, give the floor for a quiet NaN, so the cheaper form is exact.
[[nodiscard]] inline double floor_computed(double value, double floor) noexcept {
  return value > floor ? value : floor;
}

/// `v` when it is greater than 0.0, otherwise +0.0: negative values, -0.0
/// and every NaN become +0.0.
[[nodiscard]] inline double keep_positive(double v) noexcept {
  return greater_than_nonnegative(v, 0.0) ? v : 0.0;
}

}  // namespace quorvel
