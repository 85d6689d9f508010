// The closed list of reads that run no Python code: everything the reader
// takes from an argument without going through the gate (python_code.hpp).
// Anything not listed here goes through the gate.
#pragma once

#include "buffers.hpp"
#include "held_buffer.hpp"
#include "ref.hpp"

namespace quorvel::py {

enum class Read { Done, Failed, Other };

/// The numbers float() takes without running any Python code: floats (a
/// subclass's value is read from the object itself, whatever its __float__
/// says; numpy.float64 is one), and exact ints and bools. Other when the
/// object is none of these. Reading an int can fail (OverflowError past the
/// doubles).
inline Read read_plain(PyObject* item, double& out) noexcept {
  PyTypeObject* type = Py_TYPE(item);
  if (type == &PyFloat_Type) {
    out = PyFloat_AsDouble(item);
    return Read::Done;
  }
  if (type == &PyLong_Type) {
    out = PyLong_AsDouble(item);  // rounds to nearest; OverflowError past the doubles
    return out == -1.0 && PyErr_Occurred() ? Read::Failed : Read::Done;
  }
  if (type == &PyBool_Type) {
    out = item == Py_True ? 1.0 : 0.0;
    return Read::Done;
  }
  if (PyFloat_Check(item)) {
    out = PyFloat_AsDouble(item);  // the stored value: no __float__ is called
    return Read::Done;
  }
  return Read::Other;
}

/// The __module__ of a static class whose metaclass is exactly `type`: the
/// interpreter derives it from the class's C name. Null, with the exception
/// set, only when memory runs out.
inline Ref static_class_module(PyTypeObject* type, PyObject* module_name) noexcept {
  return Ref::steal(PyObject_GetAttr(reinterpret_cast<PyObject*>(type), module_name));
}

/// Whether `type` is a static class with `type` as its metaclass, whose
/// __module__ static_class_module may read.
inline bool plain_static_class(PyTypeObject* type) noexcept {
  return (PyType_GetFlags(type) & Py_TPFLAGS_HEAPTYPE) == 0 &&
         Py_IS_TYPE(reinterpret_cast<PyObject*>(type), &PyType_Type);
}

/// The buffer of an exporter whose export is C code (exact numpy arrays,
/// numpy scalars, array.array, memoryview; recognise.hpp tells which).
inline bool acquire_inert(HeldBuffer& buffer, PyObject* exporter) noexcept {
  return buffer.acquire(exporter, kBufferFlags);
}

enum class Same { Yes, No, Unknown };

/// Whether two labels are equal, for the labels whose comparison is C code:
/// the same object, exact strs, exact ints, exact floats (NaN equal to NaN,
/// as pandas aligns them), None, and exact tuples of these (a MultiIndex
/// entry). Unknown for anything else, which only the gate may compare.
inline Same same_label(PyObject* a, PyObject* b, int depth = 0) noexcept {
  if (a == b) return Same::Yes;
  // NaN labels are one label to pandas, whatever float type holds them
  // (numpy's float64 is a float); reading a float's value runs no code.
  if (PyFloat_Check(a) && PyFloat_Check(b)) {
    const double x = PyFloat_AsDouble(a), y = PyFloat_AsDouble(b);
    if (x != x && y != y) return Same::Yes;
  }
  PyTypeObject* type = Py_TYPE(a);
  if (type != Py_TYPE(b)) {
    const bool numbers = (type == &PyLong_Type || type == &PyFloat_Type) &&
                         (Py_TYPE(b) == &PyLong_Type || Py_TYPE(b) == &PyFloat_Type);
    if (!numbers) {
      const bool plain_a = type == &PyUnicode_Type || type == &PyLong_Type || type == &PyFloat_Type ||
                           a == Py_None;
      const bool plain_b = Py_TYPE(b) == &PyUnicode_Type || Py_TYPE(b) == &PyLong_Type ||
                           Py_TYPE(b) == &PyFloat_Type || b == Py_None;
      return plain_a && plain_b ? Same::No : Same::Unknown;
    }
  }
  if (type == &PyUnicode_Type) {
    const int order = PyUnicode_Compare(a, b);
    if (order == -1 && PyErr_Occurred()) {
      PyErr_Clear();
      return Same::Unknown;
    }
    return order == 0 ? Same::Yes : Same::No;
  }
  if (type == &PyFloat_Type && Py_TYPE(b) == &PyFloat_Type) {
    const double x = PyFloat_AsDouble(a), y = PyFloat_AsDouble(b);
    return x == y || (x != x && y != y) ? Same::Yes : Same::No;
  }
  if (type == &PyLong_Type || type == &PyFloat_Type) {
    // Numbers of the interpreter's own types compare in C.
    const int equal = PyObject_RichCompareBool(a, b, Py_EQ);
    if (equal < 0) {
      PyErr_Clear();
      return Same::Unknown;
    }
    return equal != 0 ? Same::Yes : Same::No;
  }
  if (type == &PyTuple_Type && depth < 4) {
    const Py_ssize_t n = PyTuple_Size(a);
    if (n != PyTuple_Size(b)) return Same::No;
    for (Py_ssize_t i = 0; i < n; ++i) {
      const Same item = same_label(PyTuple_GetItem(a, i), PyTuple_GetItem(b, i), depth + 1);
      if (item != Same::Yes) return item;
    }
    return Same::Yes;
  }
  return Same::Unknown;
}

}  // namespace quorvel::py
