"""pandas objects are read by their values, matched by position, never by
label; labels that disagree are said aloud."""

import warnings

import pytest

import quorvel as q
from model import same

pd = pytest.importorskip("pandas")
np = pytest.importorskip("numpy")

S = [[0.04, 0.01], [0.01, 0.09]]


def failure(function, *args):
    with pytest.raises(Exception) as info:
        function(*args)
    return type(info.value), str(info.value), getattr(info.value, "__notes__", None)


@pytest.mark.parametrize("frame", [
    pd.DataFrame(S, index=["a", "b"], columns=["a", "b"]),
    pd.DataFrame(S, columns=[(1, 2), (3, 4)]),  # iterating would yield these labels
    pd.DataFrame(S, columns=pd.MultiIndex.from_tuples([(1, 0.5), (2, 0.25)])),
    pd.DataFrame({"a": [0.04, 0.01], "b": np.array([0.01, 0.09], dtype=np.float32)}),
    pd.DataFrame({"a": [4, 1], "b": [1, 9]}) / 100,
    pd.DataFrame(np.asfortranarray(S)).iloc[::-1, ::-1].iloc[::-1, ::-1],
])
@pytest.mark.filterwarnings("ignore:minimum_variance_weights. covariance is not symmetric:RuntimeWarning")
def test_dataframes_are_read_by_value(frame):
    rows = frame.to_numpy().tolist()
    for weights in ([0.5, 0.5], pd.Series([0.5, 0.5], index=frame.columns), pd.Series([0.5, 0.5])):
        assert q.portfolio_variance(weights, frame) == q.portfolio_variance([0.5, 0.5], rows)
    assert same(q.risk_contribution([0.6, 0.4], frame), q.risk_contribution([0.6, 0.4], rows))
    assert q.minimum_variance_weights(frame) == q.minimum_variance_weights(rows)


def said(function, *args):
    """The result and the messages of the warnings the call gave."""
    with warnings.catch_warnings(record=True) as seen:
        warnings.simplefilter("always")
        result = function(*args)
    assert all(w.category is RuntimeWarning for w in seen)
    return result, [str(w.message) for w in seen]


class Uncomparable:
    """A label whose == raises an ordinary error."""

    def __eq__(self, other):
        raise TypeError("cannot compare")

    __hash__ = object.__hash__

    def __repr__(self):
        return "Uncomparable()"


BY_POSITION = "; values are matched by position, not by label"
ROWS_BY_POSITION = "; rows and columns are matched by position, not by label"
ABC = [[0.04, 0.01, 0.0], [0.01, 0.09, 0.02], [0.0, 0.02, 0.16]]


def test_labels_are_not_aligned_but_a_mismatch_is_said():
    cov = pd.DataFrame(ABC, index=list("cab"), columns=list("cab"))
    weights = pd.Series([0.5, 0.3, 0.2], index=list("abc"))
    result, seen = said(q.portfolio_volatility, weights, cov)
    assert result == q.portfolio_volatility([0.5, 0.3, 0.2], ABC)  # by position, as documented
    assert seen == ["portfolio_volatility: the index of weights and the columns of covariance differ at position 0 "
                    "('a' and 'c')" + BY_POSITION]
    aligned = cov.loc[weights.index, weights.index]
    assert said(q.portfolio_volatility, weights, aligned) == (q.portfolio_volatility([0.5, 0.3, 0.2],
                                                                                     aligned.to_numpy()), [])


