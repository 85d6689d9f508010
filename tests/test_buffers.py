"""Numeric buffers (numpy arrays, array.array, memoryview) are read without
iterating them; the numbers must be exactly those that iterating gives."""

import array
import math
import sys

import pytest

import quorvel as q
from agreement import agreeing, iterated, outcome
from model import same

np = pytest.importorskip("numpy")

RNG = np.random.default_rng(7)
FLOATS = ["float64", "float32", "float16", ">f8", "<f4", ">f2"]
INTS = ["int8", "uint8", "int16", ">u2", "int32", "<u4", "int64", ">i8", "uint64", ">u8", "bool"]


def sample(dtype, shape):
    dtype = np.dtype(dtype)
    if dtype.kind == "f":
        values = RNG.standard_normal(shape) * 10.0 ** RNG.integers(-3, 4, shape)
        flat = values.reshape(-1)
        flat[RNG.random(flat.size) < 0.15] = RNG.choice([np.nan, np.inf, -np.inf, 0.0, -0.0])
        return values.astype(dtype)
    if dtype.kind == "b":
        return RNG.random(shape) < 0.5
    info = np.iinfo(dtype)
    values = RNG.integers(info.min, info.max, shape, dtype=dtype.newbyteorder("="), endpoint=True).astype(dtype)
    flat = values.reshape(-1)
    flat[:3] = [info.min, info.max, info.max - 1][: flat.size]  # 2**63 - 1 rounds up to 2**63
    return values


def agree(function, args, as_lists):
    got, want = outcome(function, *args), outcome(function, *as_lists)
    assert agreeing(got, want), (got, want)


def layouts_1d(base):
    yield base
    yield base[::-3]
    yield base[1:2]
    yield base[:0]
    yield np.broadcast_to(base[:1], (5,))


@pytest.mark.parametrize("dtype", FLOATS + INTS)
def test_vectors_read_as_iterated(dtype):
    for x in layouts_1d(sample(dtype, 17)):
        ones = [1.0] * len(x)
        agree(q.factor_return_decomposition, (x, ones), (iterated(x), ones))
        agree(q.active_share, (x,), (iterated(x),))


