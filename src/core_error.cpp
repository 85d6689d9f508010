#include "core_error.hpp"

#include <array>

#include "invariant.hpp"

namespace quorvel {
namespace {

struct ErrorRow {
  CoreError kind;
  std::string_view text;
};

// One row per kind, in the order of the enumeration; the static_assert below
// keeps the two from drifting apart.
constexpr std::array<ErrorRow, kCoreErrorKinds> kErrorTable{{
    {CoreError::SingularCovariance, "covariance matrix is singular"},
    {CoreError::EmptySignals, "signals must not be empty"},
    {CoreError::EmptyAssets, "assets must not be empty"},
    {CoreError::EmptyMatrix, "matrix must not be empty"},
    {CoreError::EmptyMatrixRow, "matrix rows must not be empty"},
    {CoreError::RaggedMatrix, "matrix rows must have equal length"},
    {CoreError::NonSquareMatrix, "matrix must be square"},
    {CoreError::CovarianceWeightsMismatch, "covariance dimensions must match weights"},
    {CoreError::InputLengthMismatch, "all input vectors must have the same length"},
    {CoreError::ExpectedReturnsMismatch,
     "expected_returns length must match covariance dimensions"},
    {CoreError::EmptyVolatility, "volatility must not be empty"},
    {CoreError::NonPositiveVolatility, "all volatility values must be positive"},
    {CoreError::ExposureLengthMismatch,
     "exposures and factor_returns must have the same length"},
    {CoreError::ZeroDenominator,
     "weights cannot be normalized when the denominator is zero"},
    {CoreError::Interrupted, "interrupted"},
}};

constexpr bool table_in_order() {
  for (std::size_t i = 0; i < kErrorTable.size(); ++i) {
    if (static_cast<std::size_t>(kErrorTable[i].kind) != i) return false;
  }
  return true;
}
static_assert(table_in_order(), "error table rows must follow the enumeration");

}  // namespace

std::string_view message(CoreError e) noexcept {
  const auto i = static_cast<std::size_t>(e);
  QUORVEL_INVARIANT(i < kErrorTable.size(), "unknown error kind");
  return kErrorTable[i].text;
}

}  // namespace quorvel
