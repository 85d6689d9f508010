// Conversion of bound Python arguments to the values a core routine takes,
// one caster per kind of parameter. Each returns false with a Python
// exception set when the object does not fit.
#pragma once

#include <cstdint>

#include "arguments.hpp"
#include "ref.hpp"
#include "scalars.hpp"
#include "types.hpp"

namespace quorvel::py {

/// Any sequence (not a str) whose iteration yields numbers. Numeric buffers
/// are read without iterating them, contiguous native doubles in place.
[[nodiscard]] bool extract_float_vector(PyObject* object, VectorArg& out, Conversion& conversion);
/// A sequence of such sequences (rows may be ragged or empty here), a 2-D
/// numeric buffer, or a pandas DataFrame by its values.
[[nodiscard]] bool extract_float_matrix(PyObject* object, MatrixArg& out, Conversion& conversion);

// The casters of the function table: what a converted argument is held in
// during the call (`holder`), how it is filled (`extract`), and what the
// routine is handed (`pass`: a view of it, or its value).

struct Vector {
  using holder = VectorArg;
  static bool extract(PyObject* o, VectorArg& out, Conversion& c) {
    return extract_float_vector(o, out, c);
  }
  static VectorView pass(const VectorArg& a) noexcept { return a.view(); }
};

struct Matrix {
  using holder = MatrixArg;
  static bool extract(PyObject* o, MatrixArg& out, Conversion& c) {
    return extract_float_matrix(o, out, c);
  }
  static const MatrixView& pass(const MatrixArg& a) noexcept { return a.view(); }
};

template <class T, bool (*Extract)(PyObject*, T&, Conversion&)>
struct Scalar {
  using holder = T;
  static bool extract(PyObject* o, T& out, Conversion& c) { return Extract(o, out, c); }
  static T pass(const T& value) noexcept { return value; }
};

using Count = Scalar<std::uint64_t, extract_count>;
using Offset = Scalar<std::int64_t, extract_offset>;
using Float = Scalar<double, extract_float>;
using Flag = Scalar<bool, extract_flag>;

/// How many arguments of a call with these casters may be read in place.
template <class Caster>
constexpr std::size_t kInPlaceOf = 0;
template <class Caster>
  requires requires { Caster::holder::kInPlace; }
constexpr std::size_t kInPlaceOf<Caster> = Caster::holder::kInPlace;
template <class... Casters>
constexpr std::size_t kInPlaceArguments = (std::size_t{0} + ... + kInPlaceOf<Casters>);

}  // namespace quorvel::py
