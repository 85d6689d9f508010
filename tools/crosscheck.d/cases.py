"""Seeded calls for tools/crosscheck: every core routine behind a public
function, and the private inversion, on inputs chosen to reach every path.

Case i of seed s draws from its own generator, default_rng([s, i]), so any
one case is rebuilt from the two numbers alone. The function is fixed by i
(a weighted cycle through all sixteen), so even a short run calls each.

Inputs reach the arithmetic's corners: NaNs quiet and signalling, of both
signs and with odd payloads; infinities; zeros of both signs; subnormals;
overflow and underflow ranges; ties; near-singular matrices whose pivots
sit at the 1e-14 threshold; matrices that invert only with the ridge;
ragged, empty and non-square matrices and vectors of the wrong length
(the error paths). Sizes cluster on both sides of the elimination's
thresholds (the plain loop below 24, panels above), with a few up to 130.
"""

import os
import sys
from dataclasses import dataclass, field

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests"))
import kernel_cases as kc  # noqa: E402  (the suite's own matrix generators)

# Bit patterns beyond what numpy's constants give: signalling NaNs (quiet bit
# clear) and quiet ones with payloads, of both signs.
SPECIAL_BITS = [
    0x7FF8000000000000, 0xFFF8000000000000,  # quiet NaN, both signs
    0x7FF8000000000ABC, 0xFFFC0000DEADBEEF,  # quiet, with payloads
    0x7FF0000000000001, 0xFFF0000000000001,  # signalling, smallest payload
    0x7FF4000000000000, 0xFFF7FFFFFFFFFFFF,  # signalling, other payloads
    0x7FF00000DEADBEEF,
    0x7FF0000000000000, 0xFFF0000000000000,  # +-inf
    0x0000000000000000, 0x8000000000000000,  # +-0
    0x0000000000000001, 0x8000000000000001,  # smallest subnormals
    0x000FFFFFFFFFFFFF, 0x0008000000000000,  # largest subnormal, another
    0x0010000000000000, 0x7FEFFFFFFFFFFFFF,  # smallest normal, largest finite
    0xFFEFFFFFFFFFFFFF,
]
SPECIALS = np.array(SPECIAL_BITS, dtype=np.uint64).view(np.float64)
QUIET_NAN, SIGNALLING_NAN, NEG_SIGNALLING_NAN = (SPECIALS[0], SPECIALS[4], SPECIALS[5])

# One slot per share of the calls: matrix routines get more, their paths
# being many more.
SCHEDULE = (
    ["equal_weights"] + ["rank_weights"] * 2 + ["signal_proportional_weights"] * 2
    + ["target_volatility_weights"] * 2 + ["minimum_variance_weights"] * 3
    + ["mean_variance_weights"] * 3 + ["risk_parity_weights"] * 3
    + ["hierarchical_risk_parity_weights"] * 2 + ["portfolio_variance"] * 2
    + ["portfolio_volatility"] * 2 + ["risk_contribution"] * 2 + ["tracking_error"] * 2
    + ["active_share"] + ["brinson_attribution"] * 2 + ["factor_return_decomposition"]
    + ["_invert"] * 3
)
MATRIX_KINDS = kc.KINDS + ["pivot_edge", "near_singular", "subnormal", "huge", "special"]
SMALL_EDGES = [e for e in kc.EDGES if e < 100]
LARGE = [100, 127, 128, 129, 130]


@dataclass
class Matrix:
    """What a matrix argument is: `values` (rows x cols) unless `ragged`,
    whose rows have `row_lengths`; `layout` says how it is handed to the
    module (the driver always gets it dense, row after row)."""
    rows: int
    cols: int
    values: np.ndarray | None = None
    ragged: bool = False
    row_lengths: list = field(default_factory=list)
    layout: str = "C"


@dataclass
class Case:
    index: int
    function: str
    args: list  # (kind, value): v ndarray, m Matrix, c int, f float bits, b bool
    layouts: list = field(default_factory=list)  # per vector argument


def sprinkle(rng, a, rate):
    """Replaces about `rate` of the entries of `a` (in place) by special values."""
    if rate > 0 and a.size:
        spots = rng.random(a.shape) < rate
        a[spots] = rng.choice(SPECIALS, size=int(spots.sum()))
    return a


