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
};

/// The interned names, or null with a Python exception set.
[[nodiscard]] const InternedNames* interned_names() noexcept;

/// collections.abc.Sequence (borrowed, lives forever), or null with an exception.
[[nodiscard]] PyObject* sequence_class() noexcept;

/// The identifier of the thread that runs signal handlers (the main thread),
/// or null with an exception.
[[nodiscard]] const unsigned long* main_thread_ident() noexcept;
/// The same once it is known, else null (finding it imports threading, which
/// runs Python code).
[[nodiscard]] const unsigned long* main_thread_ident_if_known() noexcept;

/// The Example type shared by every module object, or null with an exception.
[[nodiscard]] PyTypeObject* example_type() noexcept;

}  // namespace quorvel::py