@pytest.mark.parametrize("function, args, message", [
    (q.minimum_variance_weights, (pd.DataFrame(ABC, index=list("abc"), columns=list("abd")),),
     "minimum_variance_weights: the index and the columns of covariance differ at position 2 ('c' and 'd')"
     + ROWS_BY_POSITION),
    (q.mean_variance_weights, (pd.Series([0.1, 0.2, 0.3], index=list("abx")), pd.DataFrame(ABC, index=list("abc"),
                                                                                         columns=list("abc")), 2.0),
     "mean_variance_weights: the index of expected_returns and the columns of covariance differ at position 2 "
     "('x' and 'c')" + BY_POSITION),
    (q.risk_contribution, (pd.Series([0.2, 0.8], index=[("x", 1), ("y", 2)]),
                           pd.DataFrame(S, index=pd.MultiIndex.from_tuples([("x", 1), ("y", 3)]),
                                        columns=pd.MultiIndex.from_tuples([("x", 1), ("y", 3)]))),
     "risk_contribution: the index of weights and the columns of covariance differ at position 1 "
     "(('y', 2) and ('y', 3))" + BY_POSITION),
    (q.tracking_error, (pd.Series([0.1, -0.1], index=pd.to_datetime(["2024-01-31", "2024-02-29"])),
                        pd.DataFrame(S, index=pd.to_datetime(["2024-01-31", "2024-03-31"]),
                                     columns=pd.to_datetime(["2024-01-31", "2024-03-31"]))),
     "tracking_error: the index of active_weights and the columns of covariance differ at position 1 "
     "(Timestamp('2024-02-29 00:00:00') and Timestamp('2024-03-31 00:00:00'))" + BY_POSITION),
    (q.portfolio_variance, (pd.Series([0.5, 0.5], index=[2, 1]), pd.DataFrame(S, index=[1, 2], columns=[1, 2])),
     "portfolio_variance: the index of weights and the columns of covariance differ at position 0 (2 and 1)"
     + BY_POSITION),
    # Integer ids that happen to be 0 to n - 1 are labels all the same; only
    # the index pandas gives an unlabelled object is none.
    (q.portfolio_variance, (pd.Series([0.5, 0.5], index=[0, 1]), pd.DataFrame(S, index=[1, 0], columns=[1, 0])),
     "portfolio_variance: the index of weights and the columns of covariance differ at position 0 (0 and 1)"
     + BY_POSITION),
    # A label that cannot be compared hides no later mismatch.
    (q.minimum_variance_weights, (pd.DataFrame(ABC, index=pd.Index([Uncomparable(), "b", "c"], dtype=object),
                                               columns=list("abd")),),
     "minimum_variance_weights: the index and the columns of covariance differ at position 2 ('c' and 'd')"
     + ROWS_BY_POSITION),
    (q.portfolio_volatility, (pd.Series([0.5, 0.5], index=pd.period_range("2024-01", periods=2, freq="M")),
                              pd.DataFrame(S, index=pd.period_range("2024-02", periods=2, freq="M"),
                                           columns=pd.period_range("2024-02", periods=2, freq="M"))),
     "portfolio_volatility: the index of weights and the columns of covariance differ at position 0 "
     "(Period('2024-01', 'M') and Period('2024-02', 'M'))" + BY_POSITION),
])
def test_each_label_mismatch_names_the_arguments_and_the_position(function, args, message):
    result, seen = said(function, *args)
    assert seen == [message]
    plain = [a.to_numpy() if hasattr(a, "to_numpy") else a for a in args]
    assert same(result, function(*plain))
    with warnings.catch_warnings():
        warnings.simplefilter("error", RuntimeWarning)
        with pytest.raises(RuntimeWarning) as info:
            function(*args)
        assert str(info.value) == message


@pytest.mark.parametrize("weights, cov", [
    (pd.Series([0.5, 0.5]), pd.DataFrame(S, index=list("ab"), columns=list("ab"))),  # default labels say nothing
    (pd.Series([0.5, 0.5], index=list("ab")), pd.DataFrame(S)),
    (pd.Series([0.5, 0.5], index=[1, 0]), pd.DataFrame(S)),  # 0, 1 are the positions pandas gave, not labels
    (pd.Series([0.5, 0.5], index=list("ab")), pd.DataFrame(S, columns=list("ab"))),  # a default index too
    ([0.5, 0.5], pd.DataFrame(S, index=list("ab"), columns=list("ab"))),
    (pd.Series([0.5, 0.5], index=list("ab")), np.array(S)),
    (pd.Series([0.5, 0.5], index=list("ab")), S),
    (pd.Series([0.5, 0.5], index=[1.0, float("nan")]), pd.DataFrame(S, index=[1, float("nan")],
                                                                    columns=[1, float("nan")])),
    (pd.Series([0.5, 0.5], index=pd.Index(["a", "b"], dtype="string")),
     pd.DataFrame(S, index=list("ab"), columns=list("ab"))),
    # NaN is one label to pandas in any float type.
    (pd.Series([0.5, 0.5], index=pd.Index(["a", np.float64("nan")], dtype=object)),
     pd.DataFrame(S, index=pd.Index(["a", np.float64("nan")], dtype=object),
                  columns=pd.Index(["a", np.float64("nan")], dtype=object))),
    # Dates and periods built apart, compared by pandas on its own arrays.
    (pd.Series([0.5, 0.5], index=pd.date_range("2024-01-31", periods=2, freq="ME")),
     pd.DataFrame(S, index=pd.to_datetime(["2024-01-31", "2024-02-29"]),
                  columns=pd.to_datetime(["2024-01-31", "2024-02-29"]))),
    (pd.Series([0.5, 0.5], index=pd.period_range("2024-01", periods=2, freq="M")),
     pd.DataFrame(S, index=pd.PeriodIndex(["2024-01", "2024-02"], freq="M"),
                  columns=pd.PeriodIndex(["2024-01", "2024-02"], freq="M"))),
])
def test_agreeing_or_absent_labels_are_silent(weights, cov):
    assert said(q.risk_contribution, weights, cov)[1] == []