def vector_size(rng):
    r = rng.random()
    if r < 0.05:
        return int(rng.integers(0, 3))
    if r < 0.6:
        return int(rng.integers(1, 24))
    if r < 0.9:
        return int(rng.choice(kc.EDGES))
    return int(rng.integers(130, 320))  # rank_weights' merges, long sums


def matrix_size(rng, index):
    if index % 200 == 101:
        return int(rng.choice(LARGE))  # few: each costs n^3 under the emulator
    r = rng.random()
    if r < 0.55:
        return int(rng.integers(1, 24))
    if r < 0.85:
        return int(rng.choice(SMALL_EDGES))
    return int(rng.integers(24, 72))


def values(rng, n, flavour=None):
    flavour = flavour or rng.choice(["normal", "normal", "positive", "integer", "scaled", "zeros"])
    with np.errstate(all="ignore"):
        if flavour == "normal":
            v = rng.standard_normal(n)
        elif flavour == "positive":
            v = np.abs(rng.standard_normal(n)) * 0.2 + 0.01
        elif flavour == "integer":  # ties and exact zeros
            v = rng.integers(-3, 4, size=n).astype(float)
        elif flavour == "scaled":  # overflow and underflow of sums and products
            v = rng.standard_normal(n) * 10.0 ** float(rng.choice([-320, -310, -160, 150, 300, 307]))
        else:
            v = rng.choice([0.0, -0.0], size=n)
    return sprinkle(rng, v, float(rng.choice([0.0, 0.0, 0.0, 0.01, 0.05, 0.3])))


def covariance(rng, kind, n):
    with np.errstate(all="ignore"):
        if kind in kc.KINDS:
            m = kc.covariance(rng, kind, n)
        elif kind == "pivot_edge":  # one pivot of +-1e-14, an ulp either side of it, or 2e-14
            m = kc.dominant(rng, n)
            i = int(rng.integers(n))
            m[i, :] = m[:, i] = 0.0
            edge = [np.nextafter(1e-14, 0.0), 1e-14, np.nextafter(1e-14, 1.0), 2e-14]
            m[i, i] = float(rng.choice(edge)) * float(rng.choice([1.0, -1.0]))
        elif kind == "near_singular":  # rank n-1 plus a ridge near the threshold
            m = kc.spd(rng, n, rank=max(n - 1, 0)) + np.eye(n) * 10.0 ** rng.uniform(-15, -12.5)
        elif kind == "subnormal":  # products and sums deep in the subnormal range
            m = kc.spd(rng, n) * 1e-300 * 10.0 ** float(rng.choice([0, -8, -16]))
        elif kind == "huge":  # sums that overflow
            m = kc.spd(rng, n) * 10.0 ** float(rng.choice([150, 300, 307]))
        else:
            m = sprinkle(rng, kc.spd(rng, n), 0.05)
        m = np.array(m, dtype=np.float64)
    return sprinkle(rng, m, float(rng.choice([0.0, 0.0, 0.0, 0.002, 0.02])))


def matrix(rng, n, shape_errors=True):
    """A matrix argument: mostly an n x n covariance, sometimes one of the
    shapes the core refuses."""
    if shape_errors and rng.random() < 0.06:
        return bad_matrix(rng, n)
    m = covariance(rng, str(rng.choice(MATRIX_KINDS)), n)
    layout = str(rng.choice(["C"] * 6 + ["F", "strided", "reversed", "rows"]))
    return Matrix(n, n, m, layout=layout)


def bad_matrix(rng, n):
    shape = rng.integers(6)
    if shape == 0:
        return Matrix(0, 0, np.zeros((0, 0)), layout="rows")  # []
    if shape == 1:
        return Matrix(1, 0, np.zeros((1, 0)), layout="rows")  # [[]]
    if shape == 2:
        cols = n + int(rng.choice([-1, 1])) if n > 1 else 2
        return Matrix(n, cols, covariance(rng, "spd", max(n, cols))[:n, :cols].copy())
    if shape == 3:  # a 2-D array with no elements
        rows, cols = [(0, n), (n, 0), (0, 0)][int(rng.integers(3))]
        return Matrix(rows, cols, np.zeros((rows, cols)))
    lengths = [n] * max(n, 2)
    lengths[int(rng.integers(1, len(lengths)))] += int(rng.choice([-1, 1]))
    if shape == 4:
        lengths[0] = 0  # an empty first row, then others
    rows = [sprinkle(rng, rng.standard_normal(k), 0.1) for k in lengths]
    return Matrix(len(rows), lengths[0], rows, ragged=True, row_lengths=lengths, layout="rows")


