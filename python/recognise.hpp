// Recognising the array-like objects whose numbers can be read without
// iterating them. numpy and pandas are never imported: their types are
// recognised by module and name, and remembered once recognised.
#pragma once

#include "arguments.hpp"
#include "ref.hpp"

namespace quorvel::py {

enum class ArrayKind {
  Other, NdArray, NumpyMatrix, Array, MemoryView, DataFrame, Series,
  Failed,  ///< looking raised something other than an ordinary Exception
};

/// What kind of object `object` is, by its exact type (subclasses are
/// Other, but for numpy.matrix, which numpy itself defines as one). Looking
/// at a Python-defined class for the first time may run Python code; an
/// interrupt (anything not an Exception) raised there propagates as Failed,
/// with the error set.
[[nodiscard]] ArrayKind recognise(PyObject* object, Conversion& conversion);

}  // namespace quorvel::py
