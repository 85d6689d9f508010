// Broken internal invariants: conditions that no input can produce.
#pragma once

namespace quorvel {

/// Writes "quorvel: internal invariant broken at FILE:LINE: REASON" to
/// standard error and ends the process at once, without unwinding.
[[noreturn]] void invariant_failure(const char* file, int line, const char* reason) noexcept;

}  // namespace quorvel

#define QUORVEL_INVARIANT(cond, reason)                                   \
  do {                                                                    \
    if (!(cond)) [[unlikely]]                                             \
      ::quorvel::invariant_failure(__FILE__, __LINE__, (reason));         \
  } while (0)
