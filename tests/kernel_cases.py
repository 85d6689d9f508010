"""Seeded inputs for the kernel tests, and a numpy model of the inversion
(the same arithmetic as model.invert_matrix, fast enough for large sizes).

Imported both by tests/test_kernels.py and by the child processes it starts
(one per kernel build), so every process rebuilds the very same inputs from
the seed instead of receiving them.
"""

import math

import numpy as np

EXTREMES = np.array([0.0, -0.0, np.inf, -np.inf, np.nan, 1e300, -1e300, 5e-324, -1e-300])
# Sizes next to every size at which the elimination changes its shape: the
# plain loop below 24, panels of 8 pivot steps below 64, of 16 up to 500 and
# of 32 above; tiles of 4 columns (portable), 16 (AVX2) or 32 (AVX-512),
# then single vectors of 4 or 8 columns and single columns.
EDGES = [1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 23, 24, 25, 31, 32, 33, 40, 47, 48, 49, 63, 64, 65,
         71, 80, 81, 95, 96, 97, 127, 128, 129]
LARGE = [150, 200, 255, 257, 300, 499, 500, 501, 533, 600]
KINDS = ["spd", "general", "extremes", "integer", "singular", "ridge", "late_negative",
         "late_nonfinite", "signed_zero", "tiny_scale", "ties", "nan_pivot"]


def spd(rng, n, rank=None):
    k = n if rank is None else rank
    loadings = rng.standard_normal((n, k))
    return loadings @ loadings.T / max(k, 1)


def dominant(rng, n, blocks=None):
    """Positive definite with pivots on the diagonal: no row swaps, every
    pivot positive, so only what a test plants can change that. With
    `blocks`, block diagonal (blocks of about that size): multipliers and
    inverse entries that are exact zeros, whose signs are then at stake."""
    m = rng.standard_normal((n, n)) * 0.1
    m = (m + m.T) / 2 + np.eye(n) * (n * 0.2 + 1.0)
    if blocks:
        block = np.cumsum(rng.random(n) < 1.0 / blocks)
        m[block[:, None] != block[None, :]] = 0.0
    return m


def covariance(rng, kind, n):
    if kind == "spd":
        return spd(rng, n) + np.eye(n) * 1e-3
    if kind == "general":
        return rng.standard_normal((n, n))
    if kind == "extremes":
        m = spd(rng, n) if rng.random() < 0.5 else rng.standard_normal((n, n))
        spots = rng.random((n, n)) < rng.choice([0.002, 0.02, 0.2])
        m[spots] = rng.choice(EXTREMES, size=int(spots.sum()))
        return m
    if kind == "integer":  # exact zeros, exact zero pivots, ties
        return rng.integers(-3, 4, size=(n, n)).astype(float)
    if kind == "singular":  # rank below n: a pivot under the threshold
        return spd(rng, n, rank=int(rng.integers(0, n)))
    if kind == "ridge":  # fails as given, inverts once 1e-12 is on the diagonal
        m = spd(rng, n) + np.eye(n)
        i = int(rng.integers(n))
        m[i, :] = m[:, i] = 0.0
        if n > 1 and rng.random() < 0.5:
            j = (i + 1 + int(rng.integers(n - 1))) % n
            m[i, :], m[:, i] = m[j, :], m[:, j]  # a duplicate asset instead
            m[i, i] = m[j, j]
        return m
    if kind == "late_negative":  # one negative pivot somewhere along the way
        m = dominant(rng, n, blocks=rng.choice([0, 3, 8]))
        i = int(rng.integers(n))
        m[i, i] = -m[i, i]
        return m
    if kind == "late_nonfinite":  # one non-finite multiplier, or pivot
        m = dominant(rng, n, blocks=rng.choice([0, 3, 8]))
        i, j = int(rng.integers(n)), int(rng.integers(n))
        m[max(i, j), min(i, j)] = rng.choice([np.inf, -np.inf, np.nan])
        return m
    if kind == "signed_zero":  # multipliers of both zero signs
        m = np.diag(rng.random(n) + 0.5)
        off = ~np.eye(n, dtype=bool)
        m[off] = rng.choice([0.0, -0.0], size=int(off.sum()))
        spots = off & (rng.random((n, n)) < 0.05)
        m[spots] = rng.standard_normal(int(spots.sum())) * 0.01
        return m
    if kind == "tiny_scale":  # pivots close to the 1e-14 threshold
        return spd(rng, n) * 10.0 ** int(rng.integers(-17, -11))
    if kind == "ties":  # equal magnitudes of both signs in every column
        m = rng.choice([-1.0, 1.0], size=(n, n)) * rng.choice([1.0, 2.0])
        return m + np.eye(n) * rng.choice([0.0, 0.5])
    if kind == "nan_pivot":
        m = dominant(rng, n, blocks=rng.choice([0, 3, 8]))
        i = int(rng.integers(n))
        m[i, i] = np.nan
        return m
    raise ValueError(kind)


def vector(rng, n, extreme):
    v = rng.standard_normal(n)
    spots = rng.random(n) < extreme
    v[spots] = rng.choice(EXTREMES, size=int(spots.sum()))
    return v


