// Numbers read straight from the memory of numeric buffers (numpy arrays,
// array.array, memoryview), element by element as their iteration gives
// them, and the buffers held while a call reads them.
#pragma once

#include <cstddef>

#include "doubles.hpp"
#include "ref.hpp"
#include "types.hpp"

namespace quorvel::py {

class Conversion;
class VectorArg;
class MatrixArg;

/// A buffer exported by a Python object for as long as this lives. The
/// exporter keeps the memory where it is (numpy refuses to resize an array
/// with exports), so it may be read with the interpreter lock released.
/// Released with the lock held, like every Python object. Not movable: some
/// exporters point into the view itself.
class HeldBuffer {
 public:
  HeldBuffer() noexcept = default;
  HeldBuffer(const HeldBuffer&) = delete;
  HeldBuffer& operator=(const HeldBuffer&) = delete;
  ~HeldBuffer() { release(); }

  /// PyObject_GetBuffer with `flags`; false with the exporter's exception set.
  [[nodiscard]] bool acquire(PyObject* exporter, int flags) noexcept;
  void release() noexcept;
  [[nodiscard]] bool held() const noexcept { return held_; }
  [[nodiscard]] const Py_buffer& get() const noexcept { return view_; }

 private:
  Py_buffer view_{};
  bool held_ = false;
};

/// What the object offering a buffer is, for messages.
enum class Exporter { NdArray, NumpyMatrix, Array, MemoryView };

enum class Taken {
  Yes,     ///< read
  No,      ///< not a buffer of numbers: iterate the object instead
  Failed,  ///< refused, with the exception set
};

/// Reads a 1-D numeric buffer onto the end of `out`, or in place into
/// `in_place` (when given) for contiguous native doubles, which then holds
/// the buffer. A buffer of numbers with another number of dimensions, and a
/// complex one, is refused with a TypeError saying what was expected.
[[nodiscard]] Taken read_vector_buffer(PyObject* exporter, Exporter kind, Doubles& out,
                                       VectorArg* in_place, Conversion& conversion);

/// What a complex buffer gets: a TypeError naming its dtype, or No (the
/// caller words its own refusal).
enum class ComplexBuffer { Refused, Passed };

/// Reads a 2-D numeric buffer: native doubles in place at any strides,
/// anything else widened into a dense block. Refusals as for vectors.
[[nodiscard]] Taken read_matrix_buffer(PyObject* exporter, Exporter kind, MatrixArg& out,
                                       Conversion& conversion,
                                       ComplexBuffer complex = ComplexBuffer::Refused);

}  // namespace quorvel::py
