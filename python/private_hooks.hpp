// Module members for the test suite and benchmarks, outside __all__.
#pragma once

#include "ref.hpp"

namespace quorvel::py {

/// Sets _kernels (the kernel build in use) and the functions _invert and
/// _matvec on the module. False with a Python exception set on failure.
[[nodiscard]] bool add_private_members(PyObject* module) noexcept;

}  // namespace quorvel::py
