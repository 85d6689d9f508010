// The one way for a converter to run code that may be written in Python.
#pragma once

#include "arguments.hpp"
#include "ref.hpp"

namespace quorvel::py {

/// Every interpreter call that can run Python code while a call's arguments
/// are being converted goes through one of these functions, and each first
/// detaches the arguments read in place so far (see Conversion). Those that
/// act on one object detach only when that object's class is defined in
/// Python (a heap type): the conversions of C types, numpy's scalars among
/// them, run no Python code. Those that run arbitrary code (len(), iteration,
/// pandas methods, imports) always detach.
///
/// Each returns null (or false) with the Python exception set on failure.
class PythonCode {
 public:
  /// float(object), for anything but an exact float, int or bool.
  [[nodiscard]] static bool float_of(Conversion& c, PyObject* object, double& out);
  /// operator.index(object), for anything but an int.
  [[nodiscard]] static Ref index_of(Conversion& c, PyObject* object);
  /// An attribute of `type` (its __module__, say).
  [[nodiscard]] static Ref class_attribute(Conversion& c, PyTypeObject* type, PyObject* name);
  /// Calls `method`, already bound to `owner`, with no arguments.
  [[nodiscard]] static Ref call_bound(Conversion& c, PyObject* owner, PyObject* method);

  /// Acquires `exporter`'s buffer into `buffer`: C exporters run no
  /// Python code, a class defined in Python may (its __buffer__).
  [[nodiscard]] static bool buffer_of(Conversion& c, PyObject* exporter, HeldBuffer& buffer,
                                      int flags);

  /// len(object) as a hint: 0 when len() fails with an ordinary Exception
  /// (which is cleared); false when it raised anything else (an interrupt).
  [[nodiscard]] static bool length_hint(Conversion& c, PyObject* object, Py_ssize_t& hint);
  /// iter(object).
  [[nodiscard]] static Ref iterator(Conversion& c, PyObject* object);
  /// next(iterator); null when exhausted (no exception) or failed.
  [[nodiscard]] static Ref next(Conversion& c, PyObject* iterator);
  /// getattr(object, name).
  [[nodiscard]] static Ref attribute(Conversion& c, PyObject* object, PyObject* name);
  /// object.name(**kwargs), kwargs a dict or null.
  [[nodiscard]] static Ref call_method(Conversion& c, PyObject* object, PyObject* name,
                                       PyObject* kwargs);
  /// str(object).
  [[nodiscard]] static Ref text_of(Conversion& c, PyObject* object);
  /// getattr(sys.modules[module], name), or null with no exception when
  /// the module is not imported or has no such attribute.
  [[nodiscard]] static Ref imported_attribute(Conversion& c, const char* module, const char* name);
  /// Whether the calling thread runs signal handlers: 1 or 0, -1 with an
  /// exception set. Only the main thread of the main interpreter does: the
  /// thread that started the interpreter, which on Linux, macOS and the BSDs
  /// the operating system names at no cost. Elsewhere the interpreter is
  /// asked, once per process (which imports threading before 3.13).
  [[nodiscard]] static int runs_signal_handlers(Conversion& c);

  /// Whether converting `object` may run Python code: when its class was
  /// defined in Python.
  [[nodiscard]] static bool may_run_python(PyObject* object) noexcept {
    return (PyType_GetFlags(Py_TYPE(object)) & Py_TPFLAGS_HEAPTYPE) != 0;
  }

 private:
  static void before(Conversion& c) { c.detach_all(); }
};

}  // namespace quorvel::py
