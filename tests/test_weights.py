import math
import random
import re
import warnings

import pytest

import quorvel
import model
from model import ZERO_DEN, check

INF, NAN = math.inf, math.nan
EMPTY, EMPTY_ROW = "matrix must not be empty", "matrix rows must not be empty"
RAGGED, NOT_SQUARE = "matrix rows must have equal length", "matrix must be square"
SINGULAR, POSITIVE = "covariance matrix is singular", "all volatility values must be positive"
ER_MISMATCH = "expected_returns length must match covariance dimensions"
C2 = [[0.04, 0.01], [0.01, 0.09]]
C3 = [[0.04, 0.006, 0.01], [0.006, 0.09, 0.02], [0.01, 0.02, 0.16]]
THIRD, TWO_THIRDS, SIXTH, HALF = 0.3333333333333333, 0.6666666666666666, 0.16666666666666666, 0.5
MATRIX_ERRORS = [([], EMPTY), ([[]], EMPTY_ROW), ([[], [1.0]], EMPTY_ROW), ([[1.0, 2.0], [3.0]], RAGGED),
                 ([[1.0], []], RAGGED), ([[1.0, 2.0, 3.0], [4.0, 5.0]], RAGGED), ([[1.0, 2.0]], NOT_SQUARE),
                 ([[1.0, 2.0, 3.0], [4.0, 5.0, 6.0]], NOT_SQUARE)]

CASES = [
    (quorvel.equal_weights, (0,), "assets must not be empty"), (quorvel.equal_weights, (1,), [1.0]),
    (quorvel.equal_weights, (3,), [THIRD] * 3), (quorvel.equal_weights, (7,), [0.14285714285714285] * 7),
    *[(quorvel.signal_proportional_weights, (v,), want) for v, want in [
        ([], "signals must not be empty"), ([0.0, 0.0], ZERO_DEN), ([-0.0], ZERO_DEN),
        ([2.0, 6.0], [0.25, 0.75]), ([1.0, -3.0], [0.25, -0.75]), ([1.0, -1.0], [0.5, -0.5]),
        ([-2.0, -2.0], [-0.5, -0.5]), ([NAN, 1.0], [NAN, NAN]), ([INF, 1.0], [NAN, 0.0]),
        ([1e-300, 1e-300], [0.5, 0.5]), ([3.5], [1.0]), ([-0.25], [-1.0])]],
    *[(quorvel.target_volatility_weights, (v,), want) for v, want in [
        ([], "volatility must not be empty"), ([0.2, 0.0], POSITIVE), ([-0.1], POSITIVE), ([-0.0], POSITIVE),
        ([INF, INF, -1.0], POSITIVE), ([INF, INF], ZERO_DEN), ([0.1, 0.2], [TWO_THIRDS, THIRD]),
        ([0.1, 0.2, 0.4], [0.5714285714285714, 0.2857142857142857, 0.14285714285714285]),
        ([0.3], [1.0]), ([INF, 0.5], [0.0, 1.0]), ([NAN, 0.1], [NAN, NAN]), ([5e-324, 1.0], [NAN, 0.0])]],
    *[(quorvel.rank_weights, args, want) for args, want in [
        (([], True), "signals must not be empty"), (([], False), "signals must not be empty"),
        (([0.3, 0.1, 0.2], True), [HALF, SIXTH, THIRD]), (([0.3, 0.1, 0.2], False), [SIXTH, HALF, THIRD]),
        (([1.0, 2.0, 3.0, 4.0], True), [0.1, 0.2, 0.3, 0.4]),
        (([2.0, 2.0, 1.0], True), [THIRD, HALF, SIXTH]), (([2.0, 2.0, 1.0], False), [SIXTH, THIRD, HALF]),
        (([-0.0, 0.0], True), [THIRD, TWO_THIRDS]), (([0.0, -0.0], False), [THIRD, TWO_THIRDS]),
        (([INF, -INF], True), [TWO_THIRDS, THIRD]), (([NAN, 1.0], True), [THIRD, TWO_THIRDS]),
        (([NAN, 1.0], False), [THIRD, TWO_THIRDS]), (([NAN], False), [1.0]), (([-7.0], True), [1.0])]],
    *[(quorvel.minimum_variance_weights, (c,), want) for c, want in MATRIX_ERRORS + [
        ([[1e5, 1e5], [1e5, 1e5]], SINGULAR), ([[1.0, 0.0], [0.0, -1.0]], ZERO_DEN),
        ([[2.5]], [1.0]), ([[-3.0]], [1.0]), ([[0.0]], [1.0]), ([[0.0] * 3] * 3, [1 / 3] * 3),
        ([[1.0, 1.0], [1.0, 1.0]], [0.5, 0.5]), ([[1.0, 0.0], [0.0, 4.0]], [0.8, 0.2]), ([[1e-14]], [1.0]),
        ([[9e-15]], [1.0]), ([[1.0, 0.0], [0.0, NAN]], [NAN, NAN]), ([[1.0, NAN], [NAN, 1.0]], [NAN, NAN])]],
    *[(quorvel.mean_variance_weights, args, want) for args, want in [
        (([1.0], [], 1.0), EMPTY), (([1.0], [[1.0, 2.0]], 1.0), NOT_SQUARE),
        (([], [[1.0], [2.0, 3.0]], 1.0), RAGGED), (([1.0, 2.0], [[1.0]], 1.0), ER_MISMATCH),
        (([1.0], [[1e5, 1e5], [1e5, 1e5]], 1.0), ER_MISMATCH), (([1.0, 2.0], [[1e5, 1e5], [1e5, 1e5]], 1.0), SINGULAR),
        (([0.05], [[0.3]], 1.0), [1.0]), (([0.0], [[0.3]], 1.0), [1.0]),
        (([1.0, 1.0], [[1.0, 0.0], [0.0, 4.0]], 2.5), [0.8, 0.2]),
        (([-1.0, 0.5], [[1.0, 0.0], [0.0, 1.0]], 1.0), [2.0, -1.0]),
        (([1.0, 1.0], [[1.0, 0.0], [0.0, -1.0]], 1.0), [0.5, 0.5]), (([0.0, 0.0, 0.0], C3, 3.0), [1 / 3] * 3),
        (([1.0, 2.0], [[1.0, 0.0], [0.0, NAN]], 1.0), [NAN, NAN])]],
    *[(quorvel.risk_parity_weights, (c, 10, 1e-8), want) for c, want in MATRIX_ERRORS + [
        ([[INF, 0.0], [0.0, INF]], ZERO_DEN), ([[4.0]], [1.0]), ([[0.0] * 2] * 2, [0.5, 0.5])]],
    *[(quorvel.hierarchical_risk_parity_weights, (c,), want) for c, want in MATRIX_ERRORS + [
        ([[INF, 0.0], [0.0, INF]], ZERO_DEN), ([[7.0]], [1.0]), ([[NAN]], [1.0]),
        ([[0.04, 0.006], [0.006, 0.01]], [0.2, 0.8]), ([[0.04, NAN], [-5.0, 0.01]], [0.2, 0.8]),
        ([[0.0] * 4] * 4, [0.25] * 4), ([[INF, 0.0], [0.0, 1.0]], [0.0, 1.0]),
        ([[-1.0, 0.0], [0.0, 1.0]], [1.0, 1e-18]), ([[NAN, 0.0], [0.0, 1.0]], [1.0, 1e-18])]],
]


