// Where the numbers of one argument live while a call runs: in storage the
// call owns, or in place in a buffer that a Python object exports to it;
// and the per-call list of arguments read in place.
#pragma once

#include <cstddef>

#include "buffers.hpp"
#include "doubles.hpp"
#include "ref.hpp"
#include "types.hpp"

namespace quorvel::py {

/// An argument that may be reading a buffer in place. detach() copies what
/// it reads into storage of its own and lets the buffer go.
class InPlace {
 public:
  virtual void detach() = 0;

 protected:
  ~InPlace() = default;
};

/// One call's cleanup list: the arguments read in place so far. Before any
/// Python code runs during the call (a later argument's __float__, a
/// __len__, an iterator, a pandas method), they are detached, so that such
/// code cannot change the values the call has already taken from an earlier
/// argument's array: every argument keeps the values it had when it was
/// read. Only PythonCode, the one way to run Python code from a converter,
/// can detach them.
class Conversion {
 public:
  /// `slots` has room for every argument of the call that can be read in
  /// place (the function table sizes it at compile time).
  Conversion(InPlace** slots, std::size_t capacity) noexcept : slots_(slots), capacity_(capacity) {}
  Conversion(const Conversion&) = delete;
  Conversion& operator=(const Conversion&) = delete;

  void reading_in_place(InPlace& argument) noexcept;

  /// Whether Python code may have run during the conversion (and so may
  /// have changed anything a C extension can change, such as the
  /// floating-point state).
  [[nodiscard]] bool ran_python_code() const noexcept { return ran_python_code_; }

 private:
  friend class PythonCode;
  /// May throw bad_alloc.
  void detach_all();

  InPlace** slots_;
  std::size_t capacity_;
  std::size_t count_ = 0;
  bool ran_python_code_ = false;
};

/// A converted vector argument.
class VectorArg final : public InPlace {
 public:
  /// Arguments of this kind that a call may read in place.
  static constexpr std::size_t kInPlace = 1;

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
  static constexpr std::size_t kInPlace = 1;

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
