// Applying a factored panel of pivot steps to a range of columns, and the
// general matrix-vector product, written once against a small policy of
// vector operations that each kernel file supplies. Included only by the
// kernel files, each compiled for its own instruction set, after target.hpp.
//
// A policy provides: a type Vec holding kLanes doubles; load and store
// (unaligned); broadcast; and mul, sub and div, each one rounded operation
// per lane.
#pragma once

#include <cstddef>

#include "kernels.hpp"
#include "target.hpp"

namespace quorvel::kernels::QUORVEL_KERNEL_TARGET {

/// One double per "vector": the tail columns and the portable kernel.
struct ScalarOps {
  using Vec = double;
  static constexpr std::size_t kLanes = 1;
  static Vec load(const double* p) noexcept { return *p; }
  static void store(double* p, Vec v) noexcept { *p = v; }
  static Vec broadcast(double v) noexcept { return v; }
  static Vec mul(Vec a, Vec b) noexcept { return a * b; }
  static Vec sub(Vec a, Vec b) noexcept { return a - b; }
  static Vec div(Vec a, Vec b) noexcept { return a / b; }
};

/// A tile is V vectors wide. Its rows are visited R at a time (R tile rows
/// live in registers while all the panel's steps are applied to them), but
/// every element still receives the panel's steps one by one in step order:
///   the pivot row of step k: steps j < k as x - (p_j * f), then x / v_k,
///     then steps j > k as x - (p_j * f);
///   every other row: steps 0 .. K-1 as x - (p_k * f);
/// where p_k is the pivot row of step k right after its division (kept in
/// `snap`) and f the row's multiplier for that step.
template <class Ops, std::size_t V, std::size_t R>
struct Tile {
  using Vec = typename Ops::Vec;
  static constexpr std::size_t kWidth = V * Ops::kLanes;
  static constexpr std::size_t kAhead = 2;  // groups of rows prefetched ahead

  /// Rows [begin, end), none of them a pivot row of the panel.
  static void other_rows(const PanelUpdate& u, std::size_t col, const double* snap,
                         std::size_t begin, std::size_t end) noexcept {
    const std::size_t steps = u.steps;
    std::size_t r = begin;
    for (; r + R <= end; r += R) {
      Vec x[R][V];
      double* row[R];
      QUORVEL_UNROLL(8)
      for (std::size_t i = 0; i < R; ++i) {
        row[i] = u.a + (r + i) * u.stride + col;
        QUORVEL_UNROLL(8)
        for (std::size_t v = 0; v < V; ++v) x[i][v] = Ops::load(row[i] + v * Ops::kLanes);
      }
      // Successive tile rows are a whole block row apart, too far for the
      // hardware prefetcher to follow: ask for the rows a few groups down
      // while this group computes (measured: a third off at n = 1000).
      if (r + (kAhead + 1) * R <= end) {
        QUORVEL_UNROLL(8)
        for (std::size_t i = 0; i < R; ++i) {
          const double* ahead = u.a + (r + kAhead * R + i) * u.stride + col;
          for (std::size_t line = 0; line < kWidth; line += 8) QUORVEL_PREFETCH_FOR_WRITE(ahead + line);
        }
      }
      const double* f = u.multipliers + r * steps;
      for (std::size_t k = 0; k < steps; ++k) {
        Vec p[V];
        QUORVEL_UNROLL(8)
        for (std::size_t v = 0; v < V; ++v) p[v] = Ops::load(snap + k * kWidth + v * Ops::kLanes);
        QUORVEL_UNROLL(8)
        for (std::size_t i = 0; i < R; ++i) {
          const Vec m = Ops::broadcast(f[i * steps + k]);
          QUORVEL_UNROLL(8)
          for (std::size_t v = 0; v < V; ++v) x[i][v] = Ops::sub(x[i][v], Ops::mul(p[v], m));
        }
      }
      QUORVEL_UNROLL(8)
      for (std::size_t i = 0; i < R; ++i) {
        QUORVEL_UNROLL(8)
        for (std::size_t v = 0; v < V; ++v) Ops::store(row[i] + v * Ops::kLanes, x[i][v]);
      }
    }
    if constexpr (R > 1) Tile<Ops, V, 1>::other_rows(u, col, snap, r, end);
  }

