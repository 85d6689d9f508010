"""The arguments of a call, one kind at a time: sequences of every form
(hostile ones included) and things that are barely sequences, vectors and
matrices, counts, floats, flags, texts, and the signed offsets, strides and
sizes of a strided view."""

from __future__ import annotations

from . import imports
from .arrays import array_array, memoryview_of, numpy_array, pandas_object
from .hostile import (Behaviour, FloatHook, HIterSeq, HList, HSeq, HTuple, Hostile, IterOnly, Truthy,
                      attach_container, behaviour_raise, element, float_behaviour, hostile_number,
                      index_hook, iter_behaviour, len_behaviour, numpy_like_bool, step_behaviour)
from .imports import agreement
from .values import BIG_ALLOC_COUNTS, FLOATS, HUGE_COUNTS, INF, NAN, SIGNED_EDGES, IntSubclass, odd_number, plain_float


def wrap_sequence(case, items):
    """Puts items (already made) into one of many sequence forms."""
    rng = case.rng
    r = rng.random()
    if r < 0.55:
        container = list(items)
    elif r < 0.67:
        container = tuple(items)
    elif r < 0.72:
        container = HList(items)
        container._on_iter = iter_behaviour(case) if rng.random() < 0.5 else None
        container._on_len = len_behaviour(case, len(items)) if rng.random() < 0.5 else None
        container._case = case
        container._text = f"iter: {getattr(container._on_iter, 'text', 'plain')}, len: {getattr(container._on_len, 'text', 'plain')}"
        case.hostile = True
    elif r < 0.75:
        container = HTuple(items)
        container._on_iter = iter_behaviour(case)
        container._case = case
        container._text = container._on_iter.text
        case.hostile = True
    elif r < 0.86:
        on_len = len_behaviour(case, len(items))
        on_get = step_behaviour(case) if rng.random() < 0.5 else None
        at = rng.randint(0, max(0, len(items)))
        container = HSeq(case, items, on_len, on_get, at,
                         f"HSeq({items!r}, {on_len.text}, __getitem__[{at}]: {getattr(on_get, 'text', 'ok')})")
        case.hostile = True
    else:
        on_len = len_behaviour(case, len(items))
        on_iter = iter_behaviour(case)
        step = rng.randint(0, max(0, len(items)))
        on_step = step_behaviour(case) if rng.random() < 0.6 else None
        container = HIterSeq(case, items, on_len, None, -1, on_iter, step, on_step,
                             f"HIterSeq({items!r}, {on_len.text}, {on_iter.text}, "
                             f"next[{step}]: {getattr(on_step, 'text', 'ok')})")
        case.hostile = True
    attach_container(items, container)
    return container


def odd_container(case, items):
    """Something that is not a sequence of numbers at all, or barely one."""
    rng = case.rng
    r = rng.randrange(16)
    if r == 0:
        return "".join(str(i % 10) for i in range(len(items)))
    if r == 1:
        return bytes(rng.randrange(256) for _ in items)
    if r == 2:
        return bytearray(rng.randrange(256) for _ in items)
    if r == 3:
        return range(rng.randint(-3, 3), rng.randint(-3, 12), rng.choice((1, 2, -1)))
    if r == 4:
        return {i: v for i, v in enumerate(items)}
    if r == 5:
        return set(x for x in items if type(x) in (float, int, bool))
    if r == 6:
        case.hostile = True  # consumed by the first call
        return (x for x in items)
    if r == 7:
        return None
    if r == 8:
        return rng.choice((5, 2.5, 1j, True))
    if r == 9:
        return case.note(IterOnly(case, items), f"IterOnly({items!r})")
    if r == 10:
        loop = []
        loop.append(loop)
        loop.append(1.0)
        return case.note(loop, "loop = [loop, 1.0]")
    if r == 11:
        return Truthy(case)
    if r == 12:
        return type("Text", (str,), {})("1.5")
    if r == 13:
        return [[x] for x in items]  # one level too deep
    if r == 14:
        return [[[x] for x in items]]  # three levels
    return frozenset({1.0, 2.0})


def vector(case, n, index):
    """A vector argument of (about) length n."""
    rng = case.rng
    r = rng.random()
    if r < 0.12 and imports.np is not None:
        arr, ok = numpy_array(case, (n,) if rng.random() < 0.85 else rng.choice(((), (n, 1), (1, n), (2, 2, n), (0,))))
        if ok and arr.ndim == 1:
            case.references[index] = agreement.iterated(arr)
        return arr
    if r < 0.16:
        arr, ok = array_array(case, n)
        if ok:
            case.references[index] = agreement.iterated(arr)
        return arr
    if r < 0.2:
        view, reference = memoryview_of(case, (n,) if rng.random() < 0.8 else (n, 2))
        if reference is not None and view.ndim == 1:
            case.references[index] = reference
        return view
    if r < 0.22 and imports.pd is not None:
        return pandas_object(case, "vector", n)
    if r < 0.28:
        return odd_container(case, [element(case) for _ in range(n)])
    if r < 0.31:
        n = rng.choice((0, n + 1, max(0, n - 1), 200))
    items = [element(case) for _ in range(n)]
    return wrap_sequence(case, items)