def inversion_cases(count=1200, seed=20240611):
    """(kind, S, w, expected_returns, risk_aversion) tuples; the sizes
    cluster on both sides of every threshold."""
    rng = np.random.default_rng(seed)
    out = []
    for index in range(count):
        kind = KINDS[index % len(KINDS)]
        r = rng.random()
        if index % 60 == 0:
            n = LARGE[(index // 60) % len(LARGE)]
        elif r < 0.45:
            n = int(rng.integers(1, 24))
        else:
            n = int(rng.choice(EDGES))
        s = covariance(rng, kind, n)
        out.append((kind, s, vector(rng, n, 0.03), vector(rng, n, 0.03),
                    float(rng.choice([2.5, 1.0, 0.0, -3.0, np.nan, 1e-300, 1e300]))))
    return out


def matvec_cases(count=400, seed=77):
    """(values, offset, row_stride, col_stride, rows, cols, x): views of
    every stride shape over a flat buffer, rows and columns on both sides of
    the kernels' block sizes."""
    rng = np.random.default_rng(seed)
    out = []
    for index in range(count):
        rows = int(rng.choice([0, 1, 3, 4, 5, 7, 8, 9, 15, 16, 17, 31, 32, 33, 40, 100]))
        cols = int(rng.choice([0, 1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 33, 64, 300]))
        shape = index % 6
        if shape == 0:  # rows of contiguous elements
            rs, cs = cols + int(rng.integers(0, 3)), 1
        elif shape == 1:  # columns of contiguous elements
            rs, cs = 1, rows + int(rng.integers(0, 3))
        elif shape == 2:  # neither
            rs, cs = int(rng.integers(2, 5)) * max(cols, 1), int(rng.integers(2, 4))
        elif shape == 3:  # walking backwards
            rs, cs = -(cols + 1), int(rng.choice([1, -1]))
        elif shape == 4:  # a repeated row or a repeated column
            rs, cs = (0, 1) if rng.random() < 0.5 else (1, 0)
        else:  # backwards columns of contiguous elements
            rs, cs = int(rng.choice([1, -1])), -(rows + 2)
        reach = [(rows - 1) * rs * a + (cols - 1) * cs * b for a in (0, 1) for b in (0, 1)]
        offset = -min(reach) if rows and cols else 0
        size = offset + (max(reach) if rows and cols else 0) + 1
        values = vector(rng, size, 0.05 if rng.random() < 0.5 else 0.0)
        if rng.random() < 0.1:
            values = rng.choice([0.0, -0.0], size=size)  # sums that must stay -0.0
        out.append((values, offset, rs, cs, rows, cols, vector(rng, cols, 0.05)))
    return out


def raw(values):
    """float64 bytes exactly as they are: what the module returns, every NaN
    in it already the one canonical quiet NaN whatever the kernel."""
    return np.asarray(values, dtype=np.float64).tobytes()


def canonical(values):
    """float64 bytes with every NaN made the canonical quiet NaN that
    Python's float('nan') holds: what the model computes, whose NaNs carry
    whatever sign and payload numpy's arithmetic left in them."""
    a = np.array(values, dtype=np.float64)
    a[np.isnan(a)] = float("nan")
    return a.tobytes()


def outcome(function, *args, model=False):
    """The outcome of a call, as bytes to compare: the module's raw, a
    model's canonicalised."""
    as_bytes = canonical if model else raw
    try:
        result = function(*args)
    except ValueError as error:
        return "error: " + str(error)
    if isinstance(result, tuple):
        return tuple(as_bytes(part) for part in result)
    return as_bytes(result)


# ---------------------------------------------------------------------------
# The model: the column-by-column elimination, one numpy expression per step.
# np.outer rounds each product and the subtraction then rounds again, exactly
# as the loop does; numpy never fuses the two.

def pivot_index(column, c):
    """Strictly larger magnitude wins, ties keep the upper row, a NaN never
    wins and, where the search starts, is never displaced."""
    if math.isnan(column[c]):
        return c
    magnitudes = np.abs(column[c:])
    magnitudes[np.isnan(magnitudes)] = -1.0
    return c + int(np.argmax(magnitudes))


def textbook_inverse(matrix):
    n = matrix.shape[0]
    a = np.zeros((n, 2 * n))
    a[:, :n] = matrix
    a[np.arange(n), n + np.arange(n)] = 1.0
    product = np.empty_like(a)
    with np.errstate(all="ignore"):
        for c in range(n):
            p = pivot_index(a[:, c], c)
            if abs(a[p, c]) < 1e-14:
                return None
            a[[c, p]] = a[[p, c]]
            pivot = a[c] / a[c, c]
            np.multiply.outer(a[:, c], pivot, out=product)  # f * pivot value, rounded
            np.subtract(a, product, out=a)  # then the difference, rounded
            a[c] = pivot  # the pivot row itself takes only the division
    return a[:, n:]


def textbook_rows(rows):
    """textbook_inverse as model.regularized_inverse takes it: rows in, rows
    of Python floats (or None) out."""
    inverse = textbook_inverse(np.array(rows, dtype=np.float64))
    return None if inverse is None else inverse.tolist()


def in_order_matvec(a, x):
    s = np.full(a.shape[0], -0.0)
    with np.errstate(all="ignore"):
        for j in range(a.shape[1]):
            s = s + a[:, j] * x[j]
    return s