  /// The whole tile of columns [col, col + kWidth), all rows.
  static void run(const PanelUpdate& u, std::size_t col, double* snap) noexcept {
    const std::size_t steps = u.steps;
    const std::size_t first = u.first_pivot;
    // Pivot rows up to and including their own division; the result is both
    // the value later steps subtract multiples of and the row's new state.
    for (std::size_t k = 0; k < steps; ++k) {
      const double* src = u.a + (first + k) * u.stride + col;
      const double* f = u.multipliers + (first + k) * steps;
      Vec x[V];
      QUORVEL_UNROLL(8)
      for (std::size_t v = 0; v < V; ++v) x[v] = Ops::load(src + v * Ops::kLanes);
      for (std::size_t j = 0; j < k; ++j) {
        const Vec m = Ops::broadcast(f[j]);
        QUORVEL_UNROLL(8)
        for (std::size_t v = 0; v < V; ++v) {
          x[v] = Ops::sub(x[v], Ops::mul(Ops::load(snap + j * kWidth + v * Ops::kLanes), m));
        }
      }
      const Vec d = Ops::broadcast(u.pivots[k]);
      QUORVEL_UNROLL(8)
      for (std::size_t v = 0; v < V; ++v) {
        Ops::store(snap + k * kWidth + v * Ops::kLanes, Ops::div(x[v], d));
      }
    }
    other_rows(u, col, snap, 0, first);
    other_rows(u, col, snap, first + steps, u.rows);
    // Pivot rows: the steps after their own.
    for (std::size_t k = 0; k < steps; ++k) {
      double* dst = u.a + (first + k) * u.stride + col;
      const double* f = u.multipliers + (first + k) * steps;
      Vec x[V];
      QUORVEL_UNROLL(8)
      for (std::size_t v = 0; v < V; ++v) x[v] = Ops::load(snap + k * kWidth + v * Ops::kLanes);
      for (std::size_t j = k + 1; j < steps; ++j) {
        const Vec m = Ops::broadcast(f[j]);
        QUORVEL_UNROLL(8)
        for (std::size_t v = 0; v < V; ++v) {
          x[v] = Ops::sub(x[v], Ops::mul(Ops::load(snap + j * kWidth + v * Ops::kLanes), m));
        }
      }
      QUORVEL_UNROLL(8)
      for (std::size_t v = 0; v < V; ++v) Ops::store(dst + v * Ops::kLanes, x[v]);
    }
  }
};

/// The whole column range: tiles of V vectors, then single vectors, then
/// single columns. The tiles are visited right to left, so that the
/// leftmost columns, which the next panel starts from, are the ones still
/// in cache when this panel is done.
template <class Ops, std::size_t V, std::size_t R>
void apply_panel(const PanelUpdate& u) noexcept {
  constexpr std::size_t kTile = V * Ops::kLanes;
  alignas(64) double snap[kMaxPanelSteps * kTile];
  const std::size_t tiles = (u.col_end - u.col_begin) / kTile;
  std::size_t col = u.col_begin + tiles * kTile;
  if constexpr (V > 1) {
    for (; col + Ops::kLanes <= u.col_end; col += Ops::kLanes) Tile<Ops, 1, R>::run(u, col, snap);
  }
  if constexpr (Ops::kLanes > 1) {
    for (; col < u.col_end; ++col) Tile<ScalarOps, 1, R>::run(u, col, snap);
  }
  for (std::size_t t = tiles; t-- > 0;) Tile<Ops, V, R>::run(u, u.col_begin + t * kTile, snap);
}

/// y[i] = in-order dot product of row i with x, four rows side by side
/// (each row still its own left-to-right sum from -0.0). Any strides.
inline void matvec_general(const double* a, std::ptrdiff_t rs, std::ptrdiff_t cs,
                           std::size_t rows, std::size_t cols, const double* x,
                           double* y) noexcept {
  const auto at = [&](std::size_t i, std::size_t j) {
    return a[static_cast<std::ptrdiff_t>(i) * rs + static_cast<std::ptrdiff_t>(j) * cs];
  };
  std::size_t i = 0;
  for (; i + 4 <= rows; i += 4) {
    double s0 = -0.0, s1 = -0.0, s2 = -0.0, s3 = -0.0;
    for (std::size_t j = 0; j < cols; ++j) {
      const double xj = x[j];
      s0 = s0 + at(i, j) * xj;
      s1 = s1 + at(i + 1, j) * xj;
      s2 = s2 + at(i + 2, j) * xj;
      s3 = s3 + at(i + 3, j) * xj;
    }
    y[i] = s0;
    y[i + 1] = s1;
    y[i + 2] = s2;
    y[i + 3] = s3;
  }
  for (; i < rows; ++i) {
    double s = -0.0;
    for (std::size_t j = 0; j < cols; ++j) s = s + at(i, j) * x[j];
    y[i] = s;
  }
}

}  // namespace quorvel::kernels::QUORVEL_KERNEL_TARGET
