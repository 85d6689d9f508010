#include "invariant.hpp"

#include <cstdio>
#include <cstdlib>

namespace quorvel {

void invariant_failure(const char* file, int line, const char* reason) noexcept {
  // No allocation, no unwinding, no exit handlers: the state is not to be
  // trusted any more, so report where it broke and stop.
  std::fprintf(stderr, "quorvel: internal invariant broken at %s:%d: %s\n", file, line, reason);
  std::fflush(stderr);
  std::abort();
}

}  // namespace quorvel
