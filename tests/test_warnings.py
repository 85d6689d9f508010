"""Results that are returned as specified but are not what the caller meant
come with a RuntimeWarning that says so; the returned bits never change."""

import json
import math
import re
import shutil
import subprocess
import sys
import textwrap
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
NOT_PSD_VARIANCE = ("portfolio variance is negative (-0.020000000000000004), more than the rounding error bound "
                    "of its computation (1.5987211554602254e-16), so the covariance matrix is not positive "
                    "semi-definite")


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


# --- A negative variance is a warning only when rounding cannot explain it ---

def rank_deficient_covariance():
    """120 monthly returns of 200 assets: np.cov has rank 119."""
    np = pytest.importorskip("numpy")
    returns = np.random.default_rng(0).normal(0.0, 0.05, (120, 200))
    return np.cov(returns, rowvar=False)


def near_hedge(k):
    """[[1, 1 + 2**-k], [1 + 2**-k, 1]] with w = [1, -1]: w'Sw = -2**(1-k) exactly, and the variance is
    computed without rounding; the rounding error bound is 2**-48 (4nu |w|'|S||w| with n = 2)."""
    e = 1.0 + 2.0 ** -k
    return [1.0, -1.0], [[1.0, e], [e, 1.0]]


RISK = [(q.portfolio_volatility, VOLATILITY), (q.tracking_error, TRACKING), (q.risk_contribution, SHARES)]


@pytest.mark.parametrize("function, reported", RISK)
def test_the_weights_of_a_singular_covariance_have_zero_risk_in_silence(function, reported):
    s = rank_deficient_covariance()
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        w = q.minimum_variance_weights(s)
    assert q.portfolio_variance(w, s) < 0.0  # rounding noise around zero: -3.3e-19 here
    assert caught(function, w, s)[1] == []


@pytest.mark.parametrize("function, reported", RISK)
@pytest.mark.parametrize("k, bound", [
    (44, "3.552713678800602e-15"), (48, "3.552713678800507e-15"),  # -2**-43, -2**-47: beyond the bound
    (50, None), (52, None)])  # -2**-49, -2**-51: within it, as rounding could have made them
def test_a_negative_variance_warns_only_beyond_its_rounding_bound(function, reported, k, bound):
    weights, covariance = near_hedge(k)
    variance = q.portfolio_variance(weights, covariance)
    assert variance == -(2.0 ** (1 - k))
    seen = caught(function, weights, covariance)[1]
    if bound is None:
        assert seen == []
    else:
        assert seen == [(RuntimeWarning, f"{function.__name__}: portfolio variance is negative ({variance!r}), more "
                         f"than the rounding error bound of its computation ({bound}), so the covariance matrix "
                         f"is not positive semi-definite" + reported)]


@pytest.mark.parametrize("weights, covariance", [
    ([0.3, -0.1], [[1.0, 3.0], [3.0, 9.0]]),  # rank one, exactly: the variance comes out -5.6e-18
    ([1e-200, -1e-200], [[1.0, 1.0], [1.0, 1.0]]),  # products among the subnormals
])
def test_psd_matrices_with_negative_rounding_stay_silent(weights, covariance):
    assert q.portfolio_variance(weights, covariance) <= 0.0
    for function, _ in RISK:
        assert caught(function, weights, covariance)[1] == []


def test_no_exactly_psd_matrix_warns_however_the_rounding_falls():
    """The bound is a proof: for integer Gram matrices (exactly positive semi-definite) and weights near their
    null space, about half the variances come out negative, and none may warn."""
    np = pytest.importorskip("numpy")
    rng = np.random.default_rng(5)
    negative = 0
    for _ in range(300):
        n = int(rng.integers(2, 40))
        b = rng.integers(-5, 6, size=(n, int(rng.integers(1, n)))).astype(float)
        s = b @ b.T  # small integers: exact
        w = np.linalg.svd(b.T)[2][-1] * rng.uniform(0.1, 10.0)
        negative += q.portfolio_variance(w, s) < 0.0
        for function, _ in RISK:
            assert caught(function, w, s)[1] == []
    assert negative > 100


