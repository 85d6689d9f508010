// Cutting a long computation short from outside.
#pragma once

#include <cstdint>

namespace quorvel {

/// Long loops (the inversion, risk-parity passes) report the work they have
/// done, in rough units of one multiply-add. Once `budget` units have gone by
/// they ask `poll` whether to go on; a poll that answers false ends the
/// computation with CoreError::Interrupted. The default-constructed object
/// never stops anything and costs one subtraction per report.
class Interrupt {
 public:
  using Poll = bool (*)(void* context) noexcept;

  Interrupt() noexcept = default;
  Interrupt(Poll poll, void* context, std::uint64_t budget) noexcept
      : poll_(poll), context_(context), budget_(budget), remaining_(budget) {}

  /// False once the poll has asked to stop; the caller then unwinds at once.
  [[nodiscard]] bool proceed(std::uint64_t work) noexcept {
    if (work < remaining_) {
      remaining_ -= work;
      return true;
    }
    remaining_ = budget_;
    return poll_ == nullptr || poll_(context_);
  }

 private:
  Poll poll_ = nullptr;
  void* context_ = nullptr;
  std::uint64_t budget_ = ~std::uint64_t{0};
  std::uint64_t remaining_ = ~std::uint64_t{0};
};

}  // namespace quorvel
