#include "gauss_jordan.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <new>
#include <numeric>
#include <utility>

#include "kernels/kernels.hpp"

namespace quorvel {
namespace {

/// Below this size the column-by-column loop is as fast as the panels.
constexpr std::size_t kPanelThreshold = 24;

/// Pivot steps per panel: enough to amortise each sweep over the block,
/// few enough that the panel's own columns stay cheap to eliminate.
std::size_t panel_steps(std::size_t n) noexcept { return n < 64 ? 8 : n <= 500 ? 16 : 32; }

/// Index of the pivot for column `c`: the first row at or below c whose
/// magnitude no later row strictly exceeds. A NaN never wins, and once
/// chosen (as the first candidate) is never displaced.
std::size_t pivot_row(const double* column, std::size_t stride, std::size_t c,
                      std::size_t n) noexcept {
  std::size_t p = c;
  double best = std::fabs(column[c * stride]);
  for (std::size_t k = c + 1; k < n; ++k) {
    const double m = std::fabs(column[k * stride]);
    if (m > best) {
      p = k;
      best = m;
    }
  }
  return p;
}

/// The plain loop: one pivot at a time over the whole block.
Elimination column_by_column(double* a, std::size_t n, Interrupt& interrupt,
                             std::size_t& singular_column) noexcept {
  const std::size_t width = 2 * n;
  auto row = [&](std::size_t i) { return a + i * width; };
  for (std::size_t c = 0; c < n; ++c) {
    const std::size_t p = pivot_row(a + c, width, c, n);
    if (std::fabs(row(p)[c]) < kPivotThreshold) {
      singular_column = c;
      return Elimination::Singular;
    }
    if (p != c) std::swap_ranges(row(c), row(c) + width, row(p));

    double* const pivot = row(c);
    const double v = pivot[c];
    for (std::size_t j = 0; j < width; ++j) pivot[j] = pivot[j] / v;
    for (std::size_t r = 0; r < n; ++r) {
      if (r == c) continue;
      double* const target = row(r);
      kernels::subtract_scaled(target, pivot, target[c], width);
    }
    if (!interrupt.proceed(std::uint64_t{n} * width)) return Elimination::Interrupted;
  }
  return Elimination::Inverted;
}

/// The same sequence of operations, a panel of pivots at a time.
///
/// Each panel is first eliminated on its own columns only (copied out,
/// column-major): pivots are chosen one at a time on the columns as updated
/// so far, and each step's multipliers (its column before the step) are
/// kept, moving with their rows when later steps swap rows. The kernels
/// then apply the panel's steps to the rest of the block tile by tile.
///
/// Two kinds of columns take no part, since nothing ever reads them again:
/// columns left of the current pivot (already eliminated), and identity
/// columns that are still untouched. An identity column is untouched while
/// the row holding its 1.0 has not been a pivot row and every step so far
/// had a pivot > 0 and finite multipliers: each step then leaves it as it
/// was (+0 / v = +0; x - (+0 * f) = x for finite f, since +0 * f is +-0 and
/// both +0 - +0 and +0 - -0 give +0). Such a column is brought in, as e_q
/// in right-half column q, when its row becomes pivot row q; so the right
/// half holds the inverse's columns in pivot order (column_of says which)
/// and is put back in order at the end. The first panel that breaks the
/// condition brings in every remaining identity column at once.
Elimination in_panels(double* a, std::size_t n, std::size_t panel, double* values,
                      std::size_t* indices, Interrupt& interrupt,
                      std::size_t& singular_column) noexcept {
  const std::size_t width = 2 * n;
  double* const columns = values;               // step k's column at columns + k * n
  double* const multipliers = values + n * panel;  // rows x steps, row-major
  std::size_t* const origin = indices;          // the input row now in row r
  std::size_t* const column_of = indices + n;   // inverse column held by right-half column q
  std::iota(origin, origin + n, std::size_t{0});
  bool identity_intact = true;

  for (std::size_t c0 = 0; c0 < n; c0 += panel) {
    const std::size_t steps = std::min(panel, n - c0);
    for (std::size_t r = 0; r < n; ++r) {
      const double* from = a + r * width + c0;
      for (std::size_t k = 0; k < steps; ++k) columns[k * n + r] = from[k];
    }

    double pivots[kernels::kMaxPanelSteps];
    std::size_t swaps[kernels::kMaxPanelSteps];
    for (std::size_t k = 0; k < steps; ++k) {
      const std::size_t c = c0 + k;
      double* const column = columns + k * n;
      const std::size_t p = pivot_row(column, 1, c, n);
      if (std::fabs(column[p]) < kPivotThreshold) {
        singular_column = c;
        return Elimination::Singular;
      }
      swaps[k] = p;
      if (p != c) {
        for (std::size_t j = 0; j < steps; ++j) std::swap(columns[j * n + c], columns[j * n + p]);
      }
      const double v = column[c];
      pivots[k] = v;
      for (std::size_t j = k + 1; j < steps; ++j) {
        double* const target = columns + j * n;
        const double pivot_value = target[c] / v;
        target[c] = pivot_value;
        for (std::size_t r = 0; r < c; ++r) target[r] = target[r] - (pivot_value * column[r]);
        for (std::size_t r = c + 1; r < n; ++r) target[r] = target[r] - (pivot_value * column[r]);
      }
    }

    if (identity_intact) {
      bool exact = true;
      for (std::size_t k = 0; k < steps && exact; ++k) {
        const double* const f = columns + k * n;
        exact = pivots[k] > 0.0;
        for (std::size_t r = 0; r < n && exact; ++r) exact = r == c0 + k || std::isfinite(f[r]);
      }
      if (!exact) {
        identity_intact = false;
        for (std::size_t q = c0; q < n; ++q) column_of[q] = origin[q];
      }
    }

    // Columns past the panel that already hold values take the panel's row
    // swaps now; the new identity columns are brought in after them.
    const std::size_t begin = c0 + steps;
    const std::size_t held_end = identity_intact ? n + c0 : width;
    for (std::size_t k = 0; k < steps; ++k) {
      const std::size_t c = c0 + k;
      const std::size_t p = swaps[k];
      if (p == c) continue;
      std::swap(origin[c], origin[p]);
      std::swap_ranges(a + c * width + begin, a + c * width + held_end, a + p * width + begin);
    }
    if (identity_intact) {
      for (std::size_t k = 0; k < steps; ++k) column_of[c0 + k] = origin[c0 + k];
    }
    const std::size_t end = identity_intact ? n + c0 + steps : width;

    for (std::size_t r = 0; r < n; ++r) {
      for (std::size_t k = 0; k < steps; ++k) multipliers[r * steps + k] = columns[k * n + r];
    }
    kernels::apply_panel({a, width, n, c0, steps, multipliers, pivots, begin, end});

    const std::uint64_t work = std::uint64_t{n} * steps * (end - begin + steps / 2);
    if (!interrupt.proceed(work)) return Elimination::Interrupted;
  }

  bool reordered = false;
  for (std::size_t q = 0; q < n; ++q) reordered = reordered || column_of[q] != q;
  if (reordered) {
    double* const copy = values;
    for (std::size_t r = 0; r < n; ++r) {
      double* const right = a + r * width + n;
      std::copy_n(right, n, copy);
      for (std::size_t q = 0; q < n; ++q) right[column_of[q]] = copy[q];
    }
  }
  return Elimination::Inverted;
}

}  // namespace

Elimination gauss_jordan(double* a, std::size_t n, Interrupt& interrupt,
                         std::size_t& singular_column) noexcept {
  if (n < kPanelThreshold) return column_by_column(a, n, interrupt, singular_column);
  const std::size_t panel = std::min(panel_steps(n), kernels::kMaxPanelSteps);
  const std::unique_ptr<double[]> values(new (std::nothrow) double[2 * n * panel]);
  const std::unique_ptr<std::size_t[]> indices(new (std::nothrow) std::size_t[2 * n]);
  // Without room for the panels the plain loop, which needs none, still
  // gives the same result.
  if (!values || !indices) return column_by_column(a, n, interrupt, singular_column);
  return in_panels(a, n, panel, values.get(), indices.get(), interrupt, singular_column);
}

}  // namespace quorvel