@pytest.mark.parametrize("function, args, want", CASES)
def test_documented(function, args, want):
    check(function, args, want)


@pytest.mark.parametrize("aversion", [0.0, -3.0, NAN, -INF])
def test_mean_variance_aversion_floor(aversion):
    got = quorvel.mean_variance_weights([0.05, 0.08, 0.02], C3, aversion)
    check(quorvel.mean_variance_weights, ([0.05, 0.08, 0.02], C3, 1e-12), got)
    assert got == pytest.approx(quorvel.mean_variance_weights([0.05, 0.08, 0.02], C3, 2.0), rel=1e-12)


@pytest.mark.parametrize("covariance, max_iter, tolerance, about", [
    (C2, 0, 1e-10, [0.6, 0.4]), ([[0.04, 0.0], [0.0, 0.01]], 100, 1e-12, [1 / 3, 2 / 3]),
    ([[0.04, 0.0], [0.0, 0.01]], 40, 0.0, [1 / 3, 2 / 3]), ([[-1.0, 0.0], [0.0, 1.0]], 10, 1e-10, [1.0, 1e-9]),
    ([[0.04, NAN], [NAN, 0.09]], 10, 1e-10, [0.6, 0.4]), ([[NAN, 0.0], [0.0, 0.09]], 10, 1e-10, None),
    (C3, 1, 1e-10, [0.466737, 0.305997, 0.227266]), (C3, 1000, 1e-10, [0.467559, 0.305831, 0.226610]),
    (C3, 30, -1.0, None), (C3, 30, NAN, None), (C2, 100, 1e-10, None)])
@pytest.mark.filterwarnings("ignore::RuntimeWarning")
def test_risk_parity(covariance, max_iter, tolerance, about):
    got = quorvel.risk_parity_weights(covariance, max_iter, tolerance)
    check(model.risk_parity_weights, (covariance, max_iter, tolerance), got)
    assert about is None or got == pytest.approx(about, abs=1e-6)