def covariance_numbers(case, n):
    """n x n numbers, mostly covariance-like."""
    rng = case.rng
    kind = rng.randrange(6)
    if kind == 0:
        a = [[rng.gauss(0.0, 1.0) for _ in range(n)] for _ in range(n)]
        return [[sum(a[i][t] * a[j][t] for t in range(n)) + (1e-3 if i == j else 0.0)
                 for j in range(n)] for i in range(n)]
    if kind == 1:
        return [[plain_float(case) if i == j else 0.0 for j in range(n)] for i in range(n)]
    if kind == 2:
        c = rng.choice((1.0, 0.0, 1e-15, -2.0, NAN, INF))
        return [[c] * n for _ in range(n)]
    if kind == 3:
        m = [[0.1 * (i == j) + 0.01 for j in range(n)] for i in range(n)]
        if n:
            i, j = rng.randrange(n), rng.randrange(n)
            m[i][j] = m[j][i] = rng.choice(FLOATS)
        return m
    return [[plain_float(case) for _ in range(n)] for _ in range(n)]


def big_matrix(n):
    return [[(1.0 if i == j else 0.0) + 1e-3 * ((i * 7 + j * 3) % 11) for j in range(n)]
            for i in range(n)]


def matrix(case, n, index):
    """A matrix argument of (about) n x n."""
    rng = case.rng
    r = rng.random()
    if r < 0.14 and imports.np is not None:
        shape = (n, n) if rng.random() < 0.8 else rng.choice(((n,), (n, n, 1), (0, n), (n, 0), (), (n, n + 1)))
        arr, ok = numpy_array(case, shape)
        if ok and arr.ndim == 2:
            case.references[index] = agreement.iterated(arr)
        return arr
    if r < 0.19:
        view, reference = memoryview_of(case, (n, n) if rng.random() < 0.8 else (n,))
        if reference is not None and view.ndim == 2:
            case.references[index] = reference
        return view
    if r < 0.21 and imports.pd is not None:
        return pandas_object(case, "matrix", n)
    if r < 0.26:
        return odd_container(case, [element(case) for _ in range(n)])
    numbers = covariance_numbers(case, n)
    rows, row_items = [], []
    for i in range(n):
        rr = rng.random()
        if rr < 0.1 and imports.np is not None:
            arr, _ = numpy_array(case, (n,))
            rows.append(arr)
            continue
        if rr < 0.13:
            arr, _ = array_array(case, n)
            rows.append(arr)
            continue
        items = [(hostile_number(case) if rng.random() < case.hostility else
                  odd_number(case) if rng.random() < 0.03 else v) for v in numbers[i]]
        if rr < 0.2:
            items = items[: rng.randint(0, n)] if rng.random() < 0.5 else items + [1.0]  # ragged
        elif rr < 0.23:
            rows.append(odd_container(case, items))
            continue
        rows.append(wrap_sequence(case, items))
        row_items.append(items)
    if rng.random() < 0.05:
        rows.append([])
    outer = wrap_sequence(case, rows)
    # A hostile item may also change the matrix that holds its row.
    for items in row_items:
        for item in items:
            if isinstance(item, Hostile):
                item._containers = getattr(item, "_containers", ()) + (outer,)
    return outer


def count_value(case, small_limit=12, iterations=False):
    rng = case.rng
    r = rng.random()
    if r < 0.55:
        return rng.randint(0, small_limit)
    if r < 0.65 and not iterations:
        return rng.choice(HUGE_COUNTS)
    if r < 0.69 and not iterations:
        value = rng.choice(BIG_ALLOC_COUNTS)
        return value if case.options.big_alloc else HUGE_COUNTS[0]
    if r < 0.78:
        return rng.choice((-1, -2 ** 63, 2 ** 64, 2 ** 1000, -10 ** 400, True, False))
    if r < 0.88:
        return index_hook(case, small=True)
    if imports.np is not None and r < 0.94:
        return rng.choice((imports.np.int64(rng.randint(0, 9)), imports.np.uint8(3), imports.np.int8(-1), imports.np.bool_(True),
                           imports.np.float64(2.0), imports.np.array(3), imports.np.uint64(rng.randint(0, 9))))
    return rng.choice((2.0, "3", None, [3], IntSubclass(2), 1j, b"\x03"))


