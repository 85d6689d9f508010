// Binding of call arguments to parameters.
#pragma once

#include <span>
#include <string_view>

#include "ref.hpp"

namespace quorvel::py {

/// Names a callable and its parameters. Every parameter is required and may
/// be given by position or by keyword.
struct SignatureDescriptor {
  std::string_view function_name;
  std::string_view class_name;  ///< empty for module functions
  std::span<const std::string_view> parameters;
};

/// Fast-call form: `args` holds `nargs` positional values followed by one
/// value per entry of `kwnames` (or kwnames is null). Fills `slots` (one per
/// parameter, null on entry) with borrowed references; false with a
/// TypeError set when the call does not fit the signature.
[[nodiscard]] bool bind_arguments(const SignatureDescriptor& descriptor, PyObject* const* args,
                                  Py_ssize_t nargs, PyObject* kwnames, PyObject** slots);

/// Tuple-and-dictionary form (type constructors); same rules and messages.
[[nodiscard]] bool bind_arguments(const SignatureDescriptor& descriptor, PyObject* args,
                                  PyObject* kwargs, PyObject** slots);

}  // namespace quorvel::py
