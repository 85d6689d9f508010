// Growable storage for converted numbers.
#pragma once

#include <memory>
#include <new>
#include <utility>
#include <vector>

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

}  // namespace quorvel::py
