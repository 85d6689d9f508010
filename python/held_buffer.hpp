// A buffer exported by a Python object, held while a call reads it.
#pragma once

#include "ref.hpp"

namespace quorvel::py {

/// A buffer exported by a Python object for as long as this lives. The
/// exporter keeps the memory where it is (numpy refuses to resize an array
/// with exports, unless told not to check), so it may be read with the
/// interpreter lock released. Released with the lock held, like every Python
/// object. Not movable: some exporters point into the view itself.
class HeldBuffer {
 public:
  HeldBuffer() noexcept = default;
  HeldBuffer(const HeldBuffer&) = delete;
  HeldBuffer& operator=(const HeldBuffer&) = delete;
  ~HeldBuffer() { release(); }

  /// PyObject_GetBuffer with `flags`; false with the exporter's exception
  /// set. Only for exporters whose export runs no Python code (the reader
  /// decides which).
  [[nodiscard]] bool acquire(PyObject* exporter, int flags) noexcept {
    release();
    held_ = PyObject_GetBuffer(exporter, &view_, flags) == 0;
    return held_;
  }
  void release() noexcept {
    if (held_) PyBuffer_Release(&view_);
    held_ = false;
  }
  [[nodiscard]] bool held() const noexcept { return held_; }
  [[nodiscard]] const Py_buffer& get() const noexcept { return view_; }

 private:
  Py_buffer view_{};
  bool held_ = false;
};

}  // namespace quorvel::py
