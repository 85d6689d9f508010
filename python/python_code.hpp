// The gate: the one way for the reader to run code that may be written in
// Python.
#pragma once

#include "arguments.hpp"
#include "ref.hpp"

namespace quorvel::py {

/// Any interpreter call that is not a read of a known-inert object may run
/// Python code: a __float__ or __index__, an iterator, a __len__, a pandas
/// method, an import, a numpy conversion that calls an element's __float__
/// or issues a warning (and so runs warning filters and showwarning). Every
/// such call during a call's conversion goes through one of these functions,
/// and each
///   1. first detaches the arguments read in place so far (see Conversion),
///      so that the code cannot change what the call has already taken;
///   2. holds its own references to what it works on, since the code may
///      drop them from wherever they came from;
///   3. afterwards puts the call's floating-point state back, since the code
///      may have changed the rounding mode or flush-to-zero.
/// The inert objects, read without the gate, are a closed list kept by the
/// reader (reader.cpp): exact floats (and float subclasses, whose value is
/// read from the object itself), exact ints, bools, exact lists and tuples
/// walked by index, and the buffers of exporters whose export is C code.
///
/// Each returns null (or false) with the Python exception set on failure.
class PythonCode {
 public:
  /// float(object).
  [[nodiscard]] static bool float_of(Conversion& c, PyObject* object, double& out);
  /// operator.index(object).
  [[nodiscard]] static Ref index_of(Conversion& c, PyObject* object);
  /// An attribute of `type` (its __module__, say), looked up on the class.
  [[nodiscard]] static Ref class_attribute(Conversion& c, PyTypeObject* type, PyObject* name);
  /// Calls `method`, already bound, with no arguments.
  [[nodiscard]] static Ref call_bound(Conversion& c, PyObject* method);
  /// Binds `function` found on a class to `instance` through its descriptor
  /// slot, as attribute lookup on the instance would.
  [[nodiscard]] static Ref bind(Conversion& c, PyObject* function, PyObject* instance);

  /// Acquires the buffer of an exporter that is not known to be inert (a
  /// class defined in Python may implement __buffer__).
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
  /// a == b: 1, 0, or -1 with the exception set.
  [[nodiscard]] static int equal(Conversion& c, PyObject* a, PyObject* b);
  /// bool(object.name(other)): 1, 0, or -1 with the exception set.
  [[nodiscard]] static int ask(Conversion& c, PyObject* object, PyObject* name, PyObject* other);
  /// getattr(sys.modules[module], name), or null with no exception when
  /// the module is not imported or has no such attribute.
  [[nodiscard]] static Ref imported_attribute(Conversion& c, const char* module, const char* name);
  /// Whether the calling thread runs signal handlers: 1 or 0, -1 with an
  /// exception set. Only the main thread of the main interpreter does: the
  /// thread that started the interpreter, which on Linux, macOS and the BSDs
  /// the operating system names at no cost. Elsewhere the interpreter is
  /// asked, once per process (which imports threading before 3.13).
  [[nodiscard]] static int runs_signal_handlers(Conversion& c);

 private:
  /// Detaches and holds `object` for the duration; the destructor restores
  /// the floating-point state.
  class Passage;
};

}  // namespace quorvel::py
