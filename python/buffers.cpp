#include "buffers.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace quorvel::py {
namespace {

bool element_of(char code, Py_ssize_t itemsize, Element& out) noexcept {
  // The width comes from the exporter's itemsize: with a byte-order prefix
  // the struct codes have standard sizes, without one native sizes, and
  // exporters use both ('l' for int64 natively, '>q' swapped).
  auto by_size = [&](Element e1, Element e2, Element e4, Element e8) {
    switch (itemsize) {
      case 1: out = e1; return true;
      case 2: out = e2; return true;
      case 4: out = e4; return true;
      case 8: out = e8; return true;
      default: return false;
    }
  };
  switch (code) {
    case '?':
      out = Element::Bool;
      return itemsize == 1;
    case 'b': case 'h': case 'i': case 'l': case 'q': case 'n':
      return by_size(Element::Int8, Element::Int16, Element::Int32, Element::Int64);
    case 'B': case 'H': case 'I': case 'L': case 'Q': case 'N':
      return by_size(Element::UInt8, Element::UInt16, Element::UInt32, Element::UInt64);
    case 'e':
      out = Element::Float16;
      return itemsize == 2;
    case 'f':
      out = Element::Float32;
      return itemsize == 4;
    case 'd':
      out = Element::Float64;
      return itemsize == 8;
    default:
      return false;
  }
}

template <class Bits>
Bits load(const char* p, bool swap) noexcept {
  Bits bits;
  std::memcpy(&bits, p, sizeof bits);
  return swap ? std::byteswap(bits) : bits;
}

/// binary16 to binary64, exactly; NaN payloads move along with the bits.
double half_to_double(std::uint16_t h) noexcept {
  const std::uint64_t sign = static_cast<std::uint64_t>(h & 0x8000u) << 48;
  const unsigned exponent = (h >> 10) & 0x1fu;
  const std::uint64_t mantissa = h & 0x3ffu;
  if (exponent == 0x1f) return std::bit_cast<double>(sign | 0x7ff0000000000000ull | (mantissa << 42));
  if (exponent == 0) {
    const double magnitude = std::ldexp(static_cast<double>(mantissa), -24);  // exact
    return sign != 0 ? -magnitude : magnitude;
  }
  return std::bit_cast<double>(sign | (static_cast<std::uint64_t>(exponent + 1008) << 52) |
                               (mantissa << 42));
}

/// The loops below are compiled for AVX-512, AVX2 and the baseline, and
/// picked when first called; the wider build converts several elements at
/// once (a conversion to double is exact or rounds the same either way).
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define QUORVEL_WIDEN_CLONES __attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
#else
#define QUORVEL_WIDEN_CLONES
#endif

template <class T, class Bits, bool Swap>
QUORVEL_WIDEN_CLONES void widen_loop(const char* from, Py_ssize_t count, Py_ssize_t stride,
                                     double* out) noexcept {
  for (Py_ssize_t k = 0; k < count; ++k) {
    Bits bits;
    std::memcpy(&bits, from + k * stride, sizeof bits);
    if constexpr (Swap) bits = std::byteswap(bits);
    out[k] = static_cast<double>(std::bit_cast<T>(bits));
  }
}

template <class T, class Bits = T>
void widen_as(const char* from, Py_ssize_t count, Py_ssize_t stride, bool swap,
              double* out) noexcept {
  // Contiguous elements get loops of their own, with a constant stride the
  // compiler can turn into vector loads.
  constexpr auto kSize = static_cast<Py_ssize_t>(sizeof(Bits));
  if (stride == kSize) {
    if (swap) return widen_loop<T, Bits, true>(from, count, kSize, out);
    return widen_loop<T, Bits, false>(from, count, kSize, out);
  }
  if (swap) return widen_loop<T, Bits, true>(from, count, stride, out);
  widen_loop<T, Bits, false>(from, count, stride, out);
}

}  // namespace

bool NumericBuffer::doubles_in_place() const noexcept {
  if (element != Element::Float64 || swap) return false;
  if (reinterpret_cast<std::uintptr_t>(base) % alignof(double) != 0) return false;
  for (int d = 0; d < ndim; ++d) {
    if (strides[d] % static_cast<Py_ssize_t>(sizeof(double)) != 0) return false;
  }
  return true;
}

bool describe(const Py_buffer& view, NumericBuffer& out) noexcept {
  if (view.ndim < 1 || view.ndim > 2 || view.shape == nullptr || view.strides == nullptr ||
      view.suboffsets != nullptr || view.format == nullptr) {
    return false;
  }
  const char* format = view.format;
  bool swap = false;
  switch (*format) {
    case '<':
      swap = std::endian::native != std::endian::little;
      ++format;
      break;
    case '>':
    case '!':
      swap = std::endian::native != std::endian::big;
      ++format;
      break;
    case '@':
    case '=':
      ++format;
      break;
    default:
      break;
  }
  if (format[0] == '\0' || format[1] != '\0') return false;
  if (!element_of(format[0], view.itemsize, out.element)) return false;
  out.swap = swap && view.itemsize > 1;
  out.base = static_cast<const char*>(view.buf);
  out.ndim = view.ndim;
  for (int d = 0; d < view.ndim; ++d) {
    out.shape[d] = view.shape[d];
    out.strides[d] = view.strides[d];
  }
  return true;
}

void widen(const NumericBuffer& layout, const char* from, Py_ssize_t count, Py_ssize_t stride,
           double* out) noexcept {
  const bool swap = layout.swap;
  switch (layout.element) {
    case Element::Bool:
      for (Py_ssize_t k = 0; k < count; ++k) out[k] = from[k * stride] != 0 ? 1.0 : 0.0;
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
      for (Py_ssize_t k = 0; k < count; ++k) {
        out[k] = half_to_double(load<std::uint16_t>(from + k * stride, swap));
      }
      return;
    case Element::Float32: return widen_as<float, std::uint32_t>(from, count, stride, swap, out);
    case Element::Float64: return widen_as<double, std::uint64_t>(from, count, stride, swap, out);
  }
}

}  // namespace quorvel::py
