import math
import random

import pytest

import quorvel
import model
from model import assert_same

INF, NAN = math.inf, math.nan
ZERO_DEN = model.ZERO_DENOMINATOR
EMPTY, EMPTY_ROW = "matrix must not be empty", "matrix rows must not be empty"
RAGGED, NOT_SQUARE = "matrix rows must have equal length", "matrix must be square"
SINGULAR = "covariance matrix is singular"
ER_MISMATCH = "expected_returns length must match covariance dimensions"
C2 = [[0.04, 0.01], [0.01, 0.09]]
C3 = [[0.04, 0.006, 0.01], [0.006, 0.09, 0.02], [0.01, 0.02, 0.16]]


def raises(message, function, *args):
    with pytest.raises(ValueError) as info:
        function(*args)
    assert str(info.value) == message


@pytest.mark.parametrize("count, want", [
    (1, [1.0]), (3, [0.3333333333333333] * 3), (7, [0.14285714285714285] * 7)])
def test_equal_weights(count, want):
    assert_same(quorvel.equal_weights(count), want)


def test_equal_weights_zero():
    raises("assets must not be empty", quorvel.equal_weights, 0)


@pytest.mark.parametrize("values, want", [
    ([2.0, 6.0], [0.25, 0.75]), ([1.0, -3.0], [0.25, -0.75]), ([1.0, -1.0], [0.5, -0.5]),
    ([-2.0, -2.0], [-0.5, -0.5]), ([NAN, 1.0], [NAN, NAN]), ([INF, 1.0], [NAN, 0.0]),
    ([1e-300, 1e-300], [0.5, 0.5]), ([3.5], [1.0]), ([-0.25], [-1.0])])
def test_signal_proportional(values, want):
    assert_same(quorvel.signal_proportional_weights(values), want)


@pytest.mark.parametrize("values, message", [
    ([], "signals must not be empty"), ([0.0, 0.0], ZERO_DEN), ([-0.0], ZERO_DEN)])
def test_signal_proportional_errors(values, message):
    raises(message, quorvel.signal_proportional_weights, values)


@pytest.mark.parametrize("volatility, want", [
    ([0.1, 0.2], [0.6666666666666666, 0.3333333333333333]),
    ([0.1, 0.2, 0.4], [0.5714285714285714, 0.2857142857142857, 0.14285714285714285]),
    ([0.3], [1.0]), ([INF, 0.5], [0.0, 1.0]), ([NAN, 0.1], [NAN, NAN]), ([5e-324, 1.0], [NAN, 0.0])])
def test_target_volatility(volatility, want):
    assert_same(quorvel.target_volatility_weights(volatility), want)


@pytest.mark.parametrize("volatility, message", [
    ([], "volatility must not be empty"), ([0.2, 0.0], "all volatility values must be positive"),
    ([-0.1], "all volatility values must be positive"), ([-0.0], "all volatility values must be positive"),
    ([INF, -1.0], "all volatility values must be positive"), ([INF, INF], ZERO_DEN)])
def test_target_volatility_errors(volatility, message):
    raises(message, quorvel.target_volatility_weights, volatility)


@pytest.mark.parametrize("values, ascending, want", [
    ([0.3, 0.1, 0.2], True, [0.5, 0.16666666666666666, 0.3333333333333333]),
    ([0.3, 0.1, 0.2], False, [0.16666666666666666, 0.5, 0.3333333333333333]),
    ([1.0, 2.0, 3.0, 4.0], True, [0.1, 0.2, 0.3, 0.4]),
    ([2.0, 2.0, 1.0], True, [0.3333333333333333, 0.5, 0.16666666666666666]),
    ([2.0, 2.0, 1.0], False, [0.16666666666666666, 0.3333333333333333, 0.5]),
    ([-0.0, 0.0], True, [0.3333333333333333, 0.6666666666666666]),
    ([0.0, -0.0], False, [0.3333333333333333, 0.6666666666666666]),
    ([INF, -INF], True, [0.6666666666666666, 0.3333333333333333]),
    ([NAN, 1.0], True, [0.3333333333333333, 0.6666666666666666]),
    ([NAN, 1.0], False, [0.3333333333333333, 0.6666666666666666]),
    ([NAN], False, [1.0]), ([-7.0], True, [1.0])])
def test_rank_weights(values, ascending, want):
    assert_same(quorvel.rank_weights(values, ascending), want)


@pytest.mark.parametrize("ascending", [True, False])
def test_rank_weights_empty(ascending):
    raises("signals must not be empty", quorvel.rank_weights, [], ascending)


