// Long calls: how much work a call will do, releasing the interpreter lock
// around it, and noticing Ctrl-C meanwhile.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <tuple>
#include <type_traits>

#include "arguments.hpp"
#include "float_environment.hpp"
#include "interrupt.hpp"
#include "ref.hpp"

namespace quorvel::py {

/// How the work of a routine grows with its converted arguments.
enum class Cost {
  Linear,  ///< one pass over the inputs
  Cubic,   ///< an inversion of the matrix
  Passes,  ///< up to `max_iter` passes over the matrix
  KeepsLock,  ///< makes Python objects as it goes: never runs unlocked
};

/// About 20 to 60 microseconds of arithmetic: far more than releasing and
/// taking back the lock costs, far less than anyone would notice waiting.
/// Calls estimated above it run with the interpreter lock released.
inline constexpr double kReleaseWork = 65536.0;

namespace detail {
inline double elements(const VectorArg& a) noexcept { return static_cast<double>(a.view().size()); }
inline double elements(const MatrixArg& a) noexcept {
  return static_cast<double>(a.view().rows) * static_cast<double>(a.view().cols);
}
template <class T>
double elements(const T&) noexcept {
  return 0.0;
}
}  // namespace detail

/// The multiply-adds a call will do, judged from its converted arguments
/// before it runs.
template <Cost C, class... Holders>
double work(const std::tuple<Holders...>& values) noexcept {
  double linear = 0.0, rows = 0.0, passes = 1.0;
  std::apply(
      [&](const auto&... v) {
        ((linear += detail::elements(v)), ...);
        auto note = [&](const auto& x) {
          using X = std::remove_cvref_t<decltype(x)>;
          if constexpr (std::is_same_v<X, MatrixArg>) rows = static_cast<double>(x.view().rows);
          if constexpr (std::is_same_v<X, std::uint64_t>) passes = std::max(1.0, static_cast<double>(x));
        };
        (note(v), ...);
      },
      values);
  if constexpr (C == Cost::Cubic) return rows * rows * rows;
  if constexpr (C == Cost::Passes) return linear * passes;
  return linear;
}

/// Lets a long computation notice Ctrl-C. The core reports its progress
/// about every kPollBudget multiply-adds (well under a millisecond); at most
/// every kSignalInterval the pending signals are then run. Only the main
/// thread of the main interpreter runs signal handlers, so no other thread
/// looks. With the lock released, looking means taking it back for a
/// moment, which can mean waiting for another thread's turn to end: hence
/// the spacing in time. A handler is Python code that may change the
/// floating-point state (or anything else a C extension can change): the
/// call's own environment is set again before the computation goes on.
class SignalWatch {
 public:
  explicit SignalWatch(FloatEnvironment& environment) noexcept : environment_(environment) {}

  /// Multiply-adds between two looks at the clock (well under a millisecond).
  static constexpr std::uint64_t kPollBudget = std::uint64_t{1} << 20;

  /// Whether this thread runs signal handlers; false with an exception set
  /// when that cannot be found out (see PythonCode::runs_signal_handlers).
  [[nodiscard]] bool start(Conversion& conversion);
  /// What the core polls: false, with the signal handler's exception set,
  /// to stop the computation.
  [[nodiscard]] Interrupt interrupt() noexcept { return Interrupt(&SignalWatch::poll, this, kPollBudget); }

 private:
  friend class LockReleased;
  static bool poll(void* context) noexcept;

  FloatEnvironment& environment_;
  bool main_thread_ = false;
  PyThreadState* released_ = nullptr;  ///< set while the lock is released
  std::chrono::steady_clock::time_point next_{};
};

/// The interpreter lock released for the life of this object. Nothing in
/// its scope may touch a Python object; the arguments it reads are owned by
/// the call or held exported.
class LockReleased {
 public:
  explicit LockReleased(SignalWatch& watch) noexcept : watch_(watch) {
    watch_.released_ = PyEval_SaveThread();
  }
  ~LockReleased() {
    PyEval_RestoreThread(watch_.released_);
    watch_.released_ = nullptr;
  }
  LockReleased(const LockReleased&) = delete;
  LockReleased& operator=(const LockReleased&) = delete;

 private:
  SignalWatch& watch_;
};

}  // namespace quorvel::py