def layouts_2d(m):
    yield m
    yield np.asfortranarray(m)
    yield m[::-1, ::2][:, : m.shape[0] // 2 + 1][: m.shape[0] // 2 + 1]
    yield m.T
    yield np.broadcast_to(m[0], m.shape)
    yield m[:, :0]
    yield m[:0]


@pytest.mark.parametrize("dtype", FLOATS + INTS)
def test_matrices_read_as_iterated(dtype):
    for m in layouts_2d(sample(dtype, (6, 6))):
        rows = iterated(m)
        w = [0.5, -0.25, 1.0, 0.0, 2.0, 0.125][: len(rows)]
        agree(q.risk_contribution, (w, m), (w, rows))
        agree(q.minimum_variance_weights, (m,), (rows,))
        agree(q.risk_parity_weights, (m, 3, 0.0), (rows, 3, 0.0))


def test_misaligned_and_unaligned_doubles_are_copied_exactly():
    records = np.zeros(7, dtype=[("tag", "u1"), ("value", "<f8")])  # 9-byte records
    records["value"] = sample("float64", 7)
    x = records["value"]
    assert x.strides == (9,)
    agree(q.factor_return_decomposition, (x, [1.0] * 7), (iterated(x), [1.0] * 7))


@pytest.mark.parametrize("code", "bBhHiIlLqQfd")
def test_array_array_every_numeric_typecode(code):
    if code in "fd":
        items = sample("float32" if code == "f" else "float64", 9).tolist()
    else:
        items = [0, 1, 2**7 - 1, 3, 5, 6, 7, 8, 1]
    for x in (array.array(code, items), memoryview(array.array(code, items))):
        as_list = list(map(float, x))
        agree(q.factor_return_decomposition, (x, [1.0] * len(x)), (as_list, [1.0] * len(x)))


@pytest.mark.parametrize("dtype", ["float64", ">i2", "float16", "uint64", "bool"])
def test_memoryviews(dtype):
    m = sample(dtype, (4, 4))
    agree(q.hierarchical_risk_parity_weights, (memoryview(m),), (iterated(m),))  # 2-D: read as rows
    agree(q.active_share, (memoryview(m[1]),), (iterated(m[1]),))
    agree(q.active_share, (memoryview(m[:, 1]),), (iterated(m[:, 1]),))


@pytest.mark.parametrize("value", [
    np.array(["1.5"]), np.array([None, 1.0]), np.array(["2020-01-01"], dtype="datetime64[D]"),
    np.array([1.5], dtype=np.longdouble),
])
def test_arrays_of_other_things_are_iterated(value):
    for function in (q.active_share, q.minimum_variance_weights):
        assert outcome(function, value) == outcome(function, list(value))


VECTOR, MATRIX = "expected a 1-D array of numbers, got ", "expected a 2-D array of numbers, got "


@pytest.mark.parametrize("function, args, message, parameter", [
    (q.active_share, (np.zeros((2, 2, 2)),), VECTOR + "a 3-D array of shape (2, 2, 2)", "active_weights"),
    (q.active_share, (np.zeros(()),), VECTOR + "a 0-D array of shape ()", "active_weights"),
    (q.portfolio_variance, (np.ones((5, 1)), np.eye(5)), VECTOR + "a 2-D array of shape (5, 1)", "weights"),
    (q.portfolio_variance, (np.eye(2), np.ones(2)), VECTOR + "a 2-D array of shape (2, 2)", "weights"),
    (q.portfolio_variance, (np.ones(2), np.ones(2)), MATRIX + "a 1-D array of shape (2,)", "covariance"),
    (q.minimum_variance_weights, (np.ones(3),), MATRIX + "a 1-D array of shape (3,)", "covariance"),
    (q.minimum_variance_weights, (np.zeros((2, 2, 2), dtype=np.int8),), MATRIX + "a 3-D array of shape (2, 2, 2)",
     "covariance"),
    (q.minimum_variance_weights, (array.array("d", [1.0]),), MATRIX + "a 1-D array.array of shape (1,)", "covariance"),
    (q.minimum_variance_weights, (memoryview(np.zeros((1, 2, 3))),), MATRIX + "a 3-D memoryview of shape (1, 2, 3)",
     "covariance"),
    (q.active_share, (memoryview(np.eye(2)),), VECTOR + "a 2-D memoryview of shape (2, 2)", "active_weights"),
    (q.active_share, (np.asarray([[0.1, -0.1]]).view(np.matrix),), VECTOR + "a 2-D numpy.matrix of shape (1, 2)",
     "active_weights"),
    (q.minimum_variance_weights, ([np.eye(2)[0], np.eye(2)],), VECTOR + "a 2-D array of shape (2, 2)", "covariance"),
])
def test_buffers_of_the_wrong_dimension_say_what_was_expected(function, args, message, parameter):
    assert outcome(function, *args) == (TypeError, message, [f"while processing '{parameter}'"])


@pytest.mark.parametrize("value, dtype, noun", [
    (np.array([1 + 2j, 3.0]), "complex128", "array"),
    (np.array([1 + 2j, 3.0], dtype=np.complex64), "complex64", "array"),
    (memoryview(np.array([0j, 1j])), "complex128", "memoryview"),
])
def test_complex_arrays_are_refused_not_truncated(value, dtype, noun):
    message = f"expected real numbers, got a {dtype} {noun}; pass its .real (or abs()) to drop the imaginary parts"
    assert outcome(q.active_share, value) == (TypeError, message, ["while processing 'active_weights'"])
    square = np.diag(np.asarray(value)) if noun == "array" else memoryview(np.diag(np.asarray(value)))
    assert outcome(q.minimum_variance_weights, square) == (TypeError, message, ["while processing 'covariance'"])


@pytest.mark.filterwarnings("ignore::PendingDeprecationWarning")
def test_subclasses_are_iterated():
    class Tagged(np.ndarray):
        def __iter__(self):
            return iter([42.0] * len(self))

    x = np.arange(3.0).view(Tagged)
    assert q.factor_return_decomposition(x, [1.0] * 3)[0] == [42.0] * 3
    # numpy.matrix iterates as 1 x n matrices, never as numbers: it is read
    # by value, as the 2-D array it is.
    m = np.diag([1.0, 4.0]).view(np.matrix)
    assert q.minimum_variance_weights(m) == q.minimum_variance_weights(np.asarray(m)) == [0.8, 0.2]


def test_float64_arrays_are_read_in_place():
    m = np.ascontiguousarray(sample("float64", (64, 64)))
    before = sys.getrefcount(m)
    q.portfolio_variance(np.ones(64), m)
    assert sys.getrefcount(m) == before  # the export was released
    m.resize((32, 32), refcheck=False)  # and nothing holds it any more


class Writer:
    """A number whose conversion writes into an array that an earlier argument
    gave, as hostile or careless code might."""

    def __init__(self, target, value=1.0):
        self.target, self.value = target, value

    def scribble(self):
        self.target[...] = 1e6
        return self.value

    def __float__(self):
        return self.scribble()

    def __index__(self):
        return int(self.scribble())

    def __len__(self):
        self.scribble()
        return 2


def test_later_code_cannot_change_an_earlier_argument():
    cov = [[0.04, 0.01], [0.01, 0.09]]
    w = np.array([0.6, 0.4])
    assert q.portfolio_variance(w, [[0.04, Writer(w, 0.01)], [0.01, 0.09]]) == q.portfolio_variance([0.6, 0.4], cov)
    cases = [  # (function, arguments with a writer aimed at the array c, the same with plain values)
        (q.mean_variance_weights, lambda c: ([1.0, 2.0], c, Writer(c, 2.0)), ([1.0, 2.0], cov, 2.0)),
        (q.risk_parity_weights, lambda c: (c, Writer(c, 5), 1e-12), (cov, 5, 1e-12)),
        (q.rank_weights, lambda c: (c[0], type("bool_", (), {"__module__": "numpy", "__bool__": lambda self:
                                                              Writer(c, True).scribble()})()), (cov[0], True)),
        (q.brinson_attribution, lambda c: (c[0], c[1], type("Seq", (list,), {"__len__": Writer(c).__len__})(
            [1.0, 2.0]), [1.0, 1.0]), (cov[0], cov[1], [1.0, 2.0], [1.0, 1.0])),
    ]
    for function, hostile, plain in cases:
        victim = np.array(cov)
        got, want = outcome(function, *hostile(victim)), outcome(function, *plain)
        assert got[0] == want[0] == "ok" and same(got[1], want[1]), function
        assert victim[0, 0] == 1e6  # the write did happen, after the values were taken


@pytest.mark.parametrize("source", [lambda: np.arange(4.0).astype(">i8"), lambda: array.array("d", [1.0, 2.0])])
def test_released_memoryview(source):
    view = memoryview(source())
    view.release()
    for function, name in ((q.active_share, "active_weights"), (q.minimum_variance_weights, "covariance")):
        assert outcome(function, view) == (
            ValueError, "operation forbidden on released memoryview object", [f"while processing '{name}'"])