@pytest.mark.parametrize("ascending", [True, False])
@pytest.mark.parametrize("values", [
    [3.0, NAN, 1.0, 2.0, NAN, 0.5, -1.0], [NAN, NAN, 2.0, 1.0], [5.0, 4.0, NAN, 3.0, 2.0, 1.0, NAN] * 2])
def test_rank_weights_nan_runs_sorted_separately(values, ascending):
    assert_same(quorvel.rank_weights(values, ascending), model.rank_weights(values, ascending))


def ranks_of(weights):
    n = len(weights)
    s = n * (n + 1) // 2
    assert sorted(weights) == [k / s for k in range(1, n + 1)]
    return [round(w * s) for w in weights]


@pytest.mark.parametrize("n", [21, 22, 40, 41, 97, 1000, 10_000])
@pytest.mark.parametrize("ascending", [True, False])
def test_rank_weights_long_inputs(n, ascending):
    rng = random.Random(n * 2 + ascending)
    pool = [NAN, INF, -INF, 0.0, -0.0, 1.0]
    values = [rng.choice(pool) if rng.random() < 0.2 else float(rng.randrange(-50, 50)) for _ in range(n)]
    ranks_of(quorvel.rank_weights(values, ascending))  # every rank 1..n exactly once
    clean = [v for v in values if not math.isnan(v)]
    order = sorted(range(len(clean)), key=clean.__getitem__, reverse=not ascending)
    want = [0] * len(clean)
    for k, i in enumerate(order):
        want[i] = k + 1
    assert ranks_of(quorvel.rank_weights(clean, ascending)) == want


@pytest.mark.parametrize("covariance, want", [
    ([[2.5]], [1.0]), ([[-3.0]], [1.0]), ([[0.0]], [1.0]), ([[0.0] * 3] * 3, [1 / 3] * 3),
    ([[1.0, 1.0], [1.0, 1.0]], [0.5, 0.5]), ([[1.0, 0.0], [0.0, 4.0]], [0.8, 0.2]),
    ([[1e-14]], [1.0]), ([[9e-15]], [1.0]),
    ([[1.0, 0.0], [0.0, NAN]], [NAN, NAN]), ([[1.0, NAN], [NAN, 1.0]], [NAN, NAN])])
def test_minimum_variance(covariance, want):
    assert_same(quorvel.minimum_variance_weights(covariance), want)


@pytest.mark.parametrize("covariance, message", [
    ([], EMPTY), ([[]], EMPTY_ROW), ([[], [1.0]], EMPTY_ROW), ([[1.0, 2.0], [3.0]], RAGGED),
    ([[1.0], []], RAGGED), ([[1.0, 2.0, 3.0], [4.0, 5.0]], RAGGED), ([[1.0, 2.0]], NOT_SQUARE),
    ([[1.0, 2.0, 3.0], [4.0, 5.0, 6.0]], NOT_SQUARE), ([[1e5, 1e5], [1e5, 1e5]], SINGULAR),
    ([[1.0, 0.0], [0.0, -1.0]], ZERO_DEN)])
def test_minimum_variance_errors(covariance, message):
    raises(message, quorvel.minimum_variance_weights, covariance)


@pytest.mark.parametrize("returns, covariance, aversion, want", [
    ([0.05], [[0.3]], 1.0, [1.0]), ([0.0], [[0.3]], 1.0, [1.0]),
    ([1.0, 1.0], [[1.0, 0.0], [0.0, 4.0]], 2.5, [0.8, 0.2]),
    ([-1.0, 0.5], [[1.0, 0.0], [0.0, 1.0]], 1.0, [2.0, -1.0]),
    ([1.0, 1.0], [[1.0, 0.0], [0.0, -1.0]], 1.0, [0.5, 0.5]),
    ([0.0, 0.0, 0.0], C3, 3.0, [1 / 3] * 3), ([1.0, 2.0], [[1.0, 0.0], [0.0, NAN]], 1.0, [NAN, NAN])])
def test_mean_variance(returns, covariance, aversion, want):
    assert_same(quorvel.mean_variance_weights(returns, covariance, aversion), want)


@pytest.mark.parametrize("aversion", [0.0, -3.0, NAN, -INF])
def test_mean_variance_aversion_floor(aversion):
    got = quorvel.mean_variance_weights([0.05, 0.08, 0.02], C3, aversion)
    assert_same(got, quorvel.mean_variance_weights([0.05, 0.08, 0.02], C3, 1e-12))
    assert got == pytest.approx(quorvel.mean_variance_weights([0.05, 0.08, 0.02], C3, 2.0), rel=1e-12)


@pytest.mark.parametrize("returns, covariance, message", [
    ([1.0], [], EMPTY), ([1.0], [[1.0, 2.0]], NOT_SQUARE), ([], [[1.0], [2.0, 3.0]], RAGGED),
    ([1.0, 2.0], [[1.0]], ER_MISMATCH), ([1.0], [[1e5, 1e5], [1e5, 1e5]], ER_MISMATCH),
    ([1.0, 2.0], [[1e5, 1e5], [1e5, 1e5]], SINGULAR)])
