// Where the numbers of one argument live while a call runs: in storage the
// call owns, or in place in a buffer that a Python object exports to it;
// and the per-call record of the conversion (arguments read in place so
// far, whether Python code ran, labels that disagree).
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <span>

#include "doubles.hpp"
#include "held_buffer.hpp"
#include "ref.hpp"
#include "types.hpp"

namespace quorvel {
class FloatEnvironment;
}

namespace quorvel::py {

/// An argument that may be reading a buffer in place. detach() copies what
/// it reads into storage of its own and lets the buffer go.
class InPlace {
 public:
  virtual void detach() = 0;

 protected:
  ~InPlace() = default;
};

/// Which labels of a pandas argument: a Series' index, a DataFrame's index
/// (its rows) or its columns.
enum class LabelAxis : unsigned char { Index, Rows, Columns };

/// Two pandas arguments (or a DataFrame's two axes) whose labels are not the
/// same in the same order: the first position where they differ, and the
/// two labels found there (either may be absent when one set of labels is
/// shorter than the other).
struct LabelMismatch {
  std::size_t first_parameter = 0;
  LabelAxis first_axis = LabelAxis::Index;
  std::size_t second_parameter = 0;
  LabelAxis second_axis = LabelAxis::Index;
  std::size_t position = 0;
  Ref first_label;
  Ref second_label;
};

/// One call's conversion record.
///
/// Arguments read in place so far: before any Python code runs during the
/// call (a later argument's __float__, a __len__, an iterator, a pandas
/// method, a warning filter), they are detached, so that such code cannot
/// change the values the call has already taken from an earlier argument's
/// array: every argument keeps the values it had when it was read. Only
/// PythonCode, the one way to run Python code from the reader, detaches
/// them, and it puts the call's floating-point state back afterwards.
class Conversion {
 public:
  /// `slots` has room for every argument of the call that can be read in
  /// place (the function table sizes it at compile time); `environment` is
  /// the call's floating-point state, or null.
  Conversion(InPlace** slots, std::size_t capacity, FloatEnvironment* environment) noexcept
      : slots_(slots), capacity_(capacity), environment_(environment) {}
  Conversion(const Conversion&) = delete;
  Conversion& operator=(const Conversion&) = delete;

  void reading_in_place(InPlace& argument) noexcept;

  /// Whether Python code may have run during the conversion (and so may
  /// have changed anything a C extension can change).
  [[nodiscard]] bool ran_python_code() const noexcept { return ran_python_code_; }

  /// Before the reader converts numbers itself (widening integers rounds by
  /// the current mode): the call's floating-point state again, if Python
  /// code has run (an object dropped since may have run a __del__).
  void settle() noexcept {
    if (ran_python_code_) python_code_done();
  }

  /// The parameter being converted (its index in the signature).
  void at_parameter(std::size_t index) noexcept { parameter_ = index; }
  [[nodiscard]] std::size_t parameter() const noexcept { return parameter_; }

  /// Remembers a labelled vector argument (a pandas Series) of the current
  /// parameter, so that a later matrix can compare its labels. At most
  /// kLabelled are kept; the rest are not compared. May throw bad_alloc.
  void labelled_vector(PyObject* series);
  struct Labelled {
    std::size_t parameter = 0;
    Ref object;
  };
  static constexpr std::size_t kLabelled = 4;
  /// The labelled vectors so far, in parameter order; empty ones at the end.
  [[nodiscard]] std::span<const Labelled> labelled_vectors() const noexcept;

  /// Records a label mismatch to be reported once the call has its result.
  /// May throw bad_alloc.
  void label_mismatch(LabelMismatch mismatch);
  static constexpr std::size_t kMismatches = 4;
  [[nodiscard]] std::span<const LabelMismatch> mismatches() const noexcept;

 private:
  friend class PythonCode;
  /// Before Python code runs. May throw bad_alloc.
  void detach_all();
  /// After it ran: the call's floating-point state again.
  void python_code_done() noexcept;

  InPlace** slots_;
  std::size_t capacity_;
  std::size_t count_ = 0;
  FloatEnvironment* environment_;
  bool ran_python_code_ = false;
  std::size_t parameter_ = 0;
  /// What pandas arguments had to say about their labels; made only when
  /// one is read, so that other calls pay nothing for it.
  struct Labels;
  struct LabelsDeleter {
    void operator()(Labels* labels) const noexcept;
  };
  std::unique_ptr<Labels, LabelsDeleter> labels_;
  Labels& labels();
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
  /// The storage the reader fills; call own() when it is complete.
  [[nodiscard]] Doubles& storage() noexcept { return owned_; }
  void own() noexcept { view_ = {owned_.data(), owned_.size()}; }
  /// Reads `data`, which lies in buffer() (already acquired), in place.
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