@pytest.mark.parametrize("weights, covariance, message", [
    ([1.0], [[-1.0]], "portfolio variance is negative (-1.0), more than the rounding error bound of its "
                      "computation (4.440892098500626e-16), so the covariance matrix is not positive semi-definite"),
    ([1.0, 1.0], [[-INF, 0.0], [0.0, 0.0]], "portfolio variance is negative (-inf) and the rounding error bound of "
                                            "its computation overflows, so the covariance matrix may not be "
                                            "positive semi-definite"),
])
def test_negative_variances_beyond_any_bound(weights, covariance, message):
    assert caught(q.portfolio_volatility, weights, covariance)[1] == [
        (RuntimeWarning, "portfolio_volatility: " + message + VOLATILITY)]


# --- Inversions that needed the ridge, or whose inverse is rounding noise ---

MIN_VAR, MEAN_VAR = "minimum_variance_weights", "mean_variance_weights"
CURES = "use more observations than assets, or a shrinkage covariance"


def ridged(function, step, n, column):
    return (f"{function}: covariance is singular to working precision: inverting it found no pivot of magnitude "
            f"1e-14 or more at pivot step {step} of {n} (column {column}), so it was inverted with 1e-12 added to "
            "its diagonal, and the weights are those of that ridged matrix; use more observations than assets, a "
            "shrinkage covariance, or units in which the variances are well above 1e-14")


def ill_conditioned(function, rcond, ridge=""):
    return (f"{function}: covariance{ridge} is numerically singular: its reciprocal condition number "
            f"1/(norm1(S) * norm1(inverse(S))) is {rcond}, below the unit roundoff 2**-53 "
            "(1.1102230246251565e-16), so rounding decides the inverse and the weights built on it; " + CURES)


def scaled_hedge(k):
    """2**20 [[1, 1], [1, 1 + k 2**-52]]: pivots far above 1e-14, reciprocal condition number about k/2 2**-53."""
    c = 2.0 ** 20
    return [[c, c], [c, c + k * 2.0 ** -32]]


@pytest.mark.parametrize("covariance, messages", [
    ([[1.0, 1.0], [1.0, 1.0]], [ridged(MIN_VAR, 2, 2, 1)]),
    ([[0.0, 0.0], [0.0, 0.0]], [ridged(MIN_VAR, 1, 2, 0)]),
    ([[0.0, 0.0, 0.0], [0.0, 1.0, 0.0], [0.0, 0.0, 0.0]], [ridged(MIN_VAR, 1, 3, 0)]),
    ([[4e-15, 0.0], [0.0, 1e-15]], [ridged(MIN_VAR, 1, 2, 0)]),  # tiny units
    (scaled_hedge(1), [ill_conditioned(MIN_VAR, "5.551115123125783e-17")]),
    (scaled_hedge(2), [ill_conditioned(MIN_VAR, "1.110223024625156e-16")]),
    (scaled_hedge(3), []),  # 1.5 2**-53: above the unit roundoff (below numpy's eps, 2**-52)
    (scaled_hedge(4), []),
    ([[1.0, 1.0], [1.0, 1.0 + 2.0 ** -52]], [ridged(MIN_VAR, 2, 2, 1)]),  # the pivot 2**-52 is below 1e-14
    ([[1e20, 1e20], [1e20, 1e20]], None),  # the ridge is lost to rounding: "singular", and nothing else
    ([[1e15, 1e15 + 0.125], [1e15 + 0.125, 1e15]], [ill_conditioned(MIN_VAR, "6.25e-17")]),
    ([[0.04, 0.01], [0.01, 0.09]], []),
    ([[1.0, NAN], [NAN, 1.0]], []),  # NaN weights say it; no condition number
])
def test_inversions_that_cannot_be_trusted_say_so(covariance, messages):
    if messages is None:
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            with pytest.raises(ValueError, match="^covariance matrix is singular$"):
                q.minimum_variance_weights(covariance)
        return
    weights, seen = caught(q.minimum_variance_weights, covariance)
    assert seen == [(RuntimeWarning, m) for m in messages]
    mean_variance = [m.replace(MIN_VAR, MEAN_VAR) for m in messages]
    assert caught(q.mean_variance_weights, [0.05] * len(covariance), covariance, 3.0)[1] == [
        (RuntimeWarning, m) for m in mean_variance]