def test_labels_of_the_wrong_length_leave_the_shape_error_alone():
    with pytest.raises(ValueError) as info:
        q.portfolio_variance(pd.Series([1.0], index=["a"]), pd.DataFrame(S, index=list("ab"), columns=list("ab")))
    assert str(info.value) == "covariance dimensions must match weights"


@pytest.mark.parametrize("frame", [pd.DataFrame({"a": [True, False], "b": [False, True]}),
                                   pd.DataFrame({"a": [1, 0], "b": np.array([0, 3], dtype=np.uint8)})])
def test_dataframes_of_booleans_and_ints(frame):
    rows = [[float(x) for x in row] for row in frame.to_numpy()]
    assert q.hierarchical_risk_parity_weights(frame) == q.hierarchical_risk_parity_weights(rows)


@pytest.mark.parametrize("frame, dtype", [
    (pd.DataFrame({"a": [1.0, 2.0], "b": ["x", "y"]}), "object"),
    (pd.DataFrame({"a": [1.0, 2.0], "b": [True, False]}), "object"),
    (pd.DataFrame({"a": pd.to_datetime(["2020-01-01", "2020-01-02"])}), "datetime64[us]"),
])
def test_dataframes_without_real_numbers_are_refused(frame, dtype):
    kind, message, notes = failure(q.minimum_variance_weights, frame)
    assert (kind, notes) == (TypeError, ["while processing 'covariance'"])
    assert message.startswith("DataFrame values must be real numbers, not dtype '")


def test_dataframe_is_not_a_vector():
    assert failure(q.active_share, pd.DataFrame([[0.1, -0.1]])) == (
        TypeError, "Can't extract `DataFrame` to `Vec`: pass one column or row (a Series)",
        ["while processing 'active_weights'"])


@pytest.mark.parametrize("series", [
    pd.Series([0.1, -0.2, 0.3]), pd.Series([1, 2, 3], index=[10, 20, 30]), pd.Series([True, False, True]),
    pd.Series(np.array([0.5, 0.25, 2.0], dtype=np.float32)), pd.Series(["a", "b", "c"]),
    pd.Series([0.5, 2.0, 0.5], dtype="category"), pd.Series(["1", "2"], dtype="string"),
])
def test_series_give_what_iterating_them_gives(series):
    def outcome(values):
        try:
            return q.factor_return_decomposition(values, [1.0] * len(series))
        except Exception as exc:
            return type(exc), str(exc)

    assert same(outcome(series), outcome(list(series))) or outcome(series) == outcome(list(series))


NULLABLE = [
    pd.Series([0.1, None, 0.3], dtype="Float64"), pd.Series([0.1, 0.2], dtype="Float64"),
    pd.Series([1, None, 2**53 + 1], dtype="Int64"), pd.Series([7, 0], dtype="UInt8"),
    pd.Series([True, None, False], dtype="boolean"), pd.Series([None, None], dtype="Float32"),
]


@pytest.mark.parametrize("series", NULLABLE)
def test_nullable_series_are_read_by_value_with_na_as_nan(series):
    want = series.to_numpy(dtype="float64", na_value=np.nan)
    got = q.factor_return_decomposition(series, [1.0] * len(series))[0]
    assert same(got, [float(v) for v in want])


@pytest.mark.parametrize("dtype, columns", [
    ("Float64", {"a": [0.04, None], "b": [0.01, 0.09]}), ("Int64", {"a": [4, None], "b": [1, 9]}),
    ("boolean", {"a": [True, None], "b": [False, True]}),
])
@pytest.mark.filterwarnings("ignore:minimum_variance_weights. covariance is not symmetric:RuntimeWarning")
def test_nullable_frames_are_read_by_value_with_na_as_nan(dtype, columns):
    frame = pd.DataFrame(columns, dtype=dtype)
    values = frame.to_numpy(dtype="float64", na_value=np.nan)
    assert same(q.portfolio_variance([0.0, 1.0], frame), q.portfolio_variance([0.0, 1.0], values))
    full = frame.fillna(frame.iloc[1, 1])
    assert q.minimum_variance_weights(full) == q.minimum_variance_weights(full.to_numpy(dtype="float64"))


@pytest.mark.parametrize("frame, dtype", [
    (pd.DataFrame({"a": [1.0, 2.0], "b": pd.array(["x", "y"], dtype="string")}), "string"),
    (pd.DataFrame({"a": pd.array([1.0, None], dtype="Float64"),
                   "b": pd.to_datetime(["2020-01-01", None]).tz_localize("UTC")}), "datetime64[us, UTC]"),
])
def test_frames_with_other_extension_dtypes_name_them(frame, dtype):
    assert failure(q.minimum_variance_weights, frame) == (
        TypeError, f"DataFrame values must be real numbers, not dtype '{dtype}'", ["while processing 'covariance'"])
