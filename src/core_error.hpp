// The error value of the computation core: one kind, one fixed message.
#pragma once

#include <cstddef>
#include <string_view>

namespace quorvel {

/// Every way a core routine can refuse its input. The message of each kind is
/// fixed, lower case, and never carries values from the input.
enum class CoreError : unsigned char {
  SingularCovariance,
  EmptySignals,
  EmptyAssets,
  EmptyMatrix,
  EmptyMatrixRow,
  RaggedMatrix,
  NonSquareMatrix,
  CovarianceWeightsMismatch,
  InputLengthMismatch,
  ExpectedReturnsMismatch,
  EmptyVolatility,
  NonPositiveVolatility,
  ExposureLengthMismatch,
  ZeroDenominator,
  /// A long computation was stopped from outside (see Interrupt). The caller
  /// that asked for the stop already knows why; this kind carries no news of
  /// its own and is never shown as a ValueError.
  Interrupted,
};

inline constexpr std::size_t kCoreErrorKinds = 15;

/// The fixed message of an error kind.
[[nodiscard]] std::string_view message(CoreError e) noexcept;

}  // namespace quorvel