def test_a_rank_deficient_sample_covariance_warns_at_the_inversion():
    s = rank_deficient_covariance()
    seen = caught(q.minimum_variance_weights, s)[1]
    assert seen == [(RuntimeWarning, ridged(MIN_VAR, 120, 200, 119))]


def test_the_condition_number_is_numpys():
    np = pytest.importorskip("numpy")
    s = np.array(scaled_hedge(1))
    message = caught(q.minimum_variance_weights, s)[1][0][1]
    rcond = float(message.split(" is ")[2].split(",")[0])
    assert rcond == pytest.approx(1.0 / np.linalg.cond(s, 1), rel=1e-12)


def test_a_ridged_matrix_can_still_be_ill_conditioned():
    # Diagonal entries of 2**14 and more absorb the ridge: the retry meets the same pivot, and the call fails.
    c = 2.0 ** 14
    covariance = [[c, c], [c, c]]
    with pytest.raises(ValueError, match="singular"):
        q.minimum_variance_weights(covariance)
    # The ridge makes the small block invertible (eigenvalue 1e-12), next to a variance of 2**60: the matrix
    # inverted has a condition number near 1e30, and both warnings are given.
    covariance = [[1e-2, 1e-2, 0.0], [1e-2, 1e-2, 0.0], [0.0, 0.0, 2.0 ** 60]]
    seen = [m for _, m in caught(q.minimum_variance_weights, covariance)[1]]
    assert seen[0] == ridged(MIN_VAR, 2, 3, 1)
    assert seen[1].startswith(f"{MIN_VAR}: covariance with the ridge on its diagonal is numerically singular: ")


# --- Asymmetric covariances, where the matrix is inverted or iterated on ---

def asymmetric(function, upper, lower, i=0, j=1, weights="the weights"):
    return (f"{function}: covariance is not symmetric: covariance[{i}][{j}] is {upper} but covariance[{j}][{i}] is "
            f"{lower}; {weights} are those of the matrix as given (average it with its transpose if a covariance "
            "was meant)")


def inverse_and_iterative(covariance):
    n = len(covariance)
    return [(q.minimum_variance_weights, (covariance,)), (q.mean_variance_weights, ([0.05] * n, covariance, 3.0)),
            (q.risk_parity_weights, (covariance, 10, 0.0))]


def big_asymmetric():
    """70 x 70 (tiles of 32): the first difference in row order lies in a later tile than others."""
    s = [[float(i == j) for j in range(70)] for i in range(70)]
    for i, j in [(40, 65), (35, 36), (33, 68), (3, 60), (3, 50)]:
        s[i][j] = 0.5
    return s


@pytest.mark.parametrize("covariance, want", [
    ([[1.0, 5.0], [-5.0, 1.0]], ("5.0", "-5.0", 0, 1)),
    ([[1.0, 0.1], [0.1 + 2.0 ** -56, 1.0]], ("0.1", "0.10000000000000002", 0, 1)),  # the last bit counts
    ([[1.0, NAN], [0.0, 1.0]], ("NaN", "0.0", 0, 1)),
    ([[1.0, 0.0, 0.2], [0.0, 1.0, 0.1], [0.0, 0.1, 1.0]], ("0.2", "0.0", 0, 2)),
    (big_asymmetric(), ("0.5", "0.0", 3, 50)),
    ([[1.0, NAN], [NAN, 1.0]], None),  # missing data is NaN on both sides: symmetric
    ([[1.0, -0.0], [0.0, 1.0]], None),
    ([[0.04, 0.01], [0.01, 0.09]], None),
])
def test_asymmetric_covariances_warn_where_they_are_inverted_or_iterated(covariance, want):
    for function, args in inverse_and_iterative(covariance):
        seen = [m for _, m in caught(function, *args)[1] if "symmetric" in m]
        assert seen == ([] if want is None else [asymmetric(function.__name__, *want)])