def mismatched(rng, n):
    """A vector length: mostly n, sometimes one off or empty."""
    r = rng.random()
    if r < 0.92:
        return n
    return max(0, n + int(rng.choice([-1, 1, -n])))


def scalar(rng, palette):
    """The bits of one value of `palette` (a callable draws one)."""
    pick = palette[int(rng.integers(len(palette)))]
    if callable(pick):
        pick = pick(rng)
    return int(np.array([pick], dtype=np.float64).view(np.uint64)[0])


RISK_AVERSION = [2.5, 1.0, 0.0, -0.0, -3.0, 1e-12, np.nextafter(1e-12, 0), np.nextafter(1e-12, 1),
                 1e-13, 5e-324, 1e-300, 1e300, np.inf, -np.inf, QUIET_NAN, SIGNALLING_NAN,
                 NEG_SIGNALLING_NAN, lambda rng: float(np.exp(rng.normal(0, 3)))]
TOLERANCE = [1e-8, 1e-12, 0.0, -0.0, -1.0, 1e-3, 0.5, np.inf, QUIET_NAN, SIGNALLING_NAN,
             5e-324, 1e-300, lambda rng: float(10.0 ** rng.uniform(-16, -1))]


def make_case(seed, index):
    rng = np.random.default_rng([seed, index])
    function = SCHEDULE[index % len(SCHEDULE)]
    v = lambda n, flavour=None: ("v", values(rng, n, flavour))  # noqa: E731
    if function == "equal_weights":
        count = int(rng.choice([0, 1, 2, 3, 7, 23, 24, 49, 255])) if rng.random() < 0.3 \
            else int(rng.integers(0, 300))
        args = [("c", count)]
    elif function == "rank_weights":
        args = [v(vector_size(rng)), ("b", bool(rng.random() < 0.5))]
    elif function in ("signal_proportional_weights", "active_share"):
        args = [v(vector_size(rng))]
    elif function == "target_volatility_weights":
        flavour = "positive" if rng.random() < 0.8 else None
        args = [v(vector_size(rng), flavour)]
    elif function == "brinson_attribution":
        n = vector_size(rng)
        args = [v(mismatched(rng, n), "positive"), v(mismatched(rng, n), "positive"),
                v(mismatched(rng, n)), v(mismatched(rng, n))]
    elif function == "factor_return_decomposition":
        n = vector_size(rng)
        args = [v(n), v(mismatched(rng, n))]
    else:
        n = matrix_size(rng, index)
        m = matrix(rng, n)
        if function == "mean_variance_weights":
            args = [v(mismatched(rng, n)), ("m", m), ("f", scalar(rng, RISK_AVERSION))]
        elif function == "risk_parity_weights":
            budget = 4_000_000 // max(n * n, 1)  # passes x n^2: a bounded cost per case
            passes = [0, 1, 2, 3, 10, 50, 200, 1000, 5000]
            max_iter = min(int(rng.choice(passes)), budget)
            args = [("m", m), ("c", max_iter), ("f", scalar(rng, TOLERANCE))]
        elif function in ("minimum_variance_weights", "hierarchical_risk_parity_weights",
                          "_invert"):
            args = [("m", m)]
        else:  # the risk measures: weights and covariance
            args = [v(mismatched(rng, n), str(rng.choice(["normal", "positive"]))), ("m", m)]
    layouts = [str(rng.choice(["numpy"] * 5 + ["array", "list", "strided"])) for _ in args]
    return Case(index, function, args, layouts)


def make_cases(seed, count, only=None):
    indices = range(count) if only is None else only
    return [make_case(seed, i) for i in indices]
