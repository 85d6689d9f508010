// Gauss-Jordan elimination with partial pivoting on an augmented block.
#pragma once

#include <cstddef>

#include "interrupt.hpp"

namespace quorvel {

/// Smallest pivot magnitude that the elimination accepts (strictly below fails).
inline constexpr double kPivotThreshold = 1e-14;

enum class Elimination { Inverted, Singular, Interrupted };

/// `a` is the n x 2n row-major block [M | I] (leading dimension 2n), n >= 1.
/// For each column c in turn: the row at or below c with the strictly
/// largest |value| in column c (the upper one on ties; a NaN neither wins
/// nor is displaced) is swapped into row c; a pivot magnitude below
/// kPivotThreshold stops with Singular; row c is divided by its pivot; every
/// other row r, zero factors included, becomes row_r - (row_c * f) with f
/// its column-c value before the step. Every operation is rounded on its
/// own, so the result is one fixed sequence of IEEE operations.
///
/// On Inverted the right half of `a` holds the inverse, exactly as that
/// sequence leaves it; the left half is left as scratch. On Singular,
/// `singular_column` is the column (the pivot step, from 0) whose pivot
/// fell below the threshold. Work is reported to `interrupt` in units of
/// one multiply-subtract, and Interrupted is returned as soon as it asks to
/// stop (`a` then holds no result).
[[nodiscard]] Elimination gauss_jordan(double* a, std::size_t n, Interrupt& interrupt,
                                       std::size_t& singular_column) noexcept;

}  // namespace quorvel
