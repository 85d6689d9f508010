// Telling what an argument is, so that the reader knows how to take its
// numbers. numpy and pandas are never imported: their types are recognised
// by module and name, and remembered once recognised.
#pragma once

#include "arguments.hpp"
#include "ref.hpp"

namespace quorvel::py {

enum class ArrayKind {
  Other,        ///< anything else: iterated, or converted through the gate
  List,         ///< exactly a list
  Tuple,        ///< exactly a tuple
  Str,          ///< a str or a subclass: never a sequence of characters
  NdArray,      ///< exactly numpy.ndarray
  NumpyMatrix,  ///< numpy.matrix (an ndarray subclass numpy defines in Python)
  Array,        ///< array.array
  MemoryView,   ///< exactly memoryview
  NumpyScalar,  ///< one of numpy's scalar types (numpy.float32, numpy.int64, ...)
  DataFrame,    ///< pandas.DataFrame
  Series,       ///< pandas.Series
  RangeIndex,   ///< pandas.RangeIndex (labels that may be mere positions)
  Failed,       ///< looking raised something other than an ordinary Exception
};

/// recognise() for everything but the usual exact lists and tuples.
[[nodiscard]] ArrayKind recognise_other(PyObject* object, Conversion& conversion);

/// What `object` is, by its exact type (subclasses are Other, but for
/// numpy.matrix, which numpy itself defines as one). Looking at a class
/// defined in Python for the first time may run Python code (through the
/// gate); an interrupt (anything not an Exception) raised there propagates
/// as Failed, with the error set.
[[nodiscard]] inline ArrayKind recognise(PyObject* object, Conversion& conversion) {
  PyTypeObject* type = Py_TYPE(object);
  if (type == &PyList_Type) return ArrayKind::List;
  if (type == &PyTuple_Type) return ArrayKind::Tuple;
  return recognise_other(object, conversion);
}

/// For an item expected to be one number: NumpyScalar for a numpy scalar or
/// array (a static numpy class with a buffer, which may hold the number
/// without any Python code running), Failed on an interrupt, Other for
/// anything else. Cheap for classes defined in Python, which are never
/// numpy's.
[[nodiscard]] ArrayKind recognise_number(PyObject* object, Conversion& conversion);

/// Whether the buffer of an object of this kind is exported by C code that
/// runs no Python code, so that it may be acquired outside the gate.
[[nodiscard]] constexpr bool inert_exporter(ArrayKind kind) noexcept {
  return kind == ArrayKind::NdArray || kind == ArrayKind::Array || kind == ArrayKind::MemoryView ||
         kind == ArrayKind::NumpyScalar;
}

}  // namespace quorvel::py
