// Example: a small immutable value type that wraps one text.
#pragma once

#include "ref.hpp"

namespace quorvel::py {

/// Creates the Example heap type ("builtins.Example"). Called once per
/// process; null with a Python exception set on failure.
[[nodiscard]] PyTypeObject* create_example_type() noexcept;

}  // namespace quorvel::py
