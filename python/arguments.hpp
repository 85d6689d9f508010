// Where the numbers of one argument live while a call runs: in storage the
// call owns, or in place in a buffer that a Python object exports to it.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "ref.hpp"
#include "types.hpp"

namespace quorvel::py {

/// Allocates like std::allocator but leaves new elements uninitialised, so
/// that growing a buffer that is about to be filled does not zero it first.
template <class T>
struct UninitialisedAllocator : std::allocator<T> {
  template <class U>
  struct rebind {
    using other = UninitialisedAllocator<U>;
  };
  template <class U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};

/// Where converted numbers are kept.
using Doubles = std::vector<double, UninitialisedAllocator<double>>;

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

/// An argument that may be reading a buffer in place. detach() copies what
/// it reads into storage of its own and lets the buffer go.
class InPlace {
 public:
  virtual void detach() = 0;

 protected:
  ~InPlace() = default;
};

/// One call's conversions. Arguments read in place register here; before
/// the conversion of a later argument runs Python code (a __float__, a
/// __len__, an iterator), they are detached, so that code writing into an
/// earlier argument's array cannot change the values the call has already
/// taken from it: every argument keeps the values it had when it was read.
class Conversion {
 public:
  void reading_in_place(InPlace& argument) noexcept;
  /// Call before anything that may run Python code. May throw bad_alloc.
  void before_python_code();

 private:
  std::array<InPlace*, 4> in_place_{};
  std::size_t count_ = 0;
};

/// A converted vector argument.
class VectorArg final : public InPlace {
 public:
  VectorArg() = default;
  VectorArg(const VectorArg&) = delete;
  VectorArg& operator=(const VectorArg&) = delete;

  [[nodiscard]] VectorView view() const noexcept { return view_; }
  /// The storage the converters fill; call own() when it is complete.
  [[nodiscard]] Doubles& storage() noexcept { return owned_; }
  void own() noexcept { view_ = {owned_.data(), owned_.size()}; }
  /// Reads `data` in `buffer` (already acquired into buffer()) in place.
  void read_in_place(VectorView data, Conversion& conversion) noexcept;
  [[nodiscard]] HeldBuffer& buffer() noexcept { return buffer_; }
  void detach() override;

 private:
  Doubles owned_;
  HeldBuffer buffer_;
  VectorView view_;
};

/// A converted matrix argument: a dense row-major block of its own, or a
/// strided view into a held buffer.
class MatrixArg final : public InPlace {
 public:
  MatrixArg() = default;
  MatrixArg(const MatrixArg&) = delete;
  MatrixArg& operator=(const MatrixArg&) = delete;

  [[nodiscard]] const MatrixView& view() const noexcept { return view_; }
  [[nodiscard]] Doubles& storage() noexcept { return owned_; }
  /// The storage holds `rows` rows; the first had `cols` elements, and every
  /// other row too unless `ragged` (the values are then not kept).
  void own(std::size_t rows, std::size_t cols, bool ragged) noexcept;
  void read_in_place(const MatrixView& data, Conversion& conversion) noexcept;
  [[nodiscard]] HeldBuffer& buffer() noexcept { return buffer_; }
  void detach() override;

 private:
  Doubles owned_;
  HeldBuffer buffer_;
  MatrixView view_;
};

}  // namespace quorvel::py
