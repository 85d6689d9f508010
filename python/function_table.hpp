// The module's public functions.
#pragma once

#include <span>

#include "ref.hpp"

namespace quorvel::py {

/// One method record per public function, in registration order (the
/// order of __all__), each with its text signature. They live as long as
/// the process.
[[nodiscard]] std::span<const PyMethodDef> public_functions();

}  // namespace quorvel::py
