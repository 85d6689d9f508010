// Value types shared by every routine of the computation core.
#pragma once

#include <cstdint>
#include <expected>
#include <vector>

#include "core_error.hpp"

namespace quorvel {

/// An owned, ordered run of IEEE doubles: weights, returns, signals, results.
using FloatVector = std::vector<double>;

/// An owned sequence of rows. Rows may be ragged or empty until
/// check_square_matrix has accepted the matrix.
using FloatMatrix = std::vector<FloatVector>;

/// What every fallible core routine returns: a value or one CoreError.
template <class T>
using Result = std::expected<T, CoreError>;

/// Shorthand for the failing side of a Result.
[[nodiscard]] inline std::unexpected<CoreError> fail(CoreError e) noexcept {
  return std::unexpected<CoreError>(e);
}

}  // namespace quorvel
