// Values created once per process on first use and never released.
#pragma once

#include "ref.hpp"

namespace quorvel::py {

/// Interned attribute names used by the module layer.
struct InternedNames {
  PyObject* all;       // "__all__"
  PyObject* name;      // "__name__"
  PyObject* module;    // "__module__"
  PyObject* bool_;     // "__bool__"
  PyObject* add_note;  // "add_note"
  PyObject* to_numpy;  // "to_numpy"
  PyObject* values;    // "values"
  PyObject* dtype;     // "dtype"
  PyObject* dtypes;    // "dtypes"
  PyObject* kind;      // "kind"
  PyObject* tolist;    // "tolist"
  PyObject* index;     // "index"
  PyObject* columns;   // "columns"
  PyObject* array;     // "array"
  PyObject* start;     // "start"
  PyObject* step;      // "step"
  PyObject* equals;    // "equals"
};

/// The interned names, or null with a Python exception set.
[[nodiscard]] const InternedNames* interned_names() noexcept;

/// collections.abc.Sequence (borrowed, lives forever), or null with an exception.
[[nodiscard]] PyObject* sequence_class() noexcept;

/// Whether the calling thread is the process's main thread, the one that
/// started it (and so the interpreter, when the process is `python`), as the
/// operating system says: 1 or 0, at the cost of a thread-local read; -1 on
/// systems that cannot say (Windows among them). A thread that forks is the
/// main thread of the child, for the system and for the interpreter alike.
[[nodiscard]] int main_thread_by_system() noexcept;

/// The identifier of the main thread as the interpreter names it, or null
/// with an exception: _thread._get_main_thread_ident() from 3.13 on, else
/// threading.main_thread(), which on 3.11 and 3.12 names the thread that
/// first imported threading. For systems where main_thread_by_system()
/// cannot say; found in the main interpreter only.
[[nodiscard]] const unsigned long* main_thread_ident() noexcept;
/// The same once it is known, else null (finding it may import threading,
/// which runs Python code).
[[nodiscard]] const unsigned long* main_thread_ident_if_known() noexcept;

/// The Example type shared by every module object, or null with an exception.
[[nodiscard]] PyTypeObject* example_type() noexcept;

}  // namespace quorvel::py
