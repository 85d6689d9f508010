#include "buffers.hpp"

#include <bit>
#include <cstdint>

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
  kernels::widen(layout.element, layout.swap, from, count, stride, out);
}

}  // namespace quorvel::py
