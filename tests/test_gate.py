"""Python code that runs while a call converts its arguments cannot change
what the call has already taken, nor the floating-point state it computes
under: not when a class written in Python runs it, and not when a built-in
type runs it on that class's behalf (a 0-d numpy object array's float()
calls its element's __float__; a numpy conversion may issue a warning, and
warnings run filters and showwarning). Only a closed list of objects is read
without that care: exact floats, ints and bools, exact lists and tuples, and
the buffers of numpy, array.array and memoryview."""

import ctypes
import ctypes.util
import math
import platform
import struct
import sys
import warnings

import pytest

import quorvel as q

np = pytest.importorskip("numpy")

MU = [0.05, 0.06, 0.07]
COV = [[0.04, 0.006, 0.01], [0.006, 0.09, 0.02], [0.01, 0.02, 0.16]]


def bits(result):
    if isinstance(result, (list, tuple)):
        return [bits(x) for x in result]
    return struct.pack("<d", result)


class Hook:
    """A number whose conversion runs `action` first."""

    def __init__(self, value, action):
        self.value, self.action = value, action

    def __float__(self):
        self.action()
        return float(self.value)

    def __index__(self):
        self.action()
        return int(self.value)


def scribble(array):
    def action():
        array[...] = 1e6
    return action


def shrink(array):
    # numpy calls this unsafe: without the reference check it frees the
    # memory of an array that something may still read.
    def action():
        array.resize((0,), refcheck=False)
    return action


# Each wraps a value so that converting it runs `action` through a built-in
# type: a 0-d object array, a 1-element tuple subclass iterated by numpy, a
# heap int subclass whose float() is its own.
WRAPPERS = {
    "0-d object array": lambda value, action: np.array(Hook(value, action), dtype=object),
    "int subclass": lambda value, action: type("Int", (int,), {"__float__": lambda self: Hook(value, action)
                                                               .__float__()})(int(value)),
    "object in a list": lambda value, action: Hook(value, action),
}


@pytest.mark.parametrize("wrap", WRAPPERS.values(), ids=WRAPPERS.keys())
@pytest.mark.parametrize("damage", [scribble, shrink], ids=["write", "resize"])
def test_code_run_by_a_conversion_cannot_touch_an_earlier_argument(wrap, damage):
    plain = q.mean_variance_weights(MU, COV, 2.0)
    victim = np.array(COV)  # read in place: float64, contiguous
    hostile = wrap(2.0, damage(victim))
    assert bits(q.mean_variance_weights(np.array(MU), victim, hostile)) == bits(plain)
    weights = np.array([0.2, 0.3, 0.5])
    row = [0.04, 0.006, wrap(0.01, damage(weights))]
    assert q.portfolio_variance(weights, [row] + COV[1:]) == q.portfolio_variance([0.2, 0.3, 0.5], COV)


def libm():
    found = ctypes.util.find_library("m")
    if sys.platform != "linux" or platform.machine() not in ("x86_64", "AMD64") or found is None:
        pytest.skip("rounding modes are set through glibc's x86-64 constants")
    return ctypes.CDLL(found)


FE_TONEAREST, FE_UPWARD = 0, 0x800


@pytest.mark.parametrize("wrap", WRAPPERS.values(), ids=WRAPPERS.keys())
def test_a_rounding_mode_set_by_a_conversion_is_set_aside(wrap):
    m = libm()
    big = [[1.0 / (i + j + 1) for j in range(8)] for i in range(8)]  # ill-conditioned: rounding shows
    plain = q.minimum_variance_weights(big)
    try:
        hostile = [[*big[0][:-1], wrap(big[0][-1], lambda: m.fesetround(FE_UPWARD))]] + big[1:]
        got = q.minimum_variance_weights(hostile)
        after = m.fegetround()
    finally:
        m.fesetround(FE_TONEAREST)
    assert bits(got) == bits(plain)
    assert after == FE_TONEAREST  # the state the call found, not the one the code left


def showing(action):
    """warnings.showwarning replaced by `action`, every warning shown."""
    class Showing:
        def __enter__(self):
            self.saved = warnings.catch_warnings()
            self.saved.__enter__()
            warnings.simplefilter("always")
            warnings.showwarning = lambda *args, **kwargs: action()
            return self

        def __exit__(self, *exc):
            return self.saved.__exit__(*exc)
    return Showing()


@pytest.mark.parametrize("scalar", [np.complex128(1 + 5j), np.complex64(1 + 5j), np.clongdouble(2j),
                                    np.array(1 + 5j)])
def test_complex_numpy_scalars_are_refused_before_any_warning(scalar):
    dtype = f"complex{scalar.dtype.itemsize * 8}"
    message = f"expected a real number, got a {dtype} scalar; pass its .real (or abs()) to drop the imaginary part"
    shown = []
    victim = np.array(COV)
    with showing(lambda: shown.append(victim.resize((0,), refcheck=False))):
        for function, args, name in [(q.active_share, ([scalar, 1.0],), "active_weights"),
                                     (q.mean_variance_weights, (MU, victim, scalar), "risk_aversion")]:
            with pytest.raises(TypeError) as info:
                function(*args)
            assert (str(info.value), info.value.__notes__) == (message, [f"while processing '{name}'"])
    assert shown == []  # no ComplexWarning: nothing ran


@pytest.mark.parametrize("item", [np.float32(0.1), np.float16(-2.5), np.int64(-(2**62) - 1), np.uint64(2**64 - 1),
                                  np.int8(-7), np.uint16(65535), np.bool_(True), np.array(0.3),
                                  np.array(7, dtype=">i8"), np.longdouble("0.1")])