def test_the_first_asymmetry_of_a_later_band_is_found_in_row_order():
    s = big_asymmetric()
    s[3][50] = s[3][60] = 0.0
    assert caught(q.minimum_variance_weights, s)[1] == [(RuntimeWarning, asymmetric(MIN_VAR, "0.5", "0.0", 33, 68))]


@pytest.mark.parametrize("function", [q.portfolio_variance, q.portfolio_volatility, q.tracking_error,
                                      q.risk_contribution])
def test_the_risk_measures_do_not_check_symmetry(function):
    assert caught(function, [0.5, 0.5], [[0.04, 0.02], [0.0, 0.09]])[1] == []


# --- NaN among the values to rank ---

RANKED_NAN = ("; NaN compares equal to every value, so it is given a rank of its own and the other values may not be "
              "ranked in their order; drop or fill NaN values first")


@pytest.mark.parametrize("values, ascending, weights, message", [
    ([3.0, NAN, 1.0], True, [1 / 6, 1 / 3, 1 / 2], "values[1] is NaN"),  # 3.0 ranks below 1.0
    ([NAN], False, [1.0], "values[0] is NaN"),
    ([1.0, 2.0, NAN, 0.5, NAN], True, None, "values[2] is NaN (2 of 5 values are NaN)"),
    ([3.0, INF, 1.0], True, [1 / 3, 1 / 2, 1 / 6], None),
])
def test_rank_weights_name_the_first_nan(values, ascending, weights, message):
    got, seen = caught(q.rank_weights, values, ascending)
    if weights is not None:
        assert got == pytest.approx(weights, rel=1e-15)
    assert seen == ([] if message is None else [(RuntimeWarning, "rank_weights: " + message + RANKED_NAN)])


# --- Every warning: the same bits, warned, ignored or raised ---

EVERY_WARNING = [
    (q.portfolio_volatility, ([1.0, -1.0], NOT_PSD)),
    (q.tracking_error, ([NAN, 0.5], S)),
    (q.risk_contribution, ([1.0, -1.0], NOT_PSD)),
    (q.minimum_variance_weights, ([[1.0, 1.0], [1.0, 1.0]],)),
    (q.minimum_variance_weights, (scaled_hedge(1),)),
    (q.mean_variance_weights, ([0.1, 0.2], [[1.0, 5.0], [-5.0, 1.0]], 3.0)),
    (q.risk_parity_weights, ([[1.0, 5.0], [-5.0, 1.0]], 3, 1e-10)),  # asymmetric, then not converged
    (q.hierarchical_risk_parity_weights, ([[NAN, 0.0], [0.0, 1.0]],)),
    (q.rank_weights, ([3.0, NAN, 1.0], False)),
]


@pytest.mark.parametrize("function, args", EVERY_WARNING)
def test_bits_are_the_same_warned_ignored_or_raised(function, args):
    warned, seen = caught(function, *args)
    assert seen and all(category is RuntimeWarning and m.startswith(function.__name__) for category, m in seen)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        assert bits(function(*args)) == bits(warned)
    for first in range(len(seen)):  # each warning in turn raised, the ones before it only recorded
        with warnings.catch_warnings(record=True):
            warnings.simplefilter("always")
            warnings.filterwarnings("error", message=re.escape(seen[first][1]), category=RuntimeWarning)
            with pytest.raises(RuntimeWarning) as raised:
                function(*args)
        assert str(raised.value) == seen[first][1]


# --- Sizes in the notes of shape mismatches ---

