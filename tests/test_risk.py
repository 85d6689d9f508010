import math

import pytest

import quorvel
from model import check

INF, NAN = math.inf, math.nan
S = [[0.04, 0.01], [0.01, 0.09]]
ZEROS = [[0.0, 0.0], [0.0, 0.0]]
LENGTHS = "all input vectors must have the same length"
FACTORS = "exposures and factor_returns must have the same length"
RISK = [quorvel.portfolio_variance, quorvel.portfolio_volatility, quorvel.tracking_error, quorvel.risk_contribution]


@pytest.mark.parametrize("function", RISK)
@pytest.mark.parametrize("weights, covariance, message", [
    ([], [], "matrix must not be empty"), ([1.0], [], "matrix must not be empty"),
    ([1.0], [[]], "matrix rows must not be empty"), ([1.0], [[1.0], [2.0, 3.0]], "matrix rows must have equal length"),
    ([1.0], [[1.0, 2.0]], "matrix must be square"), ([1.0, 2.0], [[1.0]], "covariance dimensions must match weights"),
    ([], [[1.0]], "covariance dimensions must match weights")])
def test_risk_errors(function, weights, covariance, message):
    check(function, (weights, covariance), message)


@pytest.mark.parametrize("weights, covariance, variance, volatility", [
    ([0.5, 0.5], S, 0.0375, 0.19364916731037085), ([0.1, -0.1], S, 0.0011, 0.033166247903554),
    ([1.0], [[-1.0]], -1.0, 0.0), ([0.0], [[-1.0]], -0.0, 0.0), ([NAN], [[1.0]], NAN, 0.0),
    ([1.0], [[INF]], INF, INF)])
def test_variance_and_volatility(weights, covariance, variance, volatility):
    check(quorvel.portfolio_variance, (weights, covariance), variance)
    check(quorvel.portfolio_volatility, (weights, covariance), volatility)
    check(quorvel.tracking_error, (weights, covariance), volatility)


@pytest.mark.parametrize("weights, covariance, want", [
    ([0.5, 0.5], S, ([0.12909944487358058, 0.2581988897471611], [0.06454972243679029, 0.12909944487358055],
                     [0.33333333333333337, 0.6666666666666665])),
    ([1.0], [[-1.0]], ([0.0], [0.0], [0.0])), ([-1.0, 0.0], ZEROS, ([0.0, 0.0], [-0.0, 0.0], [0.0, 0.0])),
    ([1.0], [[4.0]], ([2.0], [2.0], [1.0])), ([2.0], [[0.25]], ([0.5], [1.0], [1.0])),
    ([1.0, 1.0], [[1.0, -1.0], [-1.0, 1.0]], ([0.0, 0.0], [0.0, 0.0], [0.0, 0.0])),
    ([NAN], [[1.0]], ([0.0], [NAN], [0.0])), ([INF, 0.0], ZEROS, ([0.0, 0.0], [NAN, 0.0], [0.0, 0.0]))])
def test_risk_contribution(weights, covariance, want):
    check(quorvel.risk_contribution, (weights, covariance), want)


def test_risk_contribution_equal_shares():
    _, contribution, share = quorvel.risk_contribution([0.6, 0.4], S)
    assert (contribution, share) == ([0.0916515138991168, 0.0916515138991168], [0.5, 0.5])


@pytest.mark.parametrize("active, want", [
    ([], -0.0), ([-0.0], 0.0), ([0.1, -0.1], 0.1), ([0.2, -0.3, 0.1], 0.3), ([0.5, NAN], NAN), ([-INF, 1.0], INF)])
def test_active_share(active, want):
    check(quorvel.active_share, (active,), want)


@pytest.mark.parametrize("args, want", [
    (([], [], [], []), (0.0, 0.0, 0.0, 0.0)),
    (([0.6, 0.4], [0.5, 0.5], [0.10, 0.02], [0.08, 0.03]),
     (0.004999999999999999, 0.005000000000000003, 0.0029999999999999996, 0.013000000000000001)),
    (([1.0], [1.0], [0.05], [0.03]), (0.0, 0.020000000000000004, 0.0, 0.020000000000000004)),
    (([NAN], [1.0], [0.05], [0.03]), (NAN, 0.020000000000000004, NAN, NAN)),
    *[(tuple([0.5] * k for k in lengths), LENGTHS)
      for lengths in [(2, 2, 2, 3), (3, 2, 2, 2), (2, 3, 2, 2), (2, 2, 1, 2), (0, 0, 0, 1), (1, 0, 0, 0)]]])
def test_brinson_attribution(args, want):
    check(quorvel.brinson_attribution, args, want)


@pytest.mark.parametrize("exposures, returns, want", [
    ([1.2, 0.5], [0.02, -0.01], ([0.024, -0.005], 0.019)), ([], [], ([], -0.0)), ([-0.0], [1.0], ([-0.0], -0.0)),
    ([INF, 1.0], [0.0, 2.0], ([NAN, 2.0], NAN)), ([1.0, 2.0, 3.0], [1.0, 2.0], FACTORS), ([], [1.0], FACTORS),
    ([1.0], [], FACTORS)])
def test_factor_return_decomposition(exposures, returns, want):
    check(quorvel.factor_return_decomposition, (exposures, returns), want)
