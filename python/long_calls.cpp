#include "long_calls.hpp"

#include "python_code.hpp"

namespace quorvel::py {
namespace {

constexpr auto kSignalInterval = std::chrono::milliseconds(10);

}  // namespace

bool SignalWatch::start(Conversion& conversion) {
  const unsigned long* main_thread = PythonCode::main_thread(conversion);
  if (main_thread == nullptr) return false;
  main_thread_ = PyThread_get_thread_ident() == *main_thread;
  return true;
}

bool SignalWatch::poll(void* context) noexcept {
  auto& watch = *static_cast<SignalWatch*>(context);
  if (!watch.main_thread_) return true;
  const auto now = std::chrono::steady_clock::now();
  if (now < watch.next_) return true;
  watch.next_ = now + kSignalInterval;
  if (watch.released_ == nullptr) return PyErr_CheckSignals() == 0;
  PyEval_RestoreThread(watch.released_);
  const bool go_on = PyErr_CheckSignals() == 0;
  watch.released_ = PyEval_SaveThread();
  return go_on;
}

}  // namespace quorvel::py
