import pytest

import quorvel as q

NO_STR, NOT_SEQ = "Can't extract `str` to `Vec`", "'int' object is not an instance of 'Sequence'"
COV = [[0.04, 0.01], [0.01, 0.09]]
UP, DOWN = [0.3333333333333333, 0.6666666666666666], [0.6666666666666666, 0.3333333333333333]


def failure(func, *args):
    with pytest.raises(BaseException) as info:
        func(*args)
    return type(info.value), str(info.value), getattr(info.value, "__notes__", None)


def noted(name):
    return [f"while processing '{name}'"]


def give(value):
    if isinstance(value, type):
        raise value("refused")
    if isinstance(value, BaseException):
        raise value
    return value


def number(value, slot="__float__"):
    return type("Number", (), {slot: lambda self: give(value)})()


def numpy_like(name="bool_", module="numpy", **attributes):
    return type(name, (), {"__module__": module, **attributes})()


class Seq:
    """A sequence whose reported length need not match what its iteration yields."""

    def __init__(self, items, length):
        self.items, self.length, self.calls = items, length, []

    def __getitem__(self, index):
        return self.items[index]

    def __len__(self):
        self.calls.append("len")
        return give(self.length)

    def __iter__(self):
        self.calls.append("iter")
        return map(give, self.items)


@pytest.mark.parametrize("values, expected", [
    ((1, 2.5, True), [1.0, 2.5, 1.0]),
    (range(3), [0.0, 1.0, 2.0]),
    (b"\x00\x07", [0.0, 7.0]),
    (type("Reversed", (list,), {"__iter__": lambda self: reversed(self)})([1, 2, 3]), [3.0, 2.0, 1.0]),
    ([number(2.5), number(-1.0), number(-4, "__index__"), -1.0, 2**53], [2.5, -1.0, -4.0, -1.0, 2.0**53]),
    (Seq([1.0, 2.0, 3.0], 1), [1.0, 2.0, 3.0]),
    (Seq([1.0, 2.0], 100), [1.0, 2.0]),
    (Seq([4.0], 2**62), [4.0]),
    (Seq([5.0, 6.0], RuntimeError), [5.0, 6.0]),
    (Seq(list(range(1000)), 0), [float(i) for i in range(1000)]),
])
def test_vector_holds_exactly_the_iterated_items(values, expected):
    # Each item times 1.0 comes back: the values exactly as they were read.
    assert q.factor_return_decomposition(values, [1.0] * len(expected))[0] == expected


@pytest.mark.parametrize("value, message", [
    ("123", NO_STR),
    (type("Text", (str,), {})("12"), NO_STR),
    (5, NOT_SEQ),
    (None, "'None' is not an instance of 'Sequence'"),
    ({1: 1.0}, "'dict' object is not an instance of 'Sequence'"),
    ({1.0}, "'set' object is not an instance of 'Sequence'"),
    ((x for x in [1.0]), "'generator' object is not an instance of 'Sequence'"),
    (type("Inner", (), {"__qualname__": "Outer.Inner"})(), "'Outer.Inner' object is not an instance of 'Sequence'"),
    ([1.0, "x"], "must be real number, not str"),
    ([None], "must be real number, not NoneType"),
])
def test_vector_refusals(value, message):
    assert failure(q.signal_proportional_weights, value) == (TypeError, message, noted("values"))


@pytest.mark.parametrize("wrap", [lambda e: [1.0, number(e)], lambda e: Seq([1.0, e], 2)])
def test_item_and_iteration_errors_pass_through_with_the_note(wrap):
    error = LookupError("boom")
    error.__cause__ = KeyError("root")
    error.add_note("earlier")
    with pytest.raises(LookupError) as info:
        q.signal_proportional_weights(wrap(error))
    assert info.value is error and error.args == ("boom",) and type(error.__cause__) is KeyError
    assert error.__notes__ == ["earlier", "while processing 'values'"]


