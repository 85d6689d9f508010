// How failures reach Python: core errors as ValueError, the TypeErrors of
// argument handling, the note naming the parameter, and the one barrier
// that every callable of the module runs inside.
#pragma once

#include <new>
#include <stdexcept>
#include <string_view>

#include "core_error.hpp"
#include "ref.hpp"

namespace quorvel::py {

/// Raises ValueError carrying exactly the error's message. An interrupted
/// computation already has the signal handler's exception set, which is
/// left as it is. Always returns false.
bool raise_core_error(CoreError error) noexcept;

/// Raises `type` with `text` as its message. Always returns false.
bool raise(PyObject* type, std::string_view text) noexcept;

/// Raises TypeError "'T' object is not an instance of 'TARGET'" (or
/// "'None' is not an instance of 'TARGET'"). `target` is a class, a tuple of
/// classes, or any object whose str() names it. Always returns false.
bool cast_error(PyObject* object, PyObject* target) noexcept;

/// Adds `text` as a note (BaseException.add_note) to the pending exception.
/// A failure to add it is swallowed; the exception itself stays as it was.
void add_note(std::string_view text) noexcept;

/// Adds the note "while processing 'NAME'" to the pending exception.
void add_argument_note(std::string_view parameter) noexcept;

/// Whether a core error says that the sizes of the arguments do not fit
/// (a ragged or non-square matrix, lengths that differ), so that a note
/// with the sizes seen helps.
[[nodiscard]] bool is_shape_mismatch(CoreError error) noexcept;

/// After a look that failed with an exception: true with it cleared when it
/// is an ordinary Exception, which the caller may take as "no answer";
/// false, leaving it set, for an interrupt (KeyboardInterrupt, SystemExit
/// and the like), which must reach the caller.
[[nodiscard]] bool clear_if_ordinary() noexcept;

/// The same where the answer is read from PyErr_Occurred() later: null with
/// no exception means "none", null with one set an interrupt.
inline void clear_unless_interrupt() noexcept { static_cast<void>(clear_if_ordinary()); }

/// Sets the exception for a C++ exception caught at the barrier: a refused
/// allocation (or a size no container can hold) is MemoryError, anything
/// else SystemError.
void raise_caught_exception() noexcept;

/// Runs `body` so that no C++ exception can reach the interpreter: one
/// thrown inside becomes a Python exception, and `failure` is returned.
/// Every function, method and slot that Python calls is built on this.
template <class R, class Body>
R barrier(R failure, Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    raise_caught_exception();
    return failure;
  }
}

}  // namespace quorvel::py
