// Ownership of Python references.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace quorvel::py {

/// Owns one strong reference (or none) and drops it on destruction, so that
/// no early return can leak. Move-only; release() hands the reference on.
class Ref {
 public:
  Ref() noexcept = default;
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  Ref(Ref&& other) noexcept : ptr_(other.release()) {}
  Ref& operator=(Ref&& other) noexcept {
    Ref(std::move(other)).swap(*this);
    return *this;
  }
  ~Ref() { Py_XDECREF(ptr_); }

  /// Takes over a new reference (which may be null after a failed call).
  [[nodiscard]] static Ref steal(PyObject* p) noexcept { return Ref(p); }
  /// Adds a reference of our own to a borrowed object.
  [[nodiscard]] static Ref borrow(PyObject* p) noexcept {
    Py_XINCREF(p);
    return Ref(p);
  }

  [[nodiscard]] PyObject* get() const noexcept { return ptr_; }
  [[nodiscard]] PyObject* release() noexcept { return std::exchange(ptr_, nullptr); }
  explicit operator bool() const noexcept { return ptr_ != nullptr; }
  void swap(Ref& other) noexcept { std::swap(ptr_, other.ptr_); }

 private:
  explicit Ref(PyObject* p) noexcept : ptr_(p) {}
  PyObject* ptr_ = nullptr;
};

}  // namespace quorvel::py