def signed_value(case, n):
    """An offset, a stride or a size of a view over about n values: small,
    at the edges of 64 bits and past them, or something that is not an int."""
    rng = case.rng
    r = rng.random()
    if r < 0.45:
        return rng.randint(-2, n + 2)
    if r < 0.8:
        return rng.choice(SIGNED_EDGES)
    if r < 0.9:
        return index_hook(case, small=False)
    np = imports.np
    if np is not None and r < 0.95:
        return rng.choice((np.int64(-1), np.int64(2 ** 63 - 1), np.uint64(2 ** 64 - 1), np.int8(3), np.bool_(True),
                           np.float64(1.0)))
    return rng.choice((2.0, "3", None, IntSubclass(2), True, 1j))


def strided_view(case, length):
    """offset, row_stride, col_stride, rows and cols (by name) of a view over
    `length` values: inside them, or reaching just one element past either
    end; with a stride whose product with the rows passes 2**63 and wraps
    around to a view that looks inside; or with more rows than memory holds."""
    rng = case.rng
    where = rng.choice(("inside", "past the end", "before the start", "wrapping", "huge"))
    rows, cols = rng.randint(1, 4), rng.randint(1, 3)
    row_stride, col_stride = rng.choice((0, 1, 2, -1, cols, -cols)), rng.choice((0, 1, -1, 2))
    if where == "wrapping":
        k = rng.randint(2, 4)
        rows = 2 ** k + 1
        row_stride = rng.choice((1, -1)) * 2 ** (64 - k) + rng.randint(-1, 1)
    elif where == "huge":
        rows = rng.choice((2 ** 60, 2 ** 61, 2 ** 62, 2 ** 63 - 1) + (BIG_ALLOC_COUNTS[:2] if case.options.big_alloc else ()))
        cols, row_stride = rng.randint(0, 1), rng.choice((0, 1))
    corners = [0, (rows - 1) * row_stride, (cols - 1) * col_stride, (rows - 1) * row_stride + (cols - 1) * col_stride]
    if where == "wrapping":  # where 64-bit arithmetic puts them
        corners = [(c + 2 ** 63) % 2 ** 64 - 2 ** 63 for c in corners]
    low, high = min(corners), max(corners)
    if where == "past the end":
        offset = length - high
    elif where == "before the start":
        offset = -1 - low
    else:
        offset = -low + rng.randint(0, max(0, length - 1 - (high - low)))
    case.features.add(f"view {where}")
    return {"offset": offset, "row_stride": row_stride, "col_stride": col_stride, "rows": rows, "cols": cols}


def float_value(case):
    rng = case.rng
    r = rng.random()
    if r < 0.6:
        return plain_float(case)
    if r < 0.75:
        return odd_number(case)
    if r < 0.9:
        return hostile_number(case)
    if imports.np is not None and r < 0.95:
        return rng.choice((imports.np.array([1.0]), imports.np.array([[0.5]]), imports.np.array([1.0, 2.0]), imports.np.float16(1e-8)))
    return rng.choice(("1e-8", None, [1.0], 10 ** 400, -10 ** 400))


def flag_value(case):
    rng = case.rng
    r = rng.random()
    if r < 0.6:
        return rng.random() < 0.5
    if r < 0.7 and imports.np is not None:
        return rng.choice((imports.np.True_, imports.np.False_, imports.np.bool_(1), imports.np.int64(1), imports.np.array(True)))
    if r < 0.85:
        name = rng.choice(("bool_", "bool", "int8"))
        rr = rng.random()
        if rr < 0.4:
            b = Behaviour("return", value=rng.random() < 0.5, text="return a bool")
        elif rr < 0.55:
            b = Behaviour("return", value=rng.choice((1, None, "yes")), text="return a non-bool")
        else:
            b = behaviour_raise(case)
        case.hostile = True
        return numpy_like_bool(case, name, b)
    return rng.choice((1, 0, None, "True", 1.0, [True], Truthy(case)))


def text_value(case):
    rng = case.rng
    r = rng.random()
    if r < 0.5:
        return rng.choice(("", "a b", "é", "\u20ac" * 3, "x" * 1000, "\x00nul", "💥"))
    if r < 0.6:
        return "\ud800" + rng.choice(("", "tail"))
    if r < 0.7:
        return type("Text", (str,), {"__str__": lambda self: "other"})("sub")
    if r < 0.8:
        return rng.choice((b"bytes", bytearray(b"x"), None, 1, 1.5, ["a"]))
    case.hostile = True
    b = float_behaviour(case)
    obj = FloatHook(case, b)
    obj._text = f"FloatHook(__float__: {b.text})"
    return obj