@pytest.mark.filterwarnings("ignore::RuntimeWarning")
def test_risk_parity_converges_after_twelve_passes():
    converged = quorvel.risk_parity_weights(C3, 1000, 1e-10)
    check(quorvel.risk_parity_weights, (C3, 12, 1e-10), converged)
    assert not model.same(quorvel.risk_parity_weights(C3, 11, 1e-10), converged)
    assert quorvel.risk_contribution(converged, C3)[2] == pytest.approx([1 / 3] * 3, abs=1e-11)


@pytest.mark.parametrize("ascending", [True, False])
@pytest.mark.parametrize("values", [
    [3.0, NAN, 1.0, 2.0, NAN, 0.5, -1.0], [NAN, NAN, 2.0, 1.0], [5.0, 4.0, NAN, 3.0, 2.0, 1.0, NAN] * 2])
def test_rank_weights_nan_splits_runs(values, ascending):
    check(quorvel.rank_weights, (values, ascending), model.rank_weights(values, ascending))


def ranks_of(weights):
    n = len(weights)
    s = n * (n + 1) // 2
    assert sorted(weights) == [k / s for k in range(1, n + 1)]  # each rank 1..n exactly once
    return [round(w * s) for w in weights]


@pytest.mark.parametrize("n", [21, 22, 40, 41, 97, 1000, 10_000])
@pytest.mark.parametrize("ascending", [True, False])
def test_rank_weights_long_inputs(n, ascending):
    rng = random.Random(n * 2 + ascending)
    pool = [NAN, INF, -INF, 0.0, -0.0, 1.0]
    values = [rng.choice(pool) if rng.random() < 0.2 else float(rng.randrange(-50, 50)) for _ in range(n)]
    nans = [i for i, v in enumerate(values) if math.isnan(v)]
    if nans:  # the NaNs are named, the first and how many
        count = f" ({len(nans)} of {n} values are NaN)" if len(nans) > 1 else ""
        with pytest.warns(RuntimeWarning, match=re.escape(f"rank_weights: values[{nans[0]}] is NaN{count};")):
            ranks_of(quorvel.rank_weights(values, ascending))
    else:
        ranks_of(quorvel.rank_weights(values, ascending))
    clean = [v for v in values if not math.isnan(v)]
    order = sorted(range(len(clean)), key=clean.__getitem__, reverse=not ascending)  # stable
    want = [0] * len(clean)
    for k, i in enumerate(order):
        want[i] = k + 1
    assert ranks_of(quorvel.rank_weights(clean, ascending)) == want


STOPPED = "risk_parity_weights did not converge: after 0 passes the portfolio variance is "
CHECK = "; check the shares with risk_contribution()"
FLOORED = ("risk_parity_weights: the variance of asset 0 (covariance[0][0]) is -1.0; it is counted as 1e-18, "
           "so that asset starts with nearly all the weight")


@pytest.mark.parametrize("covariance, max_iter, tolerance, expected", [
    (C3, 11, 1e-10, ["risk_parity_weights did not converge: after 11 passes the largest deviation of a risk share "
                     "from 1/n is 1.5881684856111633e-10, not below the tolerance 1e-10" + CHECK]),
    (C3, 1, INF, []), (C3, 12, 1e-10, []), (C3, 0, 1e-10, []),
    (C3, 5, 0.0, []), (C3, 5, -1.0, []), (C3, 5, NAN, []),
    ([[-1.0, 0.0], [0.0, 1.0]], 10, 1e-10, [FLOORED, STOPPED + "negative (-0.9999999980000001)" + CHECK]),
    ([[0.04, NAN], [NAN, 0.09]], 10, 1e-10, [STOPPED + "NaN" + CHECK]),
    ([[0.0, 0.0], [0.0, 0.0]], 10, 1e-10, [STOPPED + "zero" + CHECK]),
    ([[-1.0, 0.0], [0.0, 1.0]], 10, 0.0, [FLOORED]),
])
def test_risk_parity_says_when_it_stops_short(covariance, max_iter, tolerance, expected):
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        got = quorvel.risk_parity_weights(covariance, max_iter, tolerance)
    check(model.risk_parity_weights, (covariance, max_iter, tolerance), got)  # the weights are unchanged
    assert [(w.category, str(w.message)) for w in caught] == [(RuntimeWarning, m) for m in expected]
    assert all(w.filename == __file__ for w in caught)  # attributed to the caller's line


def test_risk_parity_warning_as_error():
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        with pytest.raises(RuntimeWarning, match="after 3 passes"):
            quorvel.risk_parity_weights(C3, 3, 1e-10)
