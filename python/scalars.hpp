// Single numbers and flags: counts, floats, signed offsets and bools.
#pragma once

#include <cstdint>

#include "arguments.hpp"
#include "ref.hpp"

namespace quorvel::py {

enum class Read { Done, Failed, Other };

/// The numbers float() takes without running any Python code: floats (a
/// subclass's value is read directly, whatever its __float__ says), and
/// exact ints and bools. Other when the object is none of these.
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
    out = PyFloat_AsDouble(item);
    return Read::Done;
  }
  return Read::Other;
}

/// float(item) for any item: the plain ones directly, anything else through
/// its own conversion.
[[nodiscard]] bool read_number(PyObject* item, double& out, Conversion& conversion);

/// An int (or __index__ object) in 0 .. 2**64 - 1.
[[nodiscard]] bool extract_count(PyObject* object, std::uint64_t& out, Conversion& conversion);
/// An int (or __index__ object) in -2**63 .. 2**63 - 1.
[[nodiscard]] bool extract_offset(PyObject* object, std::int64_t& out, Conversion& conversion);
/// Anything float() takes: floats, ints, __float__, __index__.
[[nodiscard]] bool extract_float(PyObject* object, double& out, Conversion& conversion);
/// Exactly a bool, or a numpy boolean scalar.
[[nodiscard]] bool extract_flag(PyObject* object, bool& out, Conversion& conversion);

}  // namespace quorvel::py
