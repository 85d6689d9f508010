#include "long_calls.hpp"

#include "python_code.hpp"

namespace quorvel::py {
namespace {

constexpr auto kSignalInterval = std::chrono::milliseconds(10);

}  // namespace

bool SignalWatch::start(Conversion& conversion) {
  const int runs = PythonCode::runs_signal_handlers(conversion);
  if (runs < 0) return false;
  main_thread_ = runs != 0;
  return true;
}

bool SignalWatch::poll(void* context) noexcept {
  auto& watch = *static_cast<SignalWatch*>(context);
  if (!watch.main_thread_) return true;
  const auto now = std::chrono::steady_clock::now();
  if (now < watch.next_) return true;
  watch.next_ = now + kSignalInterval;
  bool go_on;
  if (watch.released_ == nullptr) {
    go_on = PyErr_CheckSignals() == 0;
  } else {
    PyEval_RestoreThread(watch.released_);
    go_on = PyErr_CheckSignals() == 0;
    watch.released_ = PyEval_SaveThread();
  }
  if (go_on) watch.environment_.enforce();  // a handler may have changed it
  return go_on;
}

}  // namespace quorvel::py