def test_mean_variance_errors(returns, covariance, message):
    raises(message, quorvel.mean_variance_weights, returns, covariance, 1.0)


@pytest.mark.parametrize("covariance, max_iter, tolerance", [
    ([[4.0]], 1, 1e-8), ([[4.0]], 50, 1e-8), (C2, 0, 1e-10), (C2, 100, 1e-10),
    ([[0.04, 0.0], [0.0, 0.01]], 100, 1e-12), ([[0.04, 0.0], [0.0, 0.01]], 40, 0.0),
    ([[0.0, 0.0], [0.0, 0.0]], 10, 1e-10), ([[-1.0, 0.0], [0.0, 1.0]], 10, 1e-10),
    ([[0.04, NAN], [NAN, 0.09]], 10, 1e-10), ([[NAN, 0.0], [0.0, 0.09]], 10, 1e-10),
    (C3, 1, 1e-10), (C3, 1000, 1e-10), (C3, 30, -1.0), (C3, 30, NAN)])
def test_risk_parity(covariance, max_iter, tolerance):
    got = quorvel.risk_parity_weights(covariance, max_iter, tolerance)
    assert_same(got, model.risk_parity_weights(covariance, max_iter, tolerance))


def test_risk_parity_documented_values():
    assert quorvel.risk_parity_weights([[4.0]], 3, 1e-8) == [1.0]
    assert quorvel.risk_parity_weights(C2, 0, 1e-10) == pytest.approx([0.6, 0.4])
    assert quorvel.risk_parity_weights([[0.04, 0.0], [0.0, 0.01]], 7, 0.0) == pytest.approx([1 / 3, 2 / 3])
    assert quorvel.risk_parity_weights([[0.0] * 2] * 2, 5, 1e-9) == [0.5, 0.5]
    assert quorvel.risk_parity_weights([[-1.0, 0.0], [0.0, 1.0]], 5, 1e-9) == pytest.approx([1.0, 1e-9])
    assert quorvel.risk_parity_weights([[0.04, NAN], [NAN, 0.09]], 5, 1e-9) == pytest.approx([0.6, 0.4])
    assert quorvel.risk_parity_weights(C3, 1, 1e-10) == pytest.approx([0.466737, 0.305997, 0.227266], abs=1e-6)
    converged = quorvel.risk_parity_weights(C3, 1000, 1e-10)
    assert converged == pytest.approx([0.467559, 0.305831, 0.226610], abs=1e-6)
    assert_same(quorvel.risk_parity_weights(C3, 12, 1e-10), converged)  # 12 passes suffice
    assert not model.same(quorvel.risk_parity_weights(C3, 11, 1e-10), converged)
    shares = quorvel.risk_contribution(converged, C3)[2]
    assert shares == pytest.approx([1 / 3] * 3, abs=1e-11)


@pytest.mark.parametrize("covariance, message", [
    ([], EMPTY), ([[]], EMPTY_ROW), ([[1.0], []], RAGGED), ([[1.0, 2.0]], NOT_SQUARE),
    ([[INF, 0.0], [0.0, INF]], ZERO_DEN)])
def test_risk_parity_errors(covariance, message):
    raises(message, quorvel.risk_parity_weights, covariance, 10, 1e-8)


@pytest.mark.parametrize("covariance, want", [
    ([[7.0]], [1.0]), ([[NAN]], [1.0]), ([[0.04, 0.006], [0.006, 0.01]], [0.2, 0.8]),
    ([[0.04, NAN], [-5.0, 0.01]], [0.2, 0.8]), ([[0.0] * 4] * 4, [0.25] * 4),
    ([[INF, 0.0], [0.0, 1.0]], [0.0, 1.0]),
    ([[-1.0, 0.0], [0.0, 1.0]], [1.0, 1e-18]), ([[NAN, 0.0], [0.0, 1.0]], [1.0, 1e-18])])
def test_hierarchical_risk_parity(covariance, want):
    assert_same(quorvel.hierarchical_risk_parity_weights(covariance), want)


@pytest.mark.parametrize("covariance, message", [
    ([], EMPTY), ([[]], EMPTY_ROW), ([[1.0], [2.0, 3.0]], RAGGED), ([[1.0], [2.0]], NOT_SQUARE),
    ([[INF, 0.0], [0.0, INF]], ZERO_DEN)])
def test_hierarchical_risk_parity_errors(covariance, message):
    raises(message, quorvel.hierarchical_risk_parity_weights, covariance)