@pytest.mark.parametrize("interrupt", [KeyboardInterrupt, SystemExit, GeneratorExit])
def test_interrupt_while_reading_a_size_hint_propagates(interrupt):
    # Only an ordinary Exception from __len__ means "no size hint".
    assert failure(q.signal_proportional_weights, Seq([1.0], interrupt)) == (interrupt, "refused", noted("values"))
    assert failure(q.minimum_variance_weights, Seq([[1.0]], interrupt)) == (interrupt, "refused", noted("covariance"))
    assert failure(q.minimum_variance_weights, [Seq([1.0], interrupt)]) == (interrupt, "refused", noted("covariance"))


def test_list_changed_while_converted():
    def hook(action, result):
        return type("Hook", (), {"__float__": lambda self: action() or result})()

    victim = [1.0, 1.0]
    victim.insert(0, hook(victim.clear, 2.0))
    assert q.signal_proportional_weights(victim) == [1.0]
    victim[:] = [hook(lambda: victim.append(2.0), 1.0), 1.0]
    assert q.signal_proportional_weights(victim) == [0.25, 0.25, 0.5]


def test_matrix_rows_in_any_sequence_form():
    matrix = Seq([range(2, 4), (0, number(1.0))], 0)
    assert (q.portfolio_variance([1.0, 0.0], matrix), q.portfolio_variance([0.0, 1.0], matrix)) == (2.0, 1.0)
    assert failure(q.minimum_variance_weights, [[1.0], []]) == (ValueError, "matrix rows must have equal length",
                                                                 ["covariance has 2 rows of unequal length, the first of 1 value"])


@pytest.mark.parametrize("matrix, message", [
    ("ab", NO_STR),
    ([[1.0, 0.0], "ab"], NO_STR),
    (5, NOT_SEQ),
    ([[1.0], 5], NOT_SEQ),
    ([[1.0], None], "'None' is not an instance of 'Sequence'"),
    ([[1.0, "x"]], "must be real number, not str"),
])
def test_matrix_refusals(matrix, message):
    assert failure(q.minimum_variance_weights, matrix) == (TypeError, message, noted("covariance"))


@pytest.mark.parametrize("args, error, message, name", [
    (("x", "y", "z"), TypeError, NO_STR, "expected_returns"),
    (([1.0], 5, "z"), TypeError, NOT_SEQ, "covariance"),
    (([1.0], [[1.0]], "z"), TypeError, "must be real number, not str", "risk_aversion"),
])
def test_first_failing_argument_is_reported(args, error, message, name):
    assert failure(q.mean_variance_weights, *args) == (error, message, noted(name))


def test_arguments_after_a_failure_are_not_read():
    later = Seq([1.0], 1)
    assert failure(q.brinson_attribution, [1.0], "x", later, later)[2] == noted("benchmark_weights")
    assert later.calls == []


@pytest.mark.parametrize("count, n", [
    (True, 1), (number(3, "__index__"), 3), (type("Int", (int,), {"__index__": lambda self: 5})(2), 2)])
def test_count_forms(count, n):
    assert q.equal_weights(count) == [1.0 / n] * n


@pytest.mark.parametrize("count, error, message", [
    (-1, OverflowError, "can't convert negative int to unsigned"),
    (number(-1, "__index__"), OverflowError, "can't convert negative int to unsigned"),
    (2**64, OverflowError, "int too big to convert"),
    (2.0, TypeError, "'float' object cannot be interpreted as an integer"),
    (number(ArithmeticError, "__index__"), ArithmeticError, "refused"),
])
def test_count_refusals(count, error, message):
    assert failure(q.equal_weights, count) == (error, message, noted("count"))
    assert failure(q.risk_parity_weights, COV, count, 1e-8) == (error, message, noted("max_iter"))


def test_largest_count_is_accepted():
    assert q.risk_parity_weights([[4.0]], 2**64 - 1, 1e-8) == [1.0]


