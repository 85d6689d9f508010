// Private members for the tests, outside __all__: which kernel build runs
// Private members for the tests, outside __all__: which kernel build runs
// (_kernels) and which are compiled in (_kernel_builds), and direct access
// to core routines whose every output bit the tests compare: the inversion
// (all of it, not only the weights built from it, and what it found: the
// ridge, the condition estimate) and the strided matrix-vector kernel on
// rectangular views (public functions only take square matrices). They are
// rows of a function table of their own, so they bind, convert and fail
// exactly as the public functions do, inside the same barrier.
#include "private_hooks.hpp"

#include <cstdint>
#include <limits>
#include <tuple>

#include "basics.hpp"
#include "dispatch.hpp"
#include "ieee.hpp"
#include "inverse.hpp"
#include "kernels/kernels.hpp"

namespace quorvel::py {
namespace {

/// Largest number of rows or columns _matvec takes: far beyond any test,
/// small enough that no view it accepts is too large to compute.
constexpr std::int64_t kMaxExtent = std::int64_t{1} << 24;

/// float64 bytes of `count` values, every NaN the canonical one.
Ref bytes_of(FloatVector values) {
  for (double& v : values) v = canonical(v);
  return Ref::steal(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(values.data()),
                                              static_cast<Py_ssize_t>(values.size() * sizeof(double))));
}

/// _invert(matrix) -> the inverse as row-major float64 bytes, or None when
/// the elimination meets a pivot below the threshold. No ridge retry.
Ref invert(const MatrixView& matrix) {
  const auto n = check_square_matrix(matrix);
  if (!n) {
    raise_core_error(n.error());
    return {};
  }
  Interrupt never;
  const auto inverse = invert_matrix(matrix, never);
  if (!inverse || !*inverse) return Ref::borrow(Py_None);  // uninterruptible: only a pivot fails
  const MatrixView view = (*inverse)->view();
  FloatVector flat;
  flat.reserve(*n * *n);
  for (std::size_t i = 0; i < *n; ++i) flat.insert(flat.end(), view.row(i), view.row(i) + *n);
  return bytes_of(std::move(flat));
}

/// _inversion_facts(matrix) -> (ridged, singular_column, reciprocal_condition)
/// of the inversion the covariance-based weights use.
Ref inversion_facts(const MatrixView& matrix) {
  const auto n = check_square_matrix(matrix);
  if (!n) {
    raise_core_error(n.error());
    return {};
  }
  Interrupt never;
  const auto inverse = regularized_inverse(matrix, never);
  if (!inverse) {
    raise_core_error(inverse.error());
    return {};
  }
  const InversionFacts& facts = inverse->facts;
  Ref ridged = Ref::borrow(facts.ridged ? Py_True : Py_False);
  Ref column = Ref::steal(PyLong_FromSize_t(facts.singular_column));
  Ref condition = Ref::steal(PyFloat_FromDouble(canonical(facts.reciprocal_condition)));
  if (!column || !condition) return {};
  return Ref::steal(PyTuple_Pack(3, ridged.get(), column.get(), condition.get()));
}

/// a + b * c without overflow; false when it would overflow.
bool multiply_add(std::int64_t a, std::int64_t b, std::int64_t c, std::int64_t& out) noexcept {
#if defined(__GNUC__) || defined(__clang__)
  std::int64_t product = 0;
  return !__builtin_mul_overflow(b, c, &product) && !__builtin_add_overflow(a, product, &out);
#else
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
  if (b != 0 && c != 0) {
    if ((b > 0 && c > 0 && b > kMax / c) || (b < 0 && c < 0 && b < kMax / c) ||
        (b > 0 && c < 0 && c < kMin / b) || (b < 0 && c > 0 && b < kMin / c)) {
      return false;
    }
  }
  const std::int64_t product = b * c;
  if ((product > 0 && a > kMax - product) || (product < 0 && a < kMin - product)) return false;
  out = a + product;
  return true;
#endif
}

/// _matvec(values, offset, row_stride, col_stride, rows, cols, x) -> y as
/// float64 bytes, where row i, column j is values[offset + i*row_stride +
/// j*col_stride]. Every element read must lie inside `values`.
Ref matvec(VectorView values, std::int64_t offset, std::int64_t row_stride,
           std::int64_t col_stride, std::int64_t rows, std::int64_t cols, VectorView x) {
  if (rows < 0 || cols < 0 || rows > kMaxExtent || cols > kMaxExtent ||
      static_cast<std::uint64_t>(cols) > x.size()) {
    raise(PyExc_ValueError, "bad shape");
    return {};
  }
  FloatVector y(static_cast<std::size_t>(rows), -0.0);  // a sum of no terms
  if (rows > 0 && cols > 0) {
    // The extreme elements read are at the corners of the view.
    const auto size = static_cast<std::int64_t>(values.size());
    std::int64_t last_row = 0, last_col = 0, far = 0;
    const bool fits = multiply_add(offset, rows - 1, row_stride, last_row) &&
                      multiply_add(offset, cols - 1, col_stride, last_col) &&
                      multiply_add(last_row, cols - 1, col_stride, far);
    if (!fits) {
      raise(PyExc_ValueError, "view reaches outside the values");
      return {};
    }
    for (const std::int64_t corner : {offset, last_row, last_col, far}) {
      if (corner < 0 || corner >= size) {
        raise(PyExc_ValueError, "view reaches outside the values");
        return {};
      }
    }
    // An empty view may start anywhere and is never read: only a view with
    // elements reaches the kernel, with a base inside the values.
    kernels::matvec(values.data() + offset, row_stride, col_stride, static_cast<std::size_t>(rows),
                    static_cast<std::size_t>(cols), x.data(), y.data());
  }
  return bytes_of(std::move(y));
}

constexpr auto kPrivateFunctions = std::make_tuple(
    Function<&invert, Cost::KeepsLock, Matrix>{"_invert", {"matrix"}},
    Function<&inversion_facts, Cost::KeepsLock, Matrix>{"_inversion_facts", {"matrix"}},
    Function<&matvec, Cost::KeepsLock, Vector, Offset, Offset, Offset, Offset, Offset, Vector>{
        "_matvec", {"values", "offset", "row_stride", "col_stride", "rows", "cols", "x"}});

}  // namespace

bool add_private_members(PyObject* module) noexcept {
  return PyModule_AddStringConstant(module, "_kernels", kernels::active_kernels()) == 0 &&
         PyModule_AddStringConstant(module, "_kernel_builds", kernels::built_kernels()) == 0 &&
         barrier(false, [&] {
           return PyModule_AddFunctions(module, MethodRecords<kPrivateFunctions>::get().terminated()) == 0;
         });
}

}  // namespace quorvel::py
