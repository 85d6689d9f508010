// The casters of the function tables: what a converted argument is held in
// during the call (`holder`), how the reader fills it (`extract`), and what
// the routine is handed (`pass`: a view of it, or its value). Each extract
// returns false with a Python exception set when the object does not fit.
#pragma once

#include <cstddef>
#include <cstdint>

#include "arguments.hpp"
#include "reader.hpp"
#include "types.hpp"

namespace quorvel::py {

struct Vector {
  using holder = VectorArg;
  static bool extract(PyObject* o, VectorArg& out, Conversion& c) { return read_vector(o, out, c); }
  static VectorView pass(const VectorArg& a) noexcept { return a.view(); }
};

struct Matrix {
  using holder = MatrixArg;
  static bool extract(PyObject* o, MatrixArg& out, Conversion& c) { return read_matrix(o, out, c); }
  static const MatrixView& pass(const MatrixArg& a) noexcept { return a.view(); }
};

template <class T, bool (*Extract)(PyObject*, T&, Conversion&)>
struct Scalar {
  using holder = T;
  static bool extract(PyObject* o, T& out, Conversion& c) { return Extract(o, out, c); }
  static T pass(const T& value) noexcept { return value; }
};

using Count = Scalar<std::uint64_t, read_count>;
using Offset = Scalar<std::int64_t, read_offset>;
using Float = Scalar<double, read_number>;
using Flag = Scalar<bool, read_flag>;

/// How many arguments of a call with these casters may be read in place.
template <class Caster>
constexpr std::size_t kInPlaceOf = 0;
template <class Caster>
  requires requires { Caster::holder::kInPlace; }
constexpr std::size_t kInPlaceOf<Caster> = Caster::holder::kInPlace;
template <class... Casters>
constexpr std::size_t kInPlaceArguments = (std::size_t{0} + ... + kInPlaceOf<Casters>);

}  // namespace quorvel::py