@pytest.mark.parametrize("tolerance, same_as", [(1, 1.0), (number(1e-10), 1e-10), (number(-1.0), -1.0)])
def test_float_forms(tolerance, same_as):
    assert q.risk_parity_weights(COV, 5, tolerance) == q.risk_parity_weights(COV, 5, same_as)


@pytest.mark.parametrize("tolerance, error, message", [
    (10**400, OverflowError, "int too large to convert to float"),
    ("1e-8", TypeError, "must be real number, not str"),
    (number(ArithmeticError), ArithmeticError, "refused"),
])
def test_float_refusals(tolerance, error, message):
    assert failure(q.risk_parity_weights, COV, 5, tolerance) == (error, message, noted("tolerance"))


@pytest.mark.parametrize("flag, expected", [
    (True, UP),
    (False, DOWN),
    (numpy_like(__bool__=lambda self: True), UP),
    (numpy_like("bool", __bool__=lambda self: False), DOWN),
])
def test_flag_forms(flag, expected):
    assert q.rank_weights([1.0, 2.0], flag) == expected


@pytest.mark.parametrize("flag, error, message", [
    (1, TypeError, "'int' object is not an instance of 'bool'"),
    (None, TypeError, "'None' is not an instance of 'bool'"),
    (numpy_like("int8", __bool__=lambda self: True), TypeError, "'int8' object is not an instance of 'bool'"),
    (numpy_like(module="numpy.core", __bool__=lambda self: True), TypeError,
     "'bool_' object is not an instance of 'bool'"),
    (numpy_like(__bool__=lambda self: 1), TypeError, "'int' object is not an instance of 'bool'"),
    (numpy_like(__bool__=lambda self: give(ZeroDivisionError)), ZeroDivisionError, "refused"),
    (numpy_like(), TypeError, "object of type '<class 'numpy.bool_'>' does not define a '__bool__' conversion"),
    (numpy_like("bool"), TypeError, "object of type '<class 'numpy.bool'>' does not define a '__bool__' conversion"),
])
def test_flag_refusals(flag, error, message):
    assert failure(q.rank_weights, [1.0, 2.0], flag) == (error, message, noted("ascending"))


def test_numpy_booleans():
    np = pytest.importorskip("numpy")
    assert (q.rank_weights([1.0, 2.0], np.True_), q.rank_weights([1.0, 2.0], np.bool_(False))) == (UP, DOWN)
    assert failure(q.rank_weights, [1.0], np.int64(1)) == (
        TypeError, "'int64' object is not an instance of 'bool'", noted("ascending"))


def test_numpy_arrays_read_as_their_iteration_would():
    np = pytest.importorskip("numpy")

    def outcome(function, *args):
        try:
            return repr(function(*args))  # repr tells -0.0 from 0.0
        except Exception as exc:
            return type(exc), str(exc), getattr(exc, "__notes__", None)

    rng = np.random.default_rng(5)
    v = rng.standard_normal(9)
    v[[1, 4, 6]] = [-0.0, np.nan, np.inf]
    m = rng.standard_normal((6, 6))
    m[2, 3] = np.nan
    for x in [v, v[::-2], v.astype(">f8"), v.astype(np.float32), v[:4].astype(np.int64), np.empty(0),
              m[:, 1], np.asfortranarray(m)[2]]:
        as_list = list(x) if x.ndim else x
        ones = [1.0] * len(as_list) if x.ndim else []
        assert outcome(q.factor_return_decomposition, x, ones) == outcome(
            q.factor_return_decomposition, as_list, ones)
    for matrix in [m @ m.T, np.asfortranarray(m @ m.T), (m @ m.T)[::2, ::2], np.empty((0, 2))]:
        rows = [list(row) if matrix.ndim == 2 else row for row in matrix]
        for function in (q.minimum_variance_weights, q.hierarchical_risk_parity_weights):
            assert outcome(function, matrix) == outcome(function, rows)