def test_numpy_scalars_give_what_float_gives(item):
    expected = float(item)
    assert bits(q.factor_return_decomposition([item, 1.0], [1.0, 1.0])[0]) == bits([expected, 1.0])
    assert bits(q.mean_variance_weights([1.0], [[1.0]], item)) == bits(q.mean_variance_weights([1.0], [[1.0]],
                                                                                               expected))


@pytest.mark.parametrize("count, outcome", [
    (np.int64(3), [1 / 3] * 3), (np.uint8(2), [0.5, 0.5]), (np.array(1, dtype=">u2"), [1.0]),
    (np.int64(-1), (OverflowError, "can't convert negative int to unsigned")),
    (np.bool_(True), (TypeError, "'numpy.bool' object cannot be interpreted as an integer")),
    (np.float64(2.0), (TypeError, "'numpy.float64' object cannot be interpreted as an integer")),
    (np.complex128(2), (TypeError, "'numpy.complex128' object cannot be interpreted as an integer")),
])
def test_numpy_integers_are_counts(count, outcome):
    if isinstance(outcome, list):
        assert q.equal_weights(count) == outcome
        return
    with pytest.raises(outcome[0]) as info:
        q.equal_weights(count)
    assert (str(info.value), info.value.__notes__) == (outcome[1], ["while processing 'count'"])


def meta_raising(interrupt):
    class Meta(type):
        @property
        def __module__(cls):
            raise interrupt
    return Meta


@pytest.mark.parametrize("interrupt", [KeyboardInterrupt, SystemExit])
def test_an_interrupt_while_recognising_a_numpy_bool_goes_on(interrupt):
    flag = meta_raising(interrupt)("bool_", (), {})()
    with pytest.raises(interrupt) as info:
        q.rank_weights([1.0, 2.0], flag)
    assert info.value.__notes__ == ["while processing 'ascending'"]
    # An ordinary error there only means "not a numpy bool".
    flag = meta_raising(LookupError)("bool_", (), {})()
    with pytest.raises(TypeError) as info:
        q.rank_weights([1.0, 2.0], flag)
    assert str(info.value) == "'bool_' object is not an instance of 'bool'"


def test_numpy_bools_and_their_imitations_are_flags():
    assert q.rank_weights([1.0, 2.0], np.bool_(False)) == q.rank_weights([1.0, 2.0], False)
    victim = np.array([1.0, 2.0])
    imitation = type("bool_", (), {"__module__": "numpy", "__bool__": lambda self: scribble(victim)() or True})()
    assert q.rank_weights(victim, imitation) == q.rank_weights([1.0, 2.0], True)


@pytest.mark.parametrize("matrix", [
    lambda: [[0.0] * 1_000_000] + [[]] * 999_999,
    lambda: [[0.0] * 1_000_000] + [()] * 999_999,
    lambda: type("Rows", (list,), {})([[0.0] * 1_000_000] + [[]] * 999_999),  # iterated, with a length
])
def test_a_ragged_matrix_with_a_long_first_row_is_ragged_not_too_big(matrix):
    with pytest.raises(ValueError) as info:
        q.minimum_variance_weights(matrix())
    assert str(info.value) == "matrix rows must have equal length"


def imitation_series(values):
    """A class pandas would not know, taken for a Series by its name and
    module, whose to_numpy() gives back itself rather than an array."""
    return type("Series", (), {
        "__module__": "pandas.imitation",
        "values": property(lambda self: list(values)),
        "dtype": type("Dtype", (), {"kind": "f"})(),
        "to_numpy": lambda self, **kwargs: self,
        "__iter__": lambda self: iter(values),
        "__len__": lambda self: len(values),
        "__getitem__": lambda self, i: values[i],
    })()


def test_a_series_imitation_that_gives_back_itself_is_read_once():
    assert q.active_share(imitation_series([0.25, -0.75])) == q.active_share([0.25, -0.75])
    assert q.portfolio_variance([1.0, 1.0], [imitation_series([1.0, 0.5]), [0.5, 2.0]]) == 4.0


class Interrupting:
    """A label whose repr(), needed only for a warning's text, is where an
    interrupt (or an ordinary error) comes."""

    def __init__(self, error):
        self.error = error

    def __repr__(self):
        raise self.error


@pytest.mark.parametrize("error", [KeyboardInterrupt, SystemExit, LookupError])
def test_an_interrupt_while_a_warning_names_a_label_goes_on(error):
    pd = pytest.importorskip("pandas")
    cov = pd.DataFrame([row[:2] for row in COV[:2]], index=["a", "b"],
                       columns=pd.Index(["a", Interrupting(error)], dtype=object))
    with warnings.catch_warnings(record=True) as seen:
        warnings.simplefilter("always")
        if error is LookupError:
            assert q.minimum_variance_weights(cov) == q.minimum_variance_weights(cov.to_numpy())
        else:
            with pytest.raises(error):
                q.minimum_variance_weights(cov)
    expected = ["minimum_variance_weights: the index and the columns of covariance differ at position 1 ('b' and ?); "
                "rows and columns are matched by position, not by label"]
    assert [str(w.message) for w in seen] == (expected if error is LookupError else [])


@pytest.mark.parametrize("interrupt", [KeyboardInterrupt, SystemExit])
def test_an_interrupt_while_a_note_is_added_goes_on(interrupt):
    class Refusal(ValueError):
        def add_note(self, note):
            raise interrupt

    class Failing:
        def __float__(self):
            raise Refusal("no number")

    with pytest.raises(interrupt) as info:
        q.active_share([1.0, Failing()])
    assert isinstance(info.value.__context__, Refusal)