@pytest.mark.parametrize("function, args, message, note", [
    (q.portfolio_variance, ([1.0, 2.0, 3.0], [[1.0] * 4] * 4), "covariance dimensions must match weights",
     "weights has 3 values; covariance is 4 x 4"),
    (q.tracking_error, ([1.0], [[1.0, 0.0], [0.0, 1.0]]), "covariance dimensions must match weights",
     "active_weights has 1 value; covariance is 2 x 2"),
    (q.risk_contribution, ([1.0, 2.0], [[1.0, 2.0]]), "matrix must be square", "weights has 2 values; covariance is 1 x 2"),
    (q.mean_variance_weights, ([0.1, 0.2, 0.3], [[1.0, 0.0], [0.0, 1.0]], 3.0),
     "expected_returns length must match covariance dimensions", "expected_returns has 3 values; covariance is 2 x 2"),
    (q.minimum_variance_weights, ([[1.0, 2.0], [3.0], [4.0, 5.0]],), "matrix rows must have equal length",
     "covariance has 3 rows of unequal length, the first of 2 values"),
    (q.risk_parity_weights, ([[1.0, 2.0, 3.0]], 10, 0.0), "matrix must be square", "covariance is 1 x 3"),
    (q.brinson_attribution, ([0.5, 0.5], [0.5, 0.5], [0.1], [0.1, 0.2]), "all input vectors must have the same length",
     "portfolio_weights has 2 values; benchmark_weights has 2 values; portfolio_returns has 1 value; "
     "benchmark_returns has 2 values"),
    (q.factor_return_decomposition, ([1.0, 2.0], []), "exposures and factor_returns must have the same length",
     "exposures has 2 values; factor_returns has 0 values"),
])
def test_shape_mismatches_note_the_sizes_seen(function, args, message, note):
    with pytest.raises(ValueError) as raised:
        function(*args)
    assert str(raised.value) == message  # the message itself is unchanged
    assert raised.value.__notes__ == [note]


@pytest.mark.parametrize("function, args", [
    (q.minimum_variance_weights, ([[1e20, 1e20], [1e20, 1e20]],)), (q.portfolio_variance, ([], [])),
    (q.hierarchical_risk_parity_weights, ([[]],)), (q.signal_proportional_weights, ([0.0],)),
])
def test_other_errors_have_no_note(function, args):
    with pytest.raises(ValueError) as raised:
        function(*args)
    assert not hasattr(raised.value, "__notes__")


# --- A warning hook that changes the floating-point state ---

HOOKED = textwrap.dedent("""
    import ctypes, importlib.util, json, sys, warnings
    fp = ctypes.CDLL(sys.argv[2])
    located = importlib.util.spec_from_file_location("quorvel", sys.argv[1])
    q = importlib.util.module_from_spec(located)
    located.loader.exec_module(q)
    seen = []
    def careless(message, *rest):  # a hook, say from a library built with -ffast-math
        seen.append(str(message))
        fp.flush_to_zero()
    with warnings.catch_warnings():
        warnings.simplefilter("always")
        warnings.showwarning = careless
        weights = q.risk_parity_weights([[-5e-324, 1.0], [0.0, 1.0]], 5, 1e-10)
    fp.set_rounding(0)
    print(json.dumps([seen, weights]))
""")


def test_warnings_after_a_hook_are_made_in_the_calls_floating_point_state(tmp_path):
    """The hook turns on flush-to-zero while the first warning is shown; the second still shows the subnormal
    diagonal variance it is about (repr() itself reads it as 0.0 under denormals-are-zero)."""
    from test_exactness import FP_STATE
    compiler = shutil.which("cc") or shutil.which("gcc") or shutil.which("clang")
    if compiler is None:
        pytest.skip("no C compiler to build the floating-point state helper")
    (tmp_path / "fp_state.c").write_text(FP_STATE)
    library = tmp_path / "fp_state.so"
    subprocess.run([compiler, "-shared", "-fPIC", "-O1", str(tmp_path / "fp_state.c"), "-o", str(library), "-lm"],
                   check=True)
    done = subprocess.run([sys.executable, "-c", HOOKED, q.__file__, str(library)], capture_output=True, text=True,
                          timeout=120)
    assert done.returncode == 0, done.stderr
    seen, weights = json.loads(done.stdout)
    assert len(seen) == 3 and seen[0].startswith("risk_parity_weights: covariance is not symmetric: ")
    assert seen[1].startswith("risk_parity_weights: the variance of asset 0 (covariance[0][0]) is -5e-324; ")
    assert seen[2].startswith("risk_parity_weights did not converge")
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        assert weights == q.risk_parity_weights([[-5e-324, 1.0], [0.0, 1.0]], 5, 1e-10)
