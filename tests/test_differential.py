"""Seeded random comparison of every numeric function with the Python model."""

import math
import random

import pytest

import quorvel
import model

INF, NAN = math.inf, math.nan
EXTREMES = [0.0, -0.0, INF, -INF, NAN, 1e-300, -1e-300, 5e-324, -5e-324, 1e300, -1e300]
CASES = 150  # per block; four blocks per function


def scalar(rng, extreme=0.12):
    r = rng.random()
    if r < extreme:
        return rng.choice(EXTREMES)
    if r < extreme + 0.12:
        return float(rng.randint(-3, 3))  # exact ties and zeros
    return rng.gauss(0.0, 1.0) * 10.0 ** rng.randint(-4, 3)


def vector(rng, n, extreme=0.12):
    if rng.random() < 0.08:  # signed zeros only: sums that must stay -0.0
        return [rng.choice([0.0, -0.0]) for _ in range(n)]
    return [scalar(rng, extreme) for _ in range(n)]


def spd(rng, n, rank=None, ridge=1e-3):
    k = n if rank is None else rank
    a = [[rng.gauss(0.0, 1.0) for _ in range(k)] for _ in range(n)]
    return [[sum(a[i][t] * a[j][t] for t in range(k)) + (ridge if i == j else 0.0)
             for j in range(n)] for i in range(n)]


def covariance(rng, n):
    kind = rng.randrange(9)
    if kind == 0:
        return spd(rng, n)
    if kind == 1:  # singular: rank below n, no ridge
        return spd(rng, n, rank=rng.randrange(n), ridge=0.0)
    if kind == 2:  # constant matrix: singular, the ridge may or may not survive
        c = rng.choice([1.0, 1e5, 1e-15, 0.0, -2.0, 1e4])
        return [[c] * n for _ in range(n)]
    if kind == 3:  # positive definite with one non-finite or extreme entry
        m = spd(rng, n)
        i, j = rng.randrange(n), rng.randrange(n)
        m[i][j] = m[j][i] = rng.choice(EXTREMES)
        return m
    if kind == 4:
        return [vector(rng, n, extreme=0.0) for _ in range(n)]
    if kind == 5:
        return [[scalar(rng) if i == j else 0.0 for j in range(n)] for i in range(n)]
    if kind == 6:  # tiny or large scale: pivots near the 1e-14 threshold
        scale = 10.0 ** rng.randint(-17, 6)
        return [[x * scale for x in row] for row in spd(rng, n, ridge=0.0)]
    if kind == 7:
        return [vector(rng, n) for _ in range(n)]
    return [[1e-14 * (i == j) + (9e-15 if rng.random() < 0.3 else 0.0) for j in range(n)] for i in range(n)]


def matrix(rng, n):
    """Usually a square n x n covariance, sometimes a malformed shape."""
    if rng.random() >= 0.1:
        return covariance(rng, n)
    return rng.choice([[], [[]], [[]] + [[1.0]] * n, [[1.0] * n, [1.0] * (n + 1)],
                       [[1.0] * n for _ in range(n + 1)], [[1.0] * (n + 1)] * n, [[1.0], []]])


def size(rng, low=1):
    return rng.randint(low, 8)


def length(rng, n):  # sometimes one off, to hit the length checks
    return n if rng.random() >= 0.1 else max(0, n + rng.choice([-1, 1]))


def rank_args(rng):
    n = rng.randint(1, 40)
    pool = [1.0, 2.0, -0.0, 0.0, INF, -INF] + ([NAN] if n <= 20 else [])
    values = [rng.choice(pool) if rng.random() < 0.3 else scalar(rng, 0.0) for _ in range(n)]
    if n > 20:
        values = [v for v in values if not math.isnan(v)] or [1.0]
    return values, rng.random() < 0.5


def weights_args(rng):
    n = size(rng)
    return vector(rng, length(rng, n), extreme=0.05), matrix(rng, n)


def mean_variance_args(rng):
    n = size(rng)
    returns = vector(rng, length(rng, n), extreme=0.05)
    return returns, matrix(rng, n), rng.choice([2.5, 0.0, -3.0, NAN, 1e-300, 1e300, scalar(rng)])


def factor_args(rng):
    n = size(rng, 0)
    return vector(rng, n), vector(rng, length(rng, n))


GENERATORS = {
    "equal_weights": lambda rng: (rng.randint(0, 50),),
    "rank_weights": rank_args,
    "signal_proportional_weights": lambda rng: (vector(rng, size(rng, 0)),),
    "target_volatility_weights": lambda rng: (
        [abs(x) if rng.random() < 0.9 else x for x in vector(rng, size(rng, 0))],),
    "minimum_variance_weights": lambda rng: (matrix(rng, size(rng)),),
    "mean_variance_weights": mean_variance_args,
    "risk_parity_weights": lambda rng: (matrix(rng, size(rng)), rng.choice([0, 1, 2, 3, 10, 100, 400]),
                                        rng.choice([1e-10, 1e-6, 1e-3, 0.0, -1.0, NAN, INF, 5e-324])),
    "hierarchical_risk_parity_weights": lambda rng: (matrix(rng, size(rng)),),
    "portfolio_variance": weights_args,
    "portfolio_volatility": weights_args,
    "risk_contribution": weights_args,
    "tracking_error": weights_args,
    "active_share": lambda rng: (vector(rng, size(rng, 0)),),
    "brinson_attribution": lambda rng: tuple(vector(rng, length(rng, n), 0.05) for n in [size(rng, 0)] * 4),
    "factor_return_decomposition": factor_args,
}


@pytest.mark.parametrize("block", range(4))
@pytest.mark.parametrize("name", sorted(GENERATORS))
def test_matches_model(name, block):
    rng = random.Random(f"{name}/{block}")
    mismatches, errors = [], 0
    for _ in range(CASES):
        args = GENERATORS[name](rng)
        want = model.outcome(getattr(model, name), *args)
        got = model.outcome(getattr(quorvel, name), *args)
        errors += want[0] == "error"
        if got[0] != want[0] or not (model.same(got[1], want[1]) if got[0] == "ok" else got == want):
            mismatches.append((args, got, want))
    assert not mismatches, "\n".join(f"{a!r}\n  got  {g!r}\n  want {w!r}" for a, g, w in mismatches[:3])
    assert errors < CASES  # the inputs must exercise the computations, not only the checks
