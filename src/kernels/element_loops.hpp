// Element-by-element loops, written once and compiled by every kernel file
// under its own instruction set (after target.hpp), where the compiler turns
// them into vector code of that width. Converting an element to double is
// exact, or rounds to nearest, the same way at any width; the elimination
// update is one rounded product and one rounded difference per element.
#pragma once

#include <cstdint>
#include <cstring>

#include "kernels.hpp"
#include "target.hpp"

namespace quorvel::kernels::QUORVEL_KERNEL_TARGET {

inline void subtract_scaled(double* QUORVEL_RESTRICT target,
                            const double* QUORVEL_RESTRICT pivot_row, double f,
                            std::size_t width) noexcept {
  for (std::size_t j = 0; j < width; ++j) target[j] = target[j] - (pivot_row[j] * f);
}

/// |v|, by clearing the sign bit (what fabs does, written so that no
/// library function is called from a kernel file).
inline double magnitude(double v) noexcept {
  std::uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  bits &= 0x7fffffffffffffffu;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

inline void column_magnitudes(const double* QUORVEL_RESTRICT a, std::size_t rows, std::size_t cols,
                              std::size_t stride, double* QUORVEL_RESTRICT sums) noexcept {
  for (std::size_t j = 0; j < cols; ++j) sums[j] = 0.0;
  for (std::size_t i = 0; i < rows; ++i) {
    const double* QUORVEL_RESTRICT row = a + i * stride;
    for (std::size_t j = 0; j < cols; ++j) sums[j] = sums[j] + magnitude(row[j]);
  }
}

inline std::uint16_t swapped(std::uint16_t v) noexcept {
  return static_cast<std::uint16_t>((v >> 8) | (v << 8));
}
inline std::uint32_t swapped(std::uint32_t v) noexcept {
  return ((v & 0x000000ffu) << 24) | ((v & 0x0000ff00u) << 8) | ((v & 0x00ff0000u) >> 8) |
         ((v & 0xff000000u) >> 24);
}
inline std::uint64_t swapped(std::uint64_t v) noexcept {
  return (static_cast<std::uint64_t>(swapped(static_cast<std::uint32_t>(v))) << 32) |
         swapped(static_cast<std::uint32_t>(v >> 32));
}
inline std::uint8_t swapped(std::uint8_t v) noexcept { return v; }

/// The unsigned integer of the same size as T, to load T's bytes into.
template <std::size_t Size> struct BitsOf;
template <> struct BitsOf<1> { using type = std::uint8_t; };
template <> struct BitsOf<2> { using type = std::uint16_t; };
template <> struct BitsOf<4> { using type = std::uint32_t; };
template <> struct BitsOf<8> { using type = std::uint64_t; };

/// binary16 to binary64, exactly; NaN payloads move along with the bits.
inline double half_to_double(std::uint16_t h) noexcept {
  const std::uint64_t sign = static_cast<std::uint64_t>(h & 0x8000u) << 48;
  const unsigned exponent = (h >> 10) & 0x1fu;
  const std::uint64_t mantissa = h & 0x3ffu;
  std::uint64_t bits = 0;
  if (exponent == 0x1f) {
    bits = sign | 0x7ff0000000000000u | (mantissa << 42);
  } else if (exponent != 0) {
    bits = sign | (static_cast<std::uint64_t>(exponent + 1008) << 52) | (mantissa << 42);
  } else {
    // A subnormal half is mantissa * 2^-24: exact in a double.
    const double magnitude = static_cast<double>(mantissa) * 5.9604644775390625e-08;
    return sign != 0 ? -magnitude : magnitude;
  }
  double out;
  std::memcpy(&out, &bits, sizeof out);
  return out;
}

template <class T, bool Swap>
void widen_loop(const char* from, std::ptrdiff_t count, std::ptrdiff_t stride,
                double* out) noexcept {
  using Bits = typename BitsOf<sizeof(T)>::type;
  for (std::ptrdiff_t k = 0; k < count; ++k) {
    Bits bits;
    std::memcpy(&bits, from + k * stride, sizeof bits);
    if constexpr (Swap) bits = swapped(bits);
    T value;
    std::memcpy(&value, &bits, sizeof value);
    out[k] = static_cast<double>(value);
  }
}

template <class T>
void widen_as(const char* from, std::ptrdiff_t count, std::ptrdiff_t stride, bool swap,
              double* out) noexcept {
  // Contiguous elements get loops of their own, with a constant stride the
  // compiler can turn into vector loads.
  constexpr auto kSize = static_cast<std::ptrdiff_t>(sizeof(T));
  if (stride == kSize) {
    if (swap) return widen_loop<T, true>(from, count, kSize, out);
    return widen_loop<T, false>(from, count, kSize, out);
  }
  if (swap) return widen_loop<T, true>(from, count, stride, out);
  widen_loop<T, false>(from, count, stride, out);
}

inline void widen(Element element, bool swap, const char* from, std::ptrdiff_t count,
                  std::ptrdiff_t stride, double* out) noexcept {
  switch (element) {
    case Element::Bool:
      for (std::ptrdiff_t k = 0; k < count; ++k) out[k] = from[k * stride] != 0 ? 1.0 : 0.0;
      return;
    case Element::Int8: return widen_as<std::int8_t>(from, count, stride, swap, out);
    case Element::Int16: return widen_as<std::int16_t>(from, count, stride, swap, out);
    case Element::Int32: return widen_as<std::int32_t>(from, count, stride, swap, out);
    case Element::Int64: return widen_as<std::int64_t>(from, count, stride, swap, out);
    case Element::UInt8: return widen_as<std::uint8_t>(from, count, stride, swap, out);
    case Element::UInt16: return widen_as<std::uint16_t>(from, count, stride, swap, out);
    case Element::UInt32: return widen_as<std::uint32_t>(from, count, stride, swap, out);
    case Element::UInt64: return widen_as<std::uint64_t>(from, count, stride, swap, out);
    case Element::Float16:
      for (std::ptrdiff_t k = 0; k < count; ++k) {
        std::uint16_t bits;
        std::memcpy(&bits, from + k * stride, sizeof bits);
        out[k] = half_to_double(swap ? swapped(bits) : bits);
      }
      return;
    case Element::Float32: return widen_as<float>(from, count, stride, swap, out);
    case Element::Float64: return widen_as<double>(from, count, stride, swap, out);
  }
}

}  // namespace quorvel::kernels::QUORVEL_KERNEL_TARGET
