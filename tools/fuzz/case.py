"""A whole case: the state one case builds, its arguments drawn in
parameter order, how they are passed, and how the call is written down for
a reproducer."""

from __future__ import annotations

import math
import random

from . import imports
from .arrays import safe_tolist
from .generators import (big_matrix, count_value, flag_value, float_value, matrix, signed_value, strided_view,
                         text_value, vector)
from .hostile import HList, HTuple, Hostile
from .interludes import arm, late_code_case
from .signatures import VIEW
from .values import short


class Case:
    """Everything one case builds: the call, its notes, and the log."""

    def __init__(self, seed: int, number: int, options, rng=None):
        self.seed, self.number, self.options = seed, number, options
        self.rng = rng if rng is not None else random.Random(f"{seed}:{number}")
        self.raised: list = []      # (hook, exception) in the order raised
        self.notes: dict = {}       # id(object) -> description
        self.keep: list = []        # keeps described objects alive
        self.hostile = False        # any code of ours can run during the call
        self.args: list = []        # the argument values, in parameter order
        self.references: dict = {}  # parameter index -> the same numbers as nested lists
        self.features: set = set()
        self.hostility = 0.0
        self.fp_before = None       # the caller's MXCSR for the call (interludes)
        self.showwarning = None     # a showwarning for the call's duration
        self.signal = None          # (handler, delay, text, changes the state)
        self.collection = None      # (gc callback, text): Python code run by a collection
        self.late = None            # (kind, reference values) of a late-code case

    def note(self, obj, text: str):
        self.notes[id(obj)] = text
        self.keep.append(obj)
        return obj


def build_case(entries, seed, number, options, rng=None) -> tuple:
    """Returns (case, name, args, kwargs) for a call of one of `entries`
    (signatures.entry_points). Deterministic in (seed, number), or in the
    choices of the given random source."""
    case = Case(seed, number, options, rng)
    rng = case.rng
    if rng.random() < 0.04:
        late = late_code_case(case, entries, rng)
        if late is not None:
            name, values = late
            case.args = values
            case.call_args, case.call_kwargs = tuple(values), {}
            return case, name, tuple(values), {}
    name = rng.choice(tuple(entries))
    params = entries[name].parameters
    # A third of the cases carry no hostile items at all; the rest carry some.
    clean = rng.random() < 0.35
    case.hostility = 0.0 if clean else rng.choice((0.02, 0.1, 0.3))
    n = rng.choice((1, 1, 2, 2, 3, 3, 4, 5, 6, 8)) if rng.random() < 0.97 else 0
    big = rng.random() < 0.008
    if big:
        n = 200
        case.features.add("200x200")
    values = []
    lengths = {}  # parameter -> the length drawn for it
    names = [p for p, _ in params]
    # Half the calls that lay a view over `values` get one fitted to the
    # length drawn for those values; the others, offsets, strides and sizes
    # drawn one by one.
    view = {} if set(VIEW) <= set(names) and "values" in names and rng.random() < 0.5 else None
    for index, (parameter, kind) in enumerate(params):
        m = n if rng.random() < 0.9 else rng.randint(0, 9)
        lengths[parameter] = 200 if big else m
        if big and kind == "matrix":
            v = big_matrix(200)
            if imports.np is not None and rng.random() < 0.5:
                v = imports.np.array(v, order=rng.choice("CF"))
        elif big and kind == "vector":
            v = [1.0 / 200] * 200
        elif kind == "vector":
            v = vector(case, m, index)
        elif kind == "matrix":
            v = matrix(case, m, index)
        elif kind == "count":
            v = count_value(case)
        elif kind == "iterations":
            v = count_value(case, small_limit=1000, iterations=True)
        elif kind == "float":
            v = float_value(case)
        elif kind == "flag":
            v = flag_value(case)
        elif kind == "signed" and view is not None:
            view = view or strided_view(case, lengths.get("values", n))
            v = view[parameter]
        elif kind == "signed":
            v = signed_value(case, m)
        else:
            v = text_value(case)
        values.append(v)
    case.args = values
    arm(case, n)
    args, kwargs = arrange(case, params, values)
    case.call_args, case.call_kwargs = args, kwargs
    return case, name, args, kwargs


