"""Results that are returned as specified but are not what the caller meant
come with a RuntimeWarning that says so; the returned bits never change."""

import math
import struct
import warnings

import pytest

import quorvel as q

NAN, INF = math.nan, math.inf
S = [[0.04, 0.01], [0.01, 0.09]]
NOT_PSD = [[0.04, 0.05], [0.05, 0.04]]  # w = [1, -1] gives a variance of -0.02

VOLATILITY = "; volatility reported as 0.0"
TRACKING = "; tracking error reported as 0.0"
SHARES = "; marginal contributions and shares reported as 0.0"
NOT_PSD_VARIANCE = ("portfolio variance is negative (-0.020000000000000004), so the covariance matrix is not "
                    "positive semi-definite")


def caught(function, *args):
    """The result and the (category, message) of every warning the call gave."""
    with warnings.catch_warnings(record=True) as seen:
        warnings.simplefilter("always")
        result = function(*args)
    return result, [(w.category, str(w.message)) for w in seen]


def bits(value):
    if isinstance(value, (list, tuple)):
        return [bits(v) for v in value]
    return struct.pack("<d", value)


@pytest.mark.parametrize("function, args, message", [
    (q.portfolio_volatility, ([NAN, 0.5], [[0.04, 0.0], [0.0, 0.04]]),
     "portfolio_volatility: portfolio variance is NaN (weights[0] is NaN)" + VOLATILITY),
    (q.portfolio_volatility, ([0.5, 0.5], [[0.04, 0.01], [0.01, NAN]]),
     "portfolio_volatility: portfolio variance is NaN (covariance[1][1] is NaN)" + VOLATILITY),
    (q.portfolio_volatility, ([0.0, 1.0], [[INF, 0.0], [0.0, 1.0]]),  # inf * 0
     "portfolio_volatility: portfolio variance is NaN (covariance[0][0] is inf)" + VOLATILITY),
    (q.portfolio_volatility, ([1e300, -1e300], [[1e300, 1e300], [1e300, 1e300]]),  # inf - inf
     "portfolio_volatility: portfolio variance is NaN (every input is finite: the arithmetic overflowed)"
     + VOLATILITY),
    (q.portfolio_volatility, ([1.0, -1.0], NOT_PSD), "portfolio_volatility: " + NOT_PSD_VARIANCE + VOLATILITY),
    (q.tracking_error, ([0.1, NAN], S),
     "tracking_error: portfolio variance is NaN (active_weights[1] is NaN)" + TRACKING),
    (q.tracking_error, ([1.0, -1.0], NOT_PSD), "tracking_error: " + NOT_PSD_VARIANCE + TRACKING),
    (q.risk_contribution, ([NAN, 0.5], S),
     "risk_contribution: portfolio variance is NaN (weights[0] is NaN)" + SHARES),
    (q.risk_contribution, ([1.0, -1.0], NOT_PSD), "risk_contribution: " + NOT_PSD_VARIANCE + SHARES),
    (q.hierarchical_risk_parity_weights, ([[0.04, 0.0], [0.0, NAN]],),
     "hierarchical_risk_parity_weights: the variance of asset 1 (covariance[1][1]) is NaN; it is counted as "
     "1e-18, so that asset takes nearly all the weight"),
    (q.hierarchical_risk_parity_weights, ([[-0.5, 0.0, 0.0], [0.0, 0.04, 0.0], [0.0, 0.0, NAN]],),
     "hierarchical_risk_parity_weights: 2 diagonal variances are NaN or negative, the first covariance[0][0] = "
     "-0.5; each is counted as 1e-18, so those assets take nearly all the weight"),
    (q.risk_parity_weights, ([[NAN, 0.0], [0.0, 0.04]], 0, 1e-10),
     "risk_parity_weights: the variance of asset 0 (covariance[0][0]) is NaN; it is counted as 1e-18, so that "
     "asset starts with nearly all the weight"),
])
def test_degenerate_results_warn(function, args, message):
    result, seen = caught(function, *args)
    assert seen == [(RuntimeWarning, message)]
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        assert bits(function(*args)) == bits(result)  # the same bits, warned or not


@pytest.mark.parametrize("function, args", [
    (q.portfolio_volatility, ([0.5, 0.5], S)),
    (q.portfolio_volatility, ([0.0, 0.0], S)),  # +0.0
    (q.portfolio_volatility, ([-0.0], [[1.0]])),  # -0.0 * ... sums to -0.0
    (q.portfolio_volatility, ([1.0, 1.0], [[1.0, -1.0], [-1.0, 1.0]])),  # a hedged pair: exactly 0.0
    (q.tracking_error, ([0.0], [[-1.0]])),
    (q.risk_contribution, ([-1.0, 0.0], [[0.0, 0.0], [0.0, 0.0]])),
    (q.portfolio_variance, ([NAN], [[1.0]])),  # shows the NaN itself
    (q.hierarchical_risk_parity_weights, ([[0.0, 0.0], [0.0, 0.04]],)),  # zero variance: what the formula means
    (q.hierarchical_risk_parity_weights, ([[1e-30, 0.0], [0.0, 0.04]],)),  # tiny but positive
    (q.risk_parity_weights, ([[0.0, 0.0], [0.0, 0.04]], 0, 1e-10)),
    (q.hierarchical_risk_parity_weights, ([[0.04, NAN], [NAN, 0.09]],)),  # off-diagonal NaN is never read
])
def test_sound_or_signalled_results_are_silent(function, args):
    assert caught(function, *args)[1] == []


@pytest.mark.parametrize("function, args", [
    (q.portfolio_volatility, ([NAN, 0.5], S)),
    (q.risk_contribution, ([1.0, -1.0], NOT_PSD)),
    (q.hierarchical_risk_parity_weights, ([[NAN, 0.0], [0.0, 1.0]],)),
    (q.risk_parity_weights, ([[-1.0, 0.0], [0.0, 1.0]], 5, 1e-10)),
])
def test_warnings_become_errors_under_an_error_filter(function, args):
    with warnings.catch_warnings():
        warnings.simplefilter("error", RuntimeWarning)
        with pytest.raises(RuntimeWarning, match=f"^{function.__name__}"):
            function(*args)


def test_a_missing_ticker_warns_where_pandas_would_hide_it():
    pd = pytest.importorskip("pandas")
    cov = pd.DataFrame(S, index=["a", "b"], columns=["a", "b"])
    w = pd.Series({"a": 0.5, "c": 0.5}).reindex(cov.index)  # "b" is missing: NaN
    result, seen = caught(q.portfolio_volatility, w, cov)
    assert result == 0.0
    assert seen == [(RuntimeWarning, "portfolio_volatility: portfolio variance is NaN (weights[1] is NaN)"
                     + VOLATILITY)]
