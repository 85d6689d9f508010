#include "buffers.hpp"

#include <bit>
#include <cstdint>
#include <string>

#include "errors.hpp"
#include "conversion_rules.hpp"  // last: see there

namespace quorvel::py {
namespace {

using kernels::Element;

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

const char* noun(Exporter kind) noexcept {
  switch (kind) {
    case Exporter::NdArray: return "array";
    case Exporter::NumpyMatrix: return "numpy.matrix";
    case Exporter::Array: return "array.array";
    case Exporter::MemoryView: return "memoryview";
    case Exporter::Scalar: return "scalar";
  }
  return "buffer";
}

/// "a" or "an" before a number of dimensions written in digits.
const char* article(int ndim) noexcept {
  const bool vowel = ndim == 8 || ndim == 11 || ndim == 18 || (ndim >= 80 && ndim <= 89);
  return vowel ? "an" : "a";
}

}  // namespace

bool NumericBuffer::doubles_in_place() const noexcept {
  if (content != Content::Real || element != Element::Float64 || swap) return false;
  if (reinterpret_cast<std::uintptr_t>(base) % alignof(double) != 0) return false;
  for (int d = 0; d < ndim; ++d) {
    if (strides[d] % static_cast<Py_ssize_t>(sizeof(double)) != 0) return false;
  }
  return true;
}

NumericBuffer describe(const Py_buffer& view) noexcept {
  NumericBuffer out;
  if (view.format == nullptr || view.suboffsets != nullptr ||
      (view.ndim > 0 && (view.shape == nullptr || view.strides == nullptr))) {
    return out;
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
  out.base = static_cast<const char*>(view.buf);
  out.ndim = view.ndim;
  out.itemsize = view.itemsize;
  out.shape = view.shape;
  out.strides = view.strides;
  if (format[0] == 'Z' && format[1] != '\0' && format[2] == '\0') {
    out.content = Content::Complex;
  } else if (format[0] != '\0' && format[1] == '\0' && element_of(format[0], view.itemsize, out.element)) {
    out.content = Content::Real;
    out.swap = swap && view.itemsize > 1;
  }
  return out;
}

bool refuse_dimensions(int wanted, const NumericBuffer& layout, Exporter kind) {
  std::string shape = "(";
  for (int d = 0; d < layout.ndim; ++d) {
    if (d > 0) shape += ", ";
    shape += std::to_string(layout.shape[d]);
  }
  shape += layout.ndim == 1 ? ",)" : ")";
  const std::string text = std::string("expected a ") + std::to_string(wanted) +
                           "-D array of numbers, got " + article(layout.ndim) + " " +
                           std::to_string(layout.ndim) + "-D " + noun(kind) + " of shape " + shape;
  return raise(PyExc_TypeError, text);
}

bool refuse_complex(const NumericBuffer& layout, Exporter kind) {
  const std::string dtype = "complex" + std::to_string(layout.itemsize * 8);
  const std::string text =
      kind == Exporter::Scalar
          ? "expected a real number, got a " + dtype +
                " scalar; pass its .real (or abs()) to drop the imaginary part"
          : "expected real numbers, got a " + dtype + " " + noun(kind) +
                "; pass its .real (or abs()) to drop the imaginary parts";
  return raise(PyExc_TypeError, text);
}

}  // namespace quorvel::py