def arrange(case, params, values):
    """Positional, keyword, mixed, or a broken call."""
    rng = case.rng
    names = [p[0] for p in params]
    r = rng.random()
    if r < 0.55:
        return tuple(values), {}
    if r < 0.75:
        order = list(range(len(values)))
        rng.shuffle(order)
        return (), {names[i]: values[i] for i in order}
    if r < 0.88:
        k = rng.randint(0, len(values))
        return tuple(values[:k]), {names[i]: values[i] for i in range(k, len(values))}
    case.features.add("broken call")
    broken = rng.randrange(6)
    if broken == 0 and values:
        return tuple(values[:-1]), {}
    if broken == 1:
        return tuple(values) + (1.0,), {}
    if broken == 2:
        return tuple(values), {rng.choice(("x", "\ud800", "", "values", "count")): 1.0}
    if broken == 3 and values:
        return tuple(values), {names[0]: values[0]}
    if broken == 4:
        return (), {}
    return tuple(values[1:]), {names[0]: values[0]} if values else {}


def describe(case, obj, depth=0):
    if id(obj) in case.notes:
        return case.notes[id(obj)]
    if isinstance(obj, (HList, HTuple, Hostile)):
        try:
            return repr(obj)
        except Exception:
            return f"<{type(obj).__name__}>"
    if depth > 4:
        return "..."
    if type(obj) is list:
        return "[" + ", ".join(describe(case, x, depth + 1) for x in obj) + "]"
    if type(obj) is tuple:
        inner = ", ".join(describe(case, x, depth + 1) for x in obj)
        return "(" + inner + ("," if len(obj) == 1 else "") + ")"
    if type(obj) is float:
        return repr(obj) if math.isfinite(obj) else f"float({repr(obj)!r})"
    if type(obj) is int and abs(obj) >= 2 ** 31:
        return int_text(obj)
    if isinstance(obj, str):
        return short(repr(obj), 80)
    if imports.np is not None and isinstance(obj, imports.np.ndarray):
        return f"{type(obj).__name__}(dtype={obj.dtype.str}, shape={obj.shape}, values={short(safe_tolist(obj))})"
    try:
        return short(repr(obj), 200)
    except Exception:
        return f"<{type(obj).__name__}>"


def describe_call(case, name, args, kwargs):
    parts = [describe(case, a) for a in args]
    parts += [f"**{{{k!r}: {describe(case, v)}}}" if not k.isidentifier() else f"{k}={describe(case, v)}"
              for k, v in kwargs.items()]
    prefix = "quorvel." + name
    around = []
    if case.fp_before is not None:
        around.append(f"MXCSR {case.fp_before:#06x}")
    if case.showwarning is not None:
        around.append(getattr(case.showwarning, "text", "showwarning"))
    if case.signal is not None:
        around.append(case.signal[2])
    if case.collection is not None:
        around.append(case.collection[1])
    if case.late is not None:
        around.append(f"late code: {case.late[0]}")
    return f"{prefix}({', '.join(parts)})" + (f"  [{'; '.join(around)}]" if around else "")
def int_text(value):
    """A big int as Python that says where it lies: 2**63 - 1, -2**62,
    -2**63 - 1; past 64 bits and nowhere near a power of two, its size."""
    sign = "-" if value < 0 else ""
    magnitude = abs(value)
    for power in (magnitude.bit_length() - 1, magnitude.bit_length()):
        step = magnitude - 2 ** power
        if abs(step) <= 2:
            plus, minus = (" + ", " - ") if value > 0 else (" - ", " + ")
            return f"{sign}2**{power}" + (f"{plus}{step}" if step > 0 else f"{minus}{-step}" if step else "")
    return repr(value) if magnitude <= 2 ** 64 else f"{sign}<int of {magnitude.bit_length()} bits>"
