#include "buffers.hpp"

#include <bit>
#include <cstdint>
#include <string>

#include "arguments.hpp"
#include "errors.hpp"
#include "kernels/kernels.hpp"
#include "python_code.hpp"
#include "conversion_rules.hpp"  // last: see there

namespace quorvel::py {

bool HeldBuffer::acquire(PyObject* exporter, int flags) noexcept {
  release();
  held_ = PyObject_GetBuffer(exporter, &view_, flags) == 0;
  return held_;
}

void HeldBuffer::release() noexcept {
  if (held_) PyBuffer_Release(&view_);
  held_ = false;
}

namespace {

using kernels::Element;

constexpr int kBufferFlags = PyBUF_STRIDES | PyBUF_FORMAT;

/// What the elements of a buffer are.
enum class Content { Real, Complex, Other };

/// The layout of a buffer of real numbers.
struct NumericBuffer {
  Content content = Content::Other;
  Element element = Element::Float64;
  bool swap = false;  ///< stored in the other byte order
  const char* base = nullptr;
  int ndim = 0;
  const Py_ssize_t* shape = nullptr;
  const Py_ssize_t* strides = nullptr;  ///< in bytes

  /// Native, aligned doubles at strides the core can follow: readable where
  /// they lie, without a copy.
  [[nodiscard]] bool doubles_in_place() const noexcept {
    if (element != Element::Float64 || swap) return false;
    if (reinterpret_cast<std::uintptr_t>(base) % alignof(double) != 0) return false;
    for (int d = 0; d < ndim; ++d) {
      if (strides[d] % static_cast<Py_ssize_t>(sizeof(double)) != 0) return false;
    }
    return true;
  }
};

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

/// Describes `view`: real numbers (one struct-module code among
/// ?bBhHiIlLqQnNefd with an optional byte-order prefix), complex numbers
/// ('Z' and a float code), or anything else (objects, records, text,
/// sub-offsets), in any number of dimensions.
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

const char* noun(Exporter kind) noexcept {
  switch (kind) {
    case Exporter::NdArray: return "array";
    case Exporter::NumpyMatrix: return "numpy.matrix";
    case Exporter::Array: return "array.array";
    case Exporter::MemoryView: return "memoryview";
  }
  return "buffer";
}

/// "a" or "an" before a number of dimensions written in digits.
const char* article(int ndim) noexcept {
  const bool vowel = ndim == 8 || ndim == 11 || ndim == 18 || (ndim >= 80 && ndim <= 89);
  return vowel ? "an" : "a";
}

/// TypeError "expected a 1-D array of numbers, got a 3-D array of shape
/// (2, 2, 2)".
Taken wrong_dimensions(int wanted, const NumericBuffer& layout, Exporter kind) {
  std::string shape = "(";
  for (int d = 0; d < layout.ndim; ++d) {
    if (d > 0) shape += ", ";
    shape += std::to_string(layout.shape[d]);
  }
  shape += layout.ndim == 1 ? ",)" : ")";
  const std::string text = std::string("expected a ") + std::to_string(wanted) +
                           "-D array of numbers, got " + article(layout.ndim) + " " +
                           std::to_string(layout.ndim) + "-D " + noun(kind) + " of shape " + shape;
  raise(PyExc_TypeError, text);
  return Taken::Failed;
}

/// TypeError naming the complex dtype: reading only the real parts would
/// drop data without a word, which float() of a complex number refuses too.
Taken complex_refused(const Py_buffer& view, Exporter kind) {
  const std::string dtype = "complex" + std::to_string(view.itemsize * 8);
  const std::string text = "expected real numbers, got a " + dtype + " " + noun(kind) +
                           "; pass its .real (or abs()) to drop the imaginary parts";
  raise(PyExc_TypeError, text);
  return Taken::Failed;
}

/// Takes the buffer of `exporter` and checks what it holds: real numbers in
/// `ndim` dimensions. numpy and array.array refuse only what they cannot
/// describe (object arrays, say), which is then iterated; a memoryview
/// refuses when it has been released, and that error is the caller's
/// (iterating a released view may read freed memory).
Taken take(HeldBuffer& buffer, PyObject* exporter, Exporter kind, int ndim, NumericBuffer& layout,
           Conversion& conversion, ComplexBuffer complex = ComplexBuffer::Refused) {
  if (!PythonCode::buffer_of(conversion, exporter, buffer, kBufferFlags)) {
    if (kind == Exporter::MemoryView) return Taken::Failed;
    PyErr_Clear();
    return Taken::No;
  }
  layout = describe(buffer.get());
  Taken taken = Taken::Yes;
  if (layout.content == Content::Complex) {
    taken = complex == ComplexBuffer::Refused ? complex_refused(buffer.get(), kind) : Taken::No;
  } else if (layout.content == Content::Other) {
    taken = Taken::No;
  } else if (layout.ndim != ndim) {
    taken = wrong_dimensions(ndim, layout, kind);
  }
  if (taken != Taken::Yes) buffer.release();
  return taken;
}

void widen(const NumericBuffer& layout, const char* from, Py_ssize_t count, Py_ssize_t stride,
           double* out) noexcept {
  kernels::widen(layout.element, layout.swap, from, count, stride, out);
}

}  // namespace

Taken read_vector_buffer(PyObject* exporter, Exporter kind, Doubles& out, VectorArg* in_place,
                         Conversion& conversion) {
  HeldBuffer local;
  HeldBuffer& buffer = in_place != nullptr ? in_place->buffer() : local;
  NumericBuffer layout;
  if (const Taken taken = take(buffer, exporter, kind, 1, layout, conversion); taken != Taken::Yes) {
    return taken;
  }
  const Py_ssize_t n = layout.shape[0];
  if (in_place != nullptr && layout.doubles_in_place() &&
      (n <= 1 || layout.strides[0] == static_cast<Py_ssize_t>(sizeof(double)))) {
    in_place->read_in_place({reinterpret_cast<const double*>(layout.base), static_cast<std::size_t>(n)},
                            conversion);
    return Taken::Yes;
  }
  const std::size_t base = out.size();
  out.resize(base + static_cast<std::size_t>(n));
  widen(layout, layout.base, n, layout.strides[0], out.data() + base);
  buffer.release();
  return Taken::Yes;
}

Taken read_matrix_buffer(PyObject* exporter, Exporter kind, MatrixArg& out, Conversion& conversion,
                         ComplexBuffer complex) {
  HeldBuffer& buffer = out.buffer();
  NumericBuffer layout;
  if (const Taken taken = take(buffer, exporter, kind, 2, layout, conversion, complex);
      taken != Taken::Yes) {
    return taken;
  }
  const auto rows = static_cast<std::size_t>(layout.shape[0]);
  const auto cols = static_cast<std::size_t>(layout.shape[1]);
  if (layout.doubles_in_place()) {
    constexpr auto kDouble = static_cast<Py_ssize_t>(sizeof(double));
    out.read_in_place({reinterpret_cast<const double*>(layout.base), rows, cols,
                       layout.strides[0] / kDouble, layout.strides[1] / kDouble, false},
                      conversion);
    return Taken::Yes;
  }
  Doubles& block = out.storage();
  block.resize(rows * cols);
  for (std::size_t i = 0; i < rows; ++i) {
    widen(layout, layout.base + static_cast<Py_ssize_t>(i) * layout.strides[0],
          static_cast<Py_ssize_t>(cols), layout.strides[1], block.data() + i * cols);
  }
  buffer.release();
  out.own(rows, cols, false);
  return Taken::Yes;
}

}  // namespace quorvel::py
