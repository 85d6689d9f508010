// Private members for the tests, outside __all__: which kernel build runs
// (_kernels), and direct access to two core routines whose every output bit
// the tests compare: the inversion (all of it, not only the weights built
// from it) and the strided matrix-vector kernel on rectangular views (public
// functions only take square matrices).
#include "private.hpp"

#include <cstdint>
#include <new>
#include <optional>
#include <string>

#include "basics.hpp"
#include "converters.hpp"
#include "inverse.hpp"
#include "kernels/kernels.hpp"
#include "arguments.hpp"
#include "interrupt.hpp"

namespace quorvel::py {
namespace {

Ref bytes_of(const double* values, std::size_t count) noexcept {
  return Ref::steal(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(values),
                                              static_cast<Py_ssize_t>(count * sizeof(double))));
}

/// _invert(matrix) -> the inverse as row-major float64 bytes, or None when
/// the elimination meets a pivot below the threshold. No ridge retry.
PyObject* invert(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs) noexcept {
  try {
    if (nargs != 1) {
      PyErr_SetString(PyExc_TypeError, "_invert(matrix) takes one argument");
      return nullptr;
    }
    MatrixArg matrix;
    Conversion conversion;
    if (!extract_float_matrix(args[0], matrix, conversion)) return nullptr;
    const auto n = check_square_matrix(matrix.view());
    if (!n) {
      const std::string text(message(n.error()));
      PyErr_SetString(PyExc_ValueError, text.c_str());
      return nullptr;
    }
    Interrupt never;
    const auto inverse = invert_matrix(matrix.view(), never);
    if (!inverse || !*inverse) Py_RETURN_NONE;  // an uninterruptible call only fails on a pivot
    const MatrixView view = (*inverse)->view();
    FloatVector flat;
    flat.reserve(*n * *n);
    for (std::size_t i = 0; i < *n; ++i) flat.insert(flat.end(), view.row(i), view.row(i) + *n);
    return bytes_of(flat.data(), flat.size()).release();
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  }
}

/// _matvec(values, offset, row_stride, col_stride, rows, cols, x) -> y as
/// float64 bytes, where row i, column j is values[offset + i*row_stride +
/// j*col_stride]. Every element read must lie inside `values`.
PyObject* matvec(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs) noexcept {
  try {
    if (nargs != 7) {
      PyErr_SetString(PyExc_TypeError,
                      "_matvec(values, offset, row_stride, col_stride, rows, cols, x)");
      return nullptr;
    }
    VectorArg values_arg, x_arg;
    Conversion conversion;
    long long number[5];
    if (!extract_float_vector(args[0], values_arg, conversion)) return nullptr;
    for (int k = 0; k < 5; ++k) {
      conversion.before_python_code();
      number[k] = PyLong_AsLongLong(args[1 + k]);
      if (number[k] == -1 && PyErr_Occurred()) return nullptr;
    }
    if (!extract_float_vector(args[6], x_arg, conversion)) return nullptr;
    const VectorView values = values_arg.view(), x = x_arg.view();
    const auto [offset, row_stride, col_stride, rows, cols] = number;
    if (rows < 0 || cols < 0 || static_cast<std::size_t>(cols) > x.size()) {
      PyErr_SetString(PyExc_ValueError, "bad shape");
      return nullptr;
    }
    if (rows > 0 && cols > 0) {
      // The extreme elements read are at the corners of the view.
      const long long last_row = (rows - 1) * row_stride, last_col = (cols - 1) * col_stride;
      for (long long corner : {0LL, last_row, last_col, last_row + last_col}) {
        if (offset + corner < 0 || offset + corner >= static_cast<long long>(values.size())) {
          PyErr_SetString(PyExc_ValueError, "view reaches outside the values");
          return nullptr;
        }
      }
    }
    FloatVector y(static_cast<std::size_t>(rows));
    // An empty view may start anywhere; it is never read.
    const double* base =
        values.empty() ? nullptr : values.data() + (rows > 0 && cols > 0 ? offset : 0);
    kernels::matvec(base, row_stride, col_stride, static_cast<std::size_t>(rows),
                    static_cast<std::size_t>(cols), x.data(), y.data());
    return bytes_of(y.data(), y.size()).release();
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  }
}

using FastCall = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t);

PyMethodDef kPrivateFunctions[] = {
    {"_invert", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(FastCall{invert})),
     METH_FASTCALL, nullptr},
    {"_matvec", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(FastCall{matvec})),
     METH_FASTCALL, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

bool add_private_members(PyObject* module) noexcept {
  return PyModule_AddStringConstant(module, "_kernels", kernels::active_kernels()) == 0 &&
         PyModule_AddFunctions(module, kPrivateFunctions) == 0;
}

}  // namespace quorvel::py
