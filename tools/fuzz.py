#!/usr/bin/env python3
"""Hostile-input fuzzing of every quorvel entry point, in child processes.

    python tools/fuzz.py [--seconds 60] [--seed N] [--workers N] [--module-path DIR]
    python tools/fuzz.py --seed N --case K          # replay one case and show it
    python tools/fuzz.py --seed N --cases A-B       # replay a run of cases in one child

Every case is built from (seed, case number) alone, so a case number and a
seed reproduce it exactly. The parent hands out blocks of case numbers to
child interpreters and fails the run when

  * a child is killed by a signal, exits abnormally, or stops making progress
    for --timeout seconds;
  * a call raises SystemError (CPython's word for a NULL without an exception,
    and, on some call paths, for a result returned with an exception set);
  * an exception is still set after a call returned (checked right after every
    call through PyErr_Occurred);
  * an exception raised by an argument's __float__, __index__, __iter__,
    __next__ or __getitem__ (or a numpy-like flag's __bool__) does not come
    out of the call as that very exception: KeyboardInterrupt, SystemExit and
    GeneratorExit included;
  * a successful call returns something of the wrong shape;
  * (--oracle fail) a numeric 1-D buffer given as a vector, or 2-D buffer
    given as a matrix, gives a different outcome from the same numbers as
    nested lists of floats, compared bit for bit.

Only the standard library is needed; numpy and pandas inputs are made when
those are importable.
"""

from __future__ import annotations

import argparse
import collections
import json
import math
import os
import random
import selectors
import signal
import struct
import subprocess
import sys
import tempfile
import time
import warnings

HERE = os.path.abspath(__file__)

# ---------------------------------------------------------------------------
# The entry points: parameter names and the kind of value each one takes.

SIGNATURES = {
    "equal_weights": (("count", "count"),),
    "rank_weights": (("values", "vector"), ("ascending", "flag")),
    "signal_proportional_weights": (("values", "vector"),),
    "target_volatility_weights": (("volatility", "vector"),),
    "minimum_variance_weights": (("covariance", "matrix"),),
    "mean_variance_weights": (("expected_returns", "vector"), ("covariance", "matrix"),
                              ("risk_aversion", "float")),
    "risk_parity_weights": (("covariance", "matrix"), ("max_iter", "iterations"),
                            ("tolerance", "float")),
    "hierarchical_risk_parity_weights": (("covariance", "matrix"),),
    "portfolio_variance": (("weights", "vector"), ("covariance", "matrix")),
    "portfolio_volatility": (("weights", "vector"), ("covariance", "matrix")),
    "risk_contribution": (("weights", "vector"), ("covariance", "matrix")),
    "tracking_error": (("active_weights", "vector"), ("covariance", "matrix")),
    "active_share": (("active_weights", "vector"),),
    "brinson_attribution": (("portfolio_weights", "vector"), ("benchmark_weights", "vector"),
                            ("portfolio_returns", "vector"), ("benchmark_returns", "vector")),
    "factor_return_decomposition": (("exposures", "vector"), ("factor_returns", "vector")),
    "Example": (("value", "text"),),
}
ENTRY_POINTS = tuple(SIGNATURES)

# The shape of a successful result.
RESULT_SHAPES = {
    "equal_weights": "floats", "rank_weights": "floats", "signal_proportional_weights": "floats",
    "target_volatility_weights": "floats", "minimum_variance_weights": "floats",
    "mean_variance_weights": "floats", "risk_parity_weights": "floats",
    "hierarchical_risk_parity_weights": "floats", "portfolio_variance": "float",
    "portfolio_volatility": "float", "risk_contribution": "floats3", "tracking_error": "float",
    "active_share": "float", "brinson_attribution": "float4",
    "factor_return_decomposition": "floats+float", "Example": "example",
}

# Hooks whose exception the library has to let through untouched. An ordinary
# Exception from __len__ only costs the library its size hint, so it may be
# swallowed; an interrupt from __len__ (anything not an Exception) may not.
MUST_PROPAGATE = {"__float__", "__index__", "__iter__", "__next__", "__getitem__",
                  "numpy-like __bool__"}
INTERRUPTS = (KeyboardInterrupt, SystemExit, GeneratorExit)

INF, NAN = math.inf, math.nan
FLOATS = (0.0, -0.0, INF, -INF, NAN, -NAN, 5e-324, -5e-324, 2.2250738585072014e-308, 1e-310,
          1.7976931348623157e308, -1.7976931348623157e308, 1e-14, 1e-12, 1e-18, 1e-300, 1e300,
          1.0, -1.0, 0.5, 2.0 ** 53, 2.0 ** 63, 2.0 ** 64, 0.1, 3.0)
INTS = (0, 1, -1, 2, 7, True, False, 2 ** 31, 2 ** 53 + 1, 2 ** 63 - 1, 2 ** 63, 2 ** 64 - 1,
        2 ** 64, -2 ** 63, -2 ** 63 - 1, -2 ** 64, 2 ** 1000, -2 ** 1000, 10 ** 400, -10 ** 400,
        2 ** 1024 - 2 ** 970, 2 ** 1024 - 2 ** 969)
# Counts whose vector fails at once: beyond what a vector can hold.
HUGE_COUNTS = (2 ** 61, 2 ** 62, 2 ** 63 - 1, 2 ** 63, 2 ** 64 - 1)
# Counts whose allocation is refused by the system allocator (MemoryError).
# An AddressSanitizer build aborts on such a request instead, so they are
# replaced by HUGE_COUNTS there (see --no-big-alloc).
BIG_ALLOC_COUNTS = (2 ** 40, 2 ** 45, 2 ** 53, 2 ** 53 + 1, 2 ** 59)


class CustomError(Exception):
    pass


class CustomBase(BaseException):
    pass


class LookupFailure(LookupError):
    pass


EXCEPTIONS = (ValueError, TypeError, ArithmeticError, ZeroDivisionError, OverflowError,
              RuntimeError, LookupError, KeyError, IndexError, StopIteration, MemoryError,
              RecursionError, AttributeError, BufferError, NotImplementedError, CustomError,
              LookupFailure, DeprecationWarning, UnicodeError)
BASE_EXCEPTIONS = (KeyboardInterrupt, SystemExit, GeneratorExit, CustomBase)


# ---------------------------------------------------------------------------
# Optional third-party modules.

np = None
pd = None


def load_optional(use_numpy: bool, use_pandas: bool) -> None:
    global np, pd
    if use_numpy:
        try:
            import numpy
            np = numpy
        except Exception:
            np = None
    if use_pandas and np is not None:
        try:
            with warnings.catch_warnings():
                warnings.simplefilter("ignore")
                import pandas
            pd = pandas
        except Exception:
            pd = None


# ---------------------------------------------------------------------------
# Hostile objects. Each one belongs to a case, carries its own readable
# description, and logs every exception it raises in the case before raising.


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

    def note(self, obj, text: str):
        self.notes[id(obj)] = text
        self.keep.append(obj)
        return obj


def make_exception(case: Case, kind):
    rng = case.rng
    exc = kind("hostile") if kind is not UnicodeError else UnicodeError("hostile")
    if rng.random() < 0.2:
        exc.__cause__ = KeyError("root")
    if rng.random() < 0.2 and hasattr(exc, "add_note"):
        exc.add_note("earlier note")
    return exc


def pick_exception(case: Case):
    rng = case.rng
    if rng.random() < 0.35:
        return rng.choice(BASE_EXCEPTIONS)
    return rng.choice(EXCEPTIONS)


class Behaviour:
    """What a hook does: return a value, raise, or change something first."""

    __slots__ = ("kind", "value", "exception", "mutation", "text")

    def __init__(self, kind, value=None, exception=None, mutation=None, text=""):
        self.kind, self.value, self.exception, self.mutation, self.text = (
            kind, value, exception, mutation, text)


def run_hook(owner, hook: str, behaviour: Behaviour):
    case = owner._case
    if behaviour.kind == "raise":
        exc = make_exception(case, behaviour.exception)
        case.raised.append((hook, exc))
        raise exc
    if behaviour.kind == "mutate":
        try:
            behaviour.mutation(owner)
        except Exception:
            pass  # a mutation that the target refuses is no error of the call
    value = behaviour.value
    return value() if callable(value) else value


class Hostile:
    _case: Case
    _text = "Hostile"

    def __repr__(self):
        return self._text


class FloatHook(Hostile):
    def __init__(self, case, on_float):
        self._case, self._on_float = case, on_float

    def __float__(self):
        return run_hook(self, "__float__", self._on_float)


class IndexHook(Hostile):
    def __init__(self, case, on_index):
        self._case, self._on_index = case, on_index

    def __index__(self):
        return run_hook(self, "__index__", self._on_index)


class BothHook(Hostile):
    def __init__(self, case, on_float, on_index):
        self._case, self._on_float, self._on_index = case, on_float, on_index

    def __float__(self):
        return run_hook(self, "__float__", self._on_float)

    def __index__(self):
        return run_hook(self, "__index__", self._on_index)

    def __bool__(self):
        raise RuntimeError("never asked for truth")


class FloatSubclass(float):
    """A float subclass: its own __float__ must not matter."""

    def __float__(self):
        self._case.raised.append(("float-subclass __float__", None))
        return 42.0

    def __repr__(self):
        return f"FloatSubclass({float.__repr__(self)})"


class IntSubclass(int):
    def __index__(self):
        return 3

    def __float__(self):
        return 1.5

    def __repr__(self):
        return f"IntSubclass({int.__repr__(self)})"


class Truthy(Hostile):
    """An object whose truth raises: nothing should ask for it."""

    def __init__(self, case):
        self._case = case

    def __bool__(self):
        raise CustomError("asked for truth")


class HIter(Hostile):
    """An iterator over items; may raise or change something at one step."""

    def __init__(self, case, items, step, on_step, text):
        self._case, self._items, self._step, self._on_step = case, items, step, on_step
        self._at, self._text = 0, text
        self._owner = None

    def __iter__(self):
        return self

    def __next__(self):
        at = self._at
        self._at += 1
        if at == self._step and self._on_step is not None:
            behaviour = self._on_step
            if behaviour.kind == "raise":
                exc = make_exception(self._case, behaviour.exception)
                if not isinstance(exc, StopIteration):
                    self._case.raised.append(("__next__", exc))
                raise exc
            if behaviour.kind == "mutate":
                try:
                    behaviour.mutation(self._owner or self)
                except Exception:
                    pass
        if at < len(self._items):
            return self._items[at]
        raise StopIteration


class HSeq(Hostile):
    """A sequence by __getitem__ and __len__, either of which may misbehave."""

    def __init__(self, case, items, on_len, on_getitem, getitem_at, text):
        self._case, self._items, self._on_len = case, items, on_len
        self._on_getitem, self._getitem_at, self._text = on_getitem, getitem_at, text

    def __len__(self):
        return run_hook(self, "__len__", self._on_len)

    def __getitem__(self, index):
        if index == self._getitem_at and self._on_getitem is not None:
            behaviour = self._on_getitem
            if behaviour.kind == "raise":
                exc = make_exception(self._case, behaviour.exception)
                if not isinstance(exc, (IndexError, StopIteration)):
                    self._case.raised.append(("__getitem__", exc))
                raise exc
            if behaviour.kind == "mutate":
                try:
                    behaviour.mutation(self)
                except Exception:
                    pass
        return self._items[index]


class HIterSeq(HSeq):
    """A sequence with its own __iter__."""

    def __init__(self, case, items, on_len, on_getitem, getitem_at, on_iter, step, on_step, text):
        super().__init__(case, items, on_len, on_getitem, getitem_at, text)
        self._on_iter, self._step, self._on_step = on_iter, step, on_step

    def __iter__(self):
        got = run_hook(self, "__iter__", self._on_iter)
        if got is not None:
            return got
        it = HIter(self._case, self._items, self._step, self._on_step, "iter")
        it._owner = self
        return it


class IterOnly(Hostile):
    """Iterable but not a sequence: must be refused without being iterated."""

    def __init__(self, case, items):
        self._case, self._items, self._text = case, items, f"IterOnly({items!r})"

    def __iter__(self):
        return iter(self._items)


class HList(list):
    """A list subclass whose __iter__ and __len__ may misbehave."""

    def __iter__(self):
        if self._on_iter is not None:
            got = run_hook(self, "__iter__", self._on_iter)
            if got is not None:
                return got
        return list.__iter__(self)

    def __len__(self):
        if self._on_len is not None:
            return run_hook(self, "__len__", self._on_len)
        return list.__len__(self)

    def __repr__(self):
        return f"HList({list.__repr__(self)}, {self._text})"


class HTuple(tuple):
    def __iter__(self):
        if self._on_iter is not None:
            got = run_hook(self, "__iter__", self._on_iter)
            if got is not None:
                return got
        return tuple.__iter__(self)

    def __repr__(self):
        return f"HTuple({tuple.__repr__(self)}, {self._text})"


def numpy_like_bool(case, name, behaviour):
    """A class named like numpy's boolean scalar, whose __bool__ does anything."""

    def method(self):
        return run_hook(self, "numpy-like __bool__", behaviour)

    cls = type(name, (Hostile,), {"__module__": "numpy", "__bool__": method})
    obj = cls()
    obj._case = case
    obj._text = f"numpy-like {name}(__bool__: {behaviour.text})"
    return obj


# ---------------------------------------------------------------------------
# Behaviours.


def brief(value):
    """repr(), with huge ints shortened."""
    if type(value) is int and abs(value) > 2 ** 64:
        bits = abs(value).bit_length()
        sign = "-" if value < 0 else ""
        return f"{sign}2**{bits - 1}" if abs(value) == 2 ** (bits - 1) else f"{sign}<int of {bits} bits>"
    return repr(value)


def behaviour_raise(case):
    kind = pick_exception(case)
    return Behaviour("raise", exception=kind, text=f"raise {kind.__name__}")


def float_behaviour(case, target=None):
    """What a __float__ does."""
    rng = case.rng
    r = rng.random()
    if r < 0.35:
        value = plain_float(case)
        return Behaviour("return", value=value, text=f"return {brief(value)}")
    if r < 0.62:
        return behaviour_raise(case)
    if r < 0.72:
        value = rng.choice((1, "x", None, 1j, FloatSubclass(2.5), True, 2 ** 2000))
        if isinstance(value, FloatSubclass):
            value._case = case
        return Behaviour("return", value=value, text=f"return {brief(value)}")
    mutation, text = pick_mutation(case, target)
    value = plain_float(case)
    return Behaviour("mutate", value=value, mutation=mutation, text=f"{text}, return {value!r}")


def index_behaviour(case, small=True):
    rng = case.rng
    r = rng.random()
    if r < 0.45:
        value = rng.randint(0, 12) if small else rng.choice(INTS)
        return Behaviour("return", value=value, text=f"return {brief(value)}")
    if r < 0.75:
        return behaviour_raise(case)
    if r < 0.9:
        value = rng.choice((1.0, "3", None, -1, -2 ** 70, 2 ** 64, IntSubclass(4)))
        return Behaviour("return", value=value, text=f"return {brief(value)}")
    mutation, text = pick_mutation(case, None)
    value = rng.randint(0, 5)
    return Behaviour("mutate", value=value, mutation=mutation, text=f"{text}, return {value}")


def len_behaviour(case, true_length):
    rng = case.rng
    r = rng.random()
    if r < 0.3:
        value = true_length
    elif r < 0.75:
        value = rng.choice((0, 2 ** 62, -1, 2 ** 64, "3", 1.5, None, true_length + 5, 2 ** 31))
    else:
        return behaviour_raise(case)
    return Behaviour("return", value=value, text=f"__len__ returns {brief(value)}")


def iter_behaviour(case):
    """What a sequence's __iter__ does. A value of None means: the real iterator."""
    rng = case.rng
    r = rng.random()
    if r < 0.5:
        return Behaviour("return", value=None, text="__iter__ ok")
    if r < 0.8:
        b = behaviour_raise(case)
        b.text = "__iter__ " + b.text
        return b
    if r < 0.9:
        value = rng.choice((5, None, "ab"))
        if value is None:
            return Behaviour("return", value=None, text="__iter__ ok")
        return Behaviour("return", value=value, text=f"__iter__ returns {value!r}")
    mutation, text = pick_mutation(case, None)
    return Behaviour("mutate", value=None, mutation=mutation, text=f"__iter__ {text}")


def step_behaviour(case):
    rng = case.rng
    if rng.random() < 0.7:
        b = behaviour_raise(case)
        return b
    mutation, text = pick_mutation(case, None)
    return Behaviour("mutate", mutation=mutation, text=text)


# ---------------------------------------------------------------------------
# Mutations: run inside a hook, on the container being read or on another
# argument of the call. Targets are resolved when the hook runs.


def pick_mutation(case, target):
    rng = case.rng
    where = rng.random()
    if where < 0.5:
        resolve = ("container", None)
        where_text = "its container"
    else:
        index = rng.randrange(4)
        resolve = ("argument", index)
        where_text = f"argument {index}"
    action = rng.choice(("clear", "extend", "replace", "garbage", "nan", "resize", "append_row",
                         "delete_first", "release", "shrink"))
    count = rng.randint(1, 20)
    value = rng.choice((NAN, 1e300, -0.0, 7.0, 5e-324))
    hostile_case = case

    def mutation(owner):
        if resolve[0] == "container":
            targets = getattr(owner, "_containers", ())
        else:
            args = hostile_case.args
            targets = (args[resolve[1] % len(args)],) if args else ()
        for t in targets:
            mutate(t, action, count, value)

    case.hostile = True
    return mutation, f"{action} {where_text}"


def mutate(target, action, count, value):
    if isinstance(target, (list, bytearray)):
        if action == "clear":
            del target[:]
        elif action == "extend":
            target.extend([value] * count if isinstance(target, list) else bytes(count))
        elif action == "replace":
            if isinstance(target, list):
                target[:] = [[value] * count] if target and isinstance(target[0], list) else [value] * count
            else:
                target[:] = bytes(count)
        elif action == "garbage":
            if target and isinstance(target, list):
                target[len(target) // 2] = "garbage"
        elif action == "append_row":
            target.append([value] * count if isinstance(target, list) else 1)
        elif action in ("delete_first", "shrink"):
            if len(target):
                del target[0]
        elif action == "nan" and isinstance(target, list) and target:
            target[0] = value
        return
    if isinstance(target, memoryview):
        if action in ("release", "clear"):
            target.release()
        return
    import array
    if isinstance(target, array.array):
        if action in ("clear", "shrink", "delete_first"):
            del target[:]
        elif action in ("extend", "append_row"):
            target.extend(target[:1] * count)
        return
    if np is not None and isinstance(target, np.ndarray):
        if action in ("nan", "replace", "garbage"):
            try:
                target[...] = value
            except Exception:
                target.flat[0] = 1
        # numpy's own reference check stays on: with refcheck=False numpy
        # frees memory that its own iterators (and any view) still read, and
        # crashes with no library involved at all.
        try:
            if action in ("resize", "clear", "shrink"):
                target.resize((0,) if target.ndim < 2 else (0, 0))
            elif action == "extend":
                target.resize((target.size + count,))
        except ValueError:
            pass  # referenced elsewhere: numpy refuses, as it should
        return


def attach_container(items, container):
    """Lets the hostile items of a container find the container."""
    for item in items:
        if isinstance(item, Hostile):
            existing = getattr(item, "_containers", ())
            item._containers = existing + (container,)


# ---------------------------------------------------------------------------
# Numbers.


def plain_float(case):
    rng = case.rng
    r = rng.random()
    if r < 0.15:
        return rng.choice(FLOATS)
    if r < 0.3:
        return float(rng.randint(-3, 3))
    return rng.gauss(0.0, 1.0) * 10.0 ** rng.randint(-4, 3)


def odd_number(case):
    """A number of an unusual type, not hostile."""
    rng = case.rng
    r = rng.randrange(14)
    if r == 0:
        return rng.choice(INTS)
    if r == 1:
        return rng.choice((True, False))
    if r == 2:
        v = FloatSubclass(plain_float(case))
        v._case = case
        return v
    if r == 3:
        return IntSubclass(rng.randint(-5, 5))
    if r == 4:
        import fractions
        return fractions.Fraction(rng.randint(-9, 9), rng.randint(1, 9))
    if r == 5:
        import decimal
        return decimal.Decimal(rng.choice(("1.5", "-0", "NaN", "sNaN", "Infinity", "1e400", "-1e-400")))
    if r in (6, 7, 8, 9) and np is not None:
        return numpy_scalar(case)
    if r == 10:
        return rng.choice((1j, complex(1, 0), "1.0", b"1", None, [], (), {}, object()))
    return plain_float(case)


def numpy_scalar(case):
    rng = case.rng
    kind = rng.randrange(12)
    v = plain_float(case)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        if kind == 0:
            return np.float16(v)
        if kind == 1:
            return np.float32(v)
        if kind == 2:
            return np.float64(v)
        if kind == 3:
            return np.longdouble(v)
        if kind == 4:
            return np.int64(rng.choice((0, -1, 2 ** 63 - 1, -2 ** 63, 5)))
        if kind == 5:
            return np.uint64(rng.choice((0, 2 ** 64 - 1, 2 ** 63, 5)))
        if kind == 6:
            return np.bool_(rng.random() < 0.5)
        if kind == 7:
            return np.complex128(complex(v, rng.choice((0.0, 1.0))))
        if kind == 8:
            return np.datetime64(rng.randint(0, 10 ** 9), "s")
        if kind == 9:
            return np.timedelta64(rng.randint(-5, 5), "D")
        if kind == 10:
            return np.int8(rng.randint(-128, 127))
        return np.array(v)  # a 0-d array


def hostile_number(case, container_target=None):
    """A number whose conversion runs our code."""
    rng = case.rng
    case.hostile = True
    r = rng.random()
    if r < 0.55:
        b = float_behaviour(case)
        obj = FloatHook(case, b)
        obj._text = f"FloatHook(__float__: {b.text})"
    elif r < 0.8:
        b = index_behaviour(case, small=False)
        obj = IndexHook(case, b)
        obj._text = f"IndexHook(__index__: {b.text})"
    else:
        bf, bi = float_behaviour(case), index_behaviour(case, small=False)
        obj = BothHook(case, bf, bi)
        obj._text = f"BothHook(__float__: {bf.text}; __index__: {bi.text})"
    return obj


def element(case):
    """One item of a vector."""
    rng = case.rng
    r = rng.random()
    if r < case.hostility:
        return hostile_number(case)
    if r < case.hostility + 0.06:
        return odd_number(case)
    return plain_float(case)


# ---------------------------------------------------------------------------
# Containers.


def size(case):
    rng = case.rng
    r = rng.random()
    if r < 0.08:
        return 0
    if r < 0.7:
        return rng.randint(1, 4)
    return rng.randint(5, 12)


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


# ---- numpy arrays ------------------------------------------------------------

NUMERIC_DTYPES = ("float16", "float32", "float64", ">f8", "<f8", ">f4", "int8", "int16", "int32",
                  "int64", ">i4", ">i8", "uint8", "uint16", "uint32", "uint64", ">u8", "bool")
OTHER_DTYPES = ("longdouble", "complex64", "complex128", "clongdouble", "object",
                "datetime64[s]", "timedelta64[ns]", "U3", "S3", "structured", "V8")


def values_for_dtype(case, dtype, count):
    rng = case.rng
    kind = dtype.kind
    if kind == "b":
        return [rng.random() < 0.5 for _ in range(count)]
    if kind in "iu":
        info = np.iinfo(dtype)
        edge = (int(info.min), int(info.max), 0, 1, -1 if kind == "i" else 2)
        return [rng.choice(edge) if rng.random() < 0.3 else rng.randint(max(int(info.min), -50), min(int(info.max), 50))
                for _ in range(count)]
    if kind == "f":
        out = []
        for _ in range(count):
            v = plain_float(case)
            if dtype.itemsize < 8 and rng.random() < 0.2:
                v = rng.choice((65504.0, 6e-8, 1e-40, 3.4e38, 1e39))
            out.append(v)
        return out
    if kind == "c":
        return [complex(plain_float(case), rng.choice((0.0, 1.0, NAN))) for _ in range(count)]
    if kind == "M":
        return [rng.randint(0, 10 ** 9) for _ in range(count)]
    if kind == "m":
        return [rng.randint(-10 ** 6, 10 ** 6) for _ in range(count)]
    if kind == "U":
        return [rng.choice(("1.5", "x", "nan", "")) for _ in range(count)]
    if kind == "S":
        return [rng.choice((b"1", b"x", b"")) for _ in range(count)]
    if kind == "O":
        return [element(case) for _ in range(count)]
    return [None] * count


def make_dtype(name):
    if name == "structured":
        return np.dtype([("a", "<f8"), ("b", "<i4")])
    return np.dtype(name)


_user_array = []


def user_array_class():
    """A plain ndarray subclass of the user's own (made once numpy is loaded)."""
    if not _user_array:
        _user_array.append(type("UserArray", (np.ndarray,), {}))
    return _user_array[0]


def numpy_array(case, shape, numeric_only=False):
    """An ndarray of the given shape, of any dtype and layout. Returns
    (array, description, oracle_ok)."""
    rng = case.rng
    if numeric_only or rng.random() < 0.75:
        dtype_name = rng.choice(NUMERIC_DTYPES)
    else:
        dtype_name = rng.choice(OTHER_DTYPES)
    dtype = make_dtype(dtype_name)
    count = math.prod(shape)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        if dtype.kind == "V":
            base = np.zeros(count, dtype=dtype)
        elif dtype.kind in "Mm":
            base = np.array(values_for_dtype(case, dtype, count), dtype="int64").astype(dtype)
        elif dtype.kind == "O":
            base = np.empty(count, dtype=object)
            for i, v in enumerate(values_for_dtype(case, dtype, count)):
                base[i] = v
        else:
            base = np.array(values_for_dtype(case, dtype, count), dtype=dtype)
    layout = rng.choice(("C", "C", "F", "strided", "reversed", "broadcast", "transposed"))
    if layout == "C" or len(shape) == 0:
        arr = base.reshape(shape)
        layout = "C"
    elif layout == "F":
        arr = np.asfortranarray(base.reshape(shape))
    elif layout == "strided":
        wide = np.empty(shape[:-1] + (shape[-1] * 2,), dtype=dtype)
        wide[..., ::2] = base.reshape(shape)
        arr = wide[..., ::2]
    elif layout == "reversed":
        arr = base.reshape(shape)[::-1]
        if len(shape) > 1:
            arr = arr[:, ::-1]
    elif layout == "broadcast":
        arr = np.broadcast_to(base.reshape(shape)[:1] if shape[0] else base.reshape(shape), shape)
    else:  # transposed: C order read as its transpose
        arr = base.reshape(shape[::-1]).T
    if rng.random() < 0.15 and arr.flags.writeable:
        arr.setflags(write=False)
    subclass = "ndarray"
    r = rng.random()
    if r < 0.06:
        arr = arr.view(user_array_class())
        subclass = "UserArray"
    elif r < 0.09 and arr.ndim == 2:
        arr = np.asmatrix(arr)
        subclass = "matrix"
    elif r < 0.11 and dtype.kind in "fiub":
        arr = np.ma.masked_array(arr, mask=[rng.random() < 0.3 for _ in range(arr.size)])
        subclass = "masked"
    oracle_ok = dtype_name in NUMERIC_DTYPES and subclass in ("ndarray", "UserArray")
    text = (f"{subclass}(dtype={dtype.str if dtype.kind != 'V' or dtype.names is None else dtype.descr}, "
            f"shape={arr.shape}, strides={arr.strides}, layout={layout}, "
            f"writeable={arr.flags.writeable}, values={short(safe_tolist(arr))})")
    case.note(arr, text)
    case.features.add(f"numpy {'numeric' if dtype_name in NUMERIC_DTYPES else 'other'} {arr.ndim}-D")
    return arr, oracle_ok


def safe_tolist(arr):
    try:
        return arr.tolist()
    except Exception as exc:
        return f"<tolist failed: {type(exc).__name__}>"


def short(value, limit=300):
    text = repr(value) if not isinstance(value, str) else value
    return text if len(text) <= limit else text[:limit] + "..."


def floats_of(nested):
    if isinstance(nested, list):
        return [floats_of(x) for x in nested]
    return float(nested)


ARRAY_CODES = "bBuhHiIlLqQfd"


def array_array(case, items_count):
    import array
    rng = case.rng
    code = rng.choice(ARRAY_CODES)
    if code == "u":
        arr = array.array(code, "".join(rng.choice("1x.") for _ in range(items_count)))
        return case.note(arr, f"array.array('u', {arr.tolist()!r})"), False
    itemsize = array.array(code).itemsize
    if code in "fd":
        values = [plain_float(case) for _ in range(items_count)]
    else:
        signed = code.islower()
        bits = itemsize * 8
        lo, hi = (-(2 ** (bits - 1)), 2 ** (bits - 1) - 1) if signed else (0, 2 ** bits - 1)
        values = [rng.choice((lo, hi, 0, 1)) if rng.random() < 0.3 else rng.randint(max(lo, -9), min(hi, 9))
                  for _ in range(items_count)]
    arr = array.array(code, values)
    case.features.add("array.array")
    return case.note(arr, f"array.array({code!r}, {short(arr.tolist())})"), True


def memoryview_of(case, shape):
    """A memoryview with the given shape (1-D or 2-D), of many formats and
    layouts. Returns (view, reference or None)."""
    rng = case.rng
    import array
    count = math.prod(shape)
    r = rng.random()
    if np is not None and r < 0.5:
        arr, _ = numpy_array(case, shape, numeric_only=rng.random() < 0.8)
        if type(arr) is not np.ndarray:
            arr = np.asarray(arr)
        try:
            view = memoryview(arr)
        except Exception:
            view = memoryview(b"")
        reference = None
    elif r < 0.75:
        code = rng.choice("dfqlbBH")
        values = ([plain_float(case) for _ in range(count)] if code in "fd"
                  else [rng.randint(0, 100) for _ in range(count)])
        raw = array.array(code, values).tobytes()
        if len(shape) == 2 and count:
            view = memoryview(raw).cast("B").cast(code, list(shape))
        else:
            view = memoryview(raw).cast("B").cast(code)
    else:
        arr, _ = array_array(case, count)
        view = memoryview(arr)
        if len(shape) == 2 and count and arr.typecode != "u":
            try:
                view = view.cast("B").cast(arr.typecode, list(shape))
            except Exception:
                pass
    if rng.random() < 0.1 and view.ndim == 1 and len(view) > 1:
        view = view[::rng.choice((2, -1))]
    reference = None
    if view.format.lstrip("@=<>!") in tuple("bBhHiIlLqQfd?e") and view.ndim in (1, 2):
        try:
            data = np.asarray(view).tolist() if np is not None else view.tolist()
            reference = floats_of(data)
        except Exception:
            reference = None
    released = rng.random() < 0.05
    text = f"memoryview(format={view.format!r}, shape={view.shape}, strides={view.strides}, " \
           f"readonly={view.readonly}, values={short(reference)}{', released' if released else ''})"
    if released:
        view.release()
        reference = None
    case.features.add(f"memoryview {view.ndim if not released else 'released'}")
    return case.note(view, text), reference


def pandas_object(case, kind, n):
    rng = case.rng
    values = [plain_float(case) for _ in range(n)]
    r = rng.randrange(8)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        if kind == "vector" or r < 3:
            if r == 0:
                s = pd.Series(values)
            elif r == 1:
                s = pd.Series([element(case) for _ in range(n)], dtype=object)
            elif r == 2:
                s = pd.Series([rng.randint(-5, 5) for _ in range(n)], dtype=rng.choice(("int64", "Int64", "float32")))
                if n and rng.random() < 0.3:
                    s = s.astype("Float64")
                    s.iloc[0] = pd.NA
            elif r == 3 and n:
                s = pd.Series(values, index=pd.MultiIndex.from_tuples([(i, i * 2) for i in range(n)]))
            elif r in (3, 4):
                s = pd.Series(values, index=[(float(i), 2.0) for i in range(n)])
            elif r == 5:
                s = pd.DataFrame({f"c{i}": values for i in range(min(n, 3))})
            elif r == 6:
                s = pd.Series(["1.5"] * n)
            else:
                s = pd.Series(values, dtype="category")
        else:
            m = [[plain_float(case) for _ in range(n)] for _ in range(n)]
            if r == 3:
                s = pd.DataFrame(m)
            elif r == 4:
                # column labels that are themselves rows of numbers
                s = pd.DataFrame(m, columns=[tuple(row) for row in m] if n else None)
            elif r == 5:
                cols = pd.MultiIndex.from_tuples([tuple(row[:2]) if n > 1 else (1.0, 2.0) for row in m]) if n else None
                s = pd.DataFrame(m, columns=cols)
            elif r == 6:
                s = pd.DataFrame({"a": ["x"] * n, "b": values})
            else:
                s = pd.Series([pd.Series(row) for row in m], dtype=object)
    case.features.add("pandas")
    try:
        shown = short(repr(s), 200)
    except Exception as exc:  # pandas formats the items, which may refuse
        shown = f"<repr failed: {type(exc).__name__}>"
    return case.note(s, f"pandas {type(s).__name__}: {shown}")


# ---- vectors and matrices --------------------------------------------------


def vector(case, n, index):
    """A vector argument of (about) length n."""
    rng = case.rng
    r = rng.random()
    if r < 0.12 and np is not None:
        arr, ok = numpy_array(case, (n,) if rng.random() < 0.85 else rng.choice(((), (n, 1), (1, n), (2, 2, n), (0,))))
        if ok and arr.ndim == 1:
            case.references[index] = floats_of(arr.tolist())
        return arr
    if r < 0.16:
        arr, ok = array_array(case, n)
        if ok:
            case.references[index] = floats_of(arr.tolist())
        return arr
    if r < 0.2:
        view, reference = memoryview_of(case, (n,) if rng.random() < 0.8 else (n, 2))
        if reference is not None and view.ndim == 1:
            case.references[index] = reference
        return view
    if r < 0.22 and pd is not None:
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
    if r < 0.14 and np is not None:
        shape = (n, n) if rng.random() < 0.8 else rng.choice(((n,), (n, n, 1), (0, n), (n, 0), (), (n, n + 1)))
        arr, ok = numpy_array(case, shape)
        if ok and arr.ndim == 2:
            case.references[index] = floats_of(arr.tolist())
        return arr
    if r < 0.19:
        view, reference = memoryview_of(case, (n, n) if rng.random() < 0.8 else (n,))
        if reference is not None and view.ndim == 2:
            case.references[index] = reference
        return view
    if r < 0.21 and pd is not None:
        return pandas_object(case, "matrix", n)
    if r < 0.26:
        return odd_container(case, [element(case) for _ in range(n)])
    numbers = covariance_numbers(case, n)
    rows, row_items = [], []
    for i in range(n):
        rr = rng.random()
        if rr < 0.1 and np is not None:
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
        case.hostile = True
        b = index_behaviour(case, small=True)
        obj = IndexHook(case, b)
        obj._text = f"IndexHook(__index__: {b.text})"
        return obj
    if np is not None and r < 0.94:
        return rng.choice((np.int64(rng.randint(0, 9)), np.uint8(3), np.int8(-1), np.bool_(True),
                           np.float64(2.0), np.array(3), np.uint64(rng.randint(0, 9))))
    return rng.choice((2.0, "3", None, [3], IntSubclass(2), 1j, b"\x03"))


def float_value(case):
    rng = case.rng
    r = rng.random()
    if r < 0.6:
        return plain_float(case)
    if r < 0.75:
        return odd_number(case)
    if r < 0.9:
        return hostile_number(case)
    if np is not None and r < 0.95:
        return rng.choice((np.array([1.0]), np.array([[0.5]]), np.array([1.0, 2.0]), np.float16(1e-8)))
    return rng.choice(("1e-8", None, [1.0], 10 ** 400, -10 ** 400))


def flag_value(case):
    rng = case.rng
    r = rng.random()
    if r < 0.6:
        return rng.random() < 0.5
    if r < 0.7 and np is not None:
        return rng.choice((np.True_, np.False_, np.bool_(1), np.int64(1), np.array(True)))
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


# ---------------------------------------------------------------------------
# A whole case.

def build_case(seed, number, options, rng=None) -> tuple:
    """Returns (case, name, args, kwargs). Deterministic in (seed, number),
    or in the choices of the given random source."""
    case = Case(seed, number, options, rng)
    rng = case.rng
    name = rng.choice(ENTRY_POINTS)
    params = SIGNATURES[name]
    # A third of the cases carry no hostile items at all; the rest carry some.
    clean = rng.random() < 0.35
    case.hostility = 0.0 if clean else rng.choice((0.02, 0.1, 0.3))
    n = rng.choice((1, 1, 2, 2, 3, 3, 4, 5, 6, 8)) if rng.random() < 0.97 else 0
    big = rng.random() < 0.004
    if big:
        n = 200
        case.features.add("200x200")
    values = []
    for index, (_, kind) in enumerate(params):
        m = n if rng.random() < 0.9 else rng.randint(0, 9)
        if big and kind == "matrix":
            v = big_matrix(200)
            if np is not None and rng.random() < 0.5:
                v = np.array(v, order=rng.choice("CF"))
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
        else:
            v = text_value(case)
        values.append(v)
    case.args = values
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


# ---------------------------------------------------------------------------
# Describing a case for a reproducer.


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
    if type(obj) is int and abs(obj) > 2 ** 64:
        bits = abs(obj).bit_length()
        sign = "-" if obj < 0 else ""
        if abs(obj) == 2 ** (bits - 1):
            return f"{sign}2**{bits - 1}"
        return f"{sign}<int of {bits} bits>"
    if isinstance(obj, str):
        return short(repr(obj), 80)
    if np is not None and isinstance(obj, np.ndarray):
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
    return f"{prefix}({', '.join(parts)})"


# ---------------------------------------------------------------------------
# Running one case in the child.


def result_shape_ok(shape, result, module):
    def floats(x):
        return type(x) is list and all(type(v) is float for v in x)

    if shape == "floats":
        return floats(result)
    if shape == "float":
        return type(result) is float
    if shape == "floats3":
        return type(result) is tuple and len(result) == 3 and all(floats(x) for x in result)
    if shape == "float4":
        return type(result) is tuple and len(result) == 4 and all(type(x) is float for x in result)
    if shape == "floats+float":
        return type(result) is tuple and len(result) == 2 and floats(result[0]) and type(result[1]) is float
    if shape == "example":
        return type(result) is module.Example
    return False


def same(a, b):
    """Equality to the bit, any NaN equal to any NaN."""
    if type(a) is not type(b):
        return False
    if type(a) is float:
        if math.isnan(a) and math.isnan(b):
            return True
        return struct.pack("<d", a) == struct.pack("<d", b)
    if type(a) in (list, tuple):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    return a == b


def outcome_text(result, exc):
    if exc is not None:
        return f"{type(exc).__name__}: {exc}"
    return short(repr(result), 400)


class Runner:
    """Child side: builds and runs cases, reports problems."""

    def __init__(self, options, report):
        self.options = options
        self.report = report
        self.module = import_module(options.module_path)
        self.functions = {name: getattr(self.module, name) for name in ENTRY_POINTS}
        import ctypes
        occurred = ctypes.pythonapi.PyErr_Occurred
        occurred.restype = ctypes.c_void_p
        occurred.argtypes = []
        self.occurred = occurred
        self.stats = collections.defaultdict(collections.Counter)
        self.features = collections.Counter()
        self.plant = Plant(options.plant) if options.plant else None
        missing = sorted(set(getattr(self.module, "__all__", ())) - set(ENTRY_POINTS))
        if missing:
            self.report("warn", {"text": f"entry points not fuzzed: {missing}"})

    def call(self, fn, args, kwargs, strict):
        occurred = self.occurred
        if strict:
            warnings.simplefilter("error")
        try:
            result = fn(*args, **kwargs)
            exc = None
        except BaseException as caught:  # everything, interrupts included
            result, exc = None, caught
        try:
            left = occurred()
        except BaseException as leaked:  # ctypes raises an error it finds set
            left = leaked
        if strict:
            warnings.simplefilter("ignore")
        return result, exc, left

    def run(self, number):
        options = self.options
        try:
            case, name, args, kwargs = build_case(options.seed, number, options)
        except Exception as exc:  # a bug of this script, not of the module
            import traceback
            self.report("fail", {"case": number, "entry": "?", "kind": "fuzzer error",
                                 "detail": "".join(traceback.format_exception_only(exc)).strip(),
                                 "log": "\n".join("    | " + line for line in traceback.format_exc().splitlines())})
            return
        problems = self.check(case, name, args, kwargs)
        for kind, detail, *group in problems:
            self.report("fail", {"case": number, "entry": name, "kind": kind, "detail": detail,
                                 "group": group[0] if group else None})

    def check(self, case, name, args, kwargs):
        """Makes the call and returns its problems: (kind, detail[, group])."""
        options = self.options
        fn = self.functions[name]
        if self.plant is not None:
            fn, args, kwargs = self.plant.apply(case, name, fn, args, kwargs)
        strict = case.rng.random() < 0.1
        case.raised.clear()
        result, exc, left = self.call(fn, args, kwargs, strict)
        problems = []
        if left:
            problems.append(("exception left set",
                             f"an exception was still set after the call: "
                             f"{left!r}" if isinstance(left, BaseException) else "PyErr_Occurred() != NULL"))
        if isinstance(exc, SystemError):
            problems.append(("SystemError", f"{type(exc).__name__}: {exc}"))
        must = [(hook, e) for hook, e in case.raised if e is not None and (
            hook in MUST_PROPAGATE or (hook == "__len__" and not isinstance(e, Exception)))]
        if must:
            hook, first = must[0]
            if exc is not first:
                kind = "swallowed interrupt" if isinstance(first, INTERRUPTS) else "exception not propagated"
                problems.append((kind, f"{hook} raised {type(first).__name__}, but the call "
                                       f"{'returned ' + short(repr(result), 100) if exc is None else 'raised ' + type(exc).__name__ + ': ' + str(exc)}"))
        if any(hook == "float-subclass __float__" for hook, _ in case.raised):
            problems.append(("float subclass", "__float__ of a float subclass was called"))
        if exc is None and not problems and not result_shape_ok(RESULT_SHAPES[name], result, self.module):
            problems.append(("bad result", f"result {short(repr(result), 200)} is not {RESULT_SHAPES[name]}"))
        stats = self.stats[name]
        stats["calls"] += 1
        stats["ok" if exc is None else type(exc).__name__] += 1
        for f in case.features:
            self.features[f] += 1
        if case.hostile:
            self.features["hostile"] += 1
        if must:
            self.features["hook raised"] += 1
            if isinstance(must[0][1], INTERRUPTS):
                self.features["interrupt raised"] += 1
        if case.references and not case.hostile and options.oracle != "off":
            self.features["oracle checked"] += 1
            problems.extend(self.oracle(case, name, fn, result, exc, strict))
        if options.verbose:
            number = case.number
            again, n2, a2, k2 = build_case(options.seed, number, options)
            sys.stderr.write(f"case {number}: {describe_call(again, n2, a2, k2)}\n  -> {outcome_text(result, exc)}\n")
            sys.stderr.flush()
        return problems

    def oracle(self, case, name, fn, result, exc, strict):
        values = list(case.args)
        for index, reference in case.references.items():
            values[index] = reference
        args, kwargs = rearrange(case, values)
        result2, exc2, left2 = self.call(fn, args, kwargs, strict)
        if left2:
            return []  # reported through the list call's own cases
        if exc is None and exc2 is None:
            if same(result, result2):
                return []
        elif exc is not None and exc2 is not None:
            if (type(exc), str(exc), getattr(exc, "__notes__", None)) == (
                    type(exc2), str(exc2), getattr(exc2, "__notes__", None)):
                return []
        slots = ", ".join(f"{SIGNATURES[name][i][0]}={case.notes.get(id(case.args[i]), '?').split(', values=')[0]}"
                          for i in sorted(case.references))
        if exc is not None:
            import re
            group = re.sub(r"format \S+", "format F", signature(f"{type(exc).__name__}: {exc}"))
        else:
            group = " + ".join(sorted({buffer_group(case.args[i]) for i in case.references}))
            group += f": {type(exc).__name__ if exc else 'result'} vs {type(exc2).__name__ if exc2 else 'result'}"
        return [("oracle", f"buffers [{slots}] give {outcome_text(result, exc)}; the same numbers "
                           f"as lists give {outcome_text(result2, exc2)}", group)]


def buffer_group(obj):
    """The kind of buffer, for grouping oracle mismatches."""
    if isinstance(obj, memoryview):
        try:
            fmt = obj.format
            native = fmt.lstrip("@") in tuple("bBhHiIlLqQfd?")
            return f"memoryview {obj.ndim}-D {'native' if native else 'non-native ' + repr(fmt)}"
        except ValueError:
            return "memoryview released"
    if np is not None and isinstance(obj, np.ndarray):
        return f"{type(obj).__name__} {obj.ndim}-D {obj.dtype.str}"
    return type(obj).__name__


def rearrange(case, values):
    """The call's own argument arrangement with other values."""
    by_id = {id(v): i for i, v in enumerate(case.args)}
    args = tuple(values[by_id[id(a)]] if id(a) in by_id else a for a in case.call_args)
    kwargs = {k: (values[by_id[id(v)]] if id(v) in by_id else v) for k, v in case.call_kwargs.items()}
    return args, kwargs


class Plant:
    """Faults planted on purpose to show that the run fails on them."""

    KINDS = ("segfault", "systemerror", "result-with-error", "null-without-error", "swallow",
             "hang", "exit", "oracle", "abort", "heap-overflow")

    def __init__(self, kind):
        self.kind = kind

    def apply(self, case, name, fn, args, kwargs):
        kind = self.kind
        if case.number % 97 != 13 and kind not in ("swallow", "oracle"):
            return fn, args, kwargs
        if kind == "segfault":
            import ctypes
            return (lambda *a, **k: ctypes.string_at(0)), args, kwargs
        if kind == "heap-overflow":
            def overflowing(*a, **k):
                # Writes one byte past an 8-byte heap block through libc's
                # memset: AddressSanitizer reports it, a plain build may not.
                import ctypes
                libc = ctypes.CDLL(None)
                libc.malloc.restype = ctypes.c_void_p
                block = libc.malloc(8)
                ctypes.memset(block, 0, 9)
                return fn(*a, **k)
            return overflowing, args, kwargs
        if kind == "abort":
            return (lambda *a, **k: os.abort()), args, kwargs
        if kind == "systemerror":
            def raising(*a, **k):
                raise SystemError("planted")
            return raising, args, kwargs
        if kind in ("result-with-error", "null-without-error"):
            import _testcapi
            # C functions of CPython's own test module that misbehave on purpose
            return getattr(_testcapi, "return_" + kind.replace("-", "_")), (), {}
        if kind == "hang":
            return (lambda *a, **k: time.sleep(10 ** 6)), args, kwargs
        if kind == "exit":
            return (lambda *a, **k: os._exit(3)), args, kwargs
        if kind == "swallow":
            def swallowing(*a, **k):
                hook = FloatHook(case, Behaviour("raise", exception=KeyboardInterrupt, text="raise"))
                try:
                    float(hook)  # as the library converting an item would
                except BaseException:
                    pass  # ... and then forgetting it
                return fn(*a, **k)
            return swallowing, args, kwargs
        if kind == "oracle":
            def skewed(*a, **k):
                # Reads float64 arrays as if their first value had its sign flipped.
                def skew(v):
                    if np is not None and type(v) is np.ndarray and v.dtype == np.float64 and v.ndim == 1 and v.size:
                        w = [float(x) for x in v]
                        w[0] = -w[0]
                        return w
                    return v
                return fn(*[skew(v) for v in a], **{key: skew(v) for key, v in k.items()})
            return skewed, args, kwargs
        return fn, args, kwargs


def import_module(module_path):
    if module_path:
        sys.meta_path[:] = [f for f in sys.meta_path if "editable" not in type(f).__module__.lower()]
        sys.path.insert(0, os.path.abspath(module_path))
    import quorvel
    if module_path and not os.path.abspath(quorvel.__file__).startswith(os.path.abspath(module_path)):
        raise SystemExit(f"fuzz: imported {quorvel.__file__}, not the build in {module_path}")
    return quorvel


def child_main(options):
    out = os.fdopen(options.report_fd, "w", buffering=1) if options.report_fd is not None else sys.stdout

    def report(kind, payload):
        out.write(kind + " " + json.dumps(payload) + "\n")
        out.flush()

    load_optional(not options.no_numpy, not options.no_pandas)
    warnings.simplefilter("ignore")
    runner = Runner(options, report)
    report("ready", {"module": runner.module.__file__, "numpy": np is not None, "pandas": pd is not None})
    last = options.first - 1
    deadline = options.until
    fd = out.fileno()
    for number in range(options.first, options.first + options.count):
        if deadline and time.time() > deadline:
            break
        os.write(fd, b"c %d\n" % number)
        runner.run(number)
        last = number
    report("done", {"last": last, "stats": {k: dict(v) for k, v in runner.stats.items()},
                    "features": dict(runner.features)})
    out.flush()
    os._exit(0)  # no teardown: hostile objects may still be about


def describe_main(options):
    load_optional(not options.no_numpy, not options.no_pandas)
    warnings.simplefilter("ignore")
    for number in range(options.first, options.first + options.count):
        case, name, args, kwargs = build_case(options.seed, number, options)
        print(f"case {number}: {describe_call(case, name, args, kwargs)}")


# ---------------------------------------------------------------------------
# The parent.


class Child:
    def __init__(self, first, count, proc, log, reader):
        self.first, self.count, self.proc, self.log, self.reader = first, count, proc, log, reader
        self.current = None
        self.last_progress = time.monotonic()
        self.buffer = b""
        self.done = None
        self.ready = None
        self.hung = False


def child_environment(options):
    env = dict(os.environ)
    env.setdefault("PYTHONFAULTHANDLER", "1")
    return env


def uses_asan(env):
    return "asan" in env.get("LD_PRELOAD", "") or "ASAN_OPTIONS" in env


def child_command(options, first, count, until, fd, verbose=False):
    cmd = [sys.executable, HERE, "--child", "--seed", str(options.seed), "--first", str(first),
           "--count", str(count), "--until", repr(until), "--report-fd", str(fd),
           "--oracle", options.oracle]
    cmd += common_flags(options)
    if verbose:
        cmd.append("--verbose")
    return cmd


def common_flags(options):
    flags = []
    if options.module_path:
        flags += ["--module-path", options.module_path]
    if options.plant:
        flags += ["--plant", options.plant]
    if not options.big_alloc:
        flags.append("--no-big-alloc")
    if options.no_numpy:
        flags.append("--no-numpy")
    if options.no_pandas:
        flags.append("--no-pandas")
    return flags


def reproducer(options, number):
    base = [os.path.relpath(HERE) if not os.path.isabs(sys.argv[0]) else HERE, "--seed", str(options.seed),
            "--case", str(number)] + common_flags(options)
    return "python " + " ".join(base)


def start_child(options, first, count, until, verbose=False):
    read_fd, write_fd = os.pipe()
    log = tempfile.TemporaryFile()
    cmd = child_command(options, first, count, until, write_fd, verbose)
    proc = subprocess.Popen(cmd, stdin=subprocess.DEVNULL, stdout=log if not verbose else None,
                            stderr=log if not verbose else None, pass_fds=(write_fd,),
                            env=child_environment(options))
    os.close(write_fd)
    os.set_blocking(read_fd, False)
    return Child(first, count, proc, log, read_fd)


def signal_name(code):
    try:
        return signal.Signals(-code).name
    except ValueError:
        return f"signal {-code}"


def log_tail(child, lines=40):
    try:
        child.log.seek(0)
        text = child.log.read().decode("utf-8", "replace")
    except Exception:
        return ""
    kept = text.strip().splitlines()[-lines:]
    return "\n".join("    | " + line for line in kept)


SANITIZER_MARKS = ("ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:",
                   "ERROR: UndefinedBehaviorSanitizer")


def sanitizer_report(child, lines=30):
    """The start of the first sanitizer report in the child's output, if any."""
    try:
        child.log.seek(0)
        text = child.log.read().decode("utf-8", "replace").splitlines()
    except Exception:
        return ""
    for i, line in enumerate(text):
        if any(mark in line for mark in SANITIZER_MARKS):
            return "\n".join("    | " + x for x in text[i:i + lines])
    return ""


class Parent:
    def __init__(self, options):
        self.options = options
        self.failures = collections.OrderedDict()  # signature -> [record, repeats]
        self.stats = collections.defaultdict(collections.Counter)
        self.features = collections.Counter()
        self.cases_done = 0
        self.children_started = 0
        self.ready_info = None
        self.oracle_mismatches = 0

    def record(self, record):
        if record["kind"] == "oracle" and self.options.oracle == "report":
            self.oracle_mismatches += 1
        if record.get("group"):
            key = (record["kind"], "*", record["group"])
        else:
            key = (record["kind"], record["entry"], signature(record["detail"]))
        if key in self.failures:
            self.failures[key][1] += 1
        else:
            self.failures[key] = [record, 1]

    def failing(self):
        return [r for r, _ in self.failures.values()
                if not (r["kind"] == "oracle" and self.options.oracle == "report")]

    def run(self, blocks, until, verbose=False):
        """Runs the given blocks of cases, or (blocks None) fresh blocks
        until the deadline. A crashed child's unfinished block goes on in a
        fresh child."""
        options = self.options
        selector = selectors.DefaultSelector()
        pending = collections.deque(blocks or ())
        fresh = blocks is None
        next_case = options.start
        running = []

        def next_block():
            nonlocal next_case
            if until and time.time() > until:
                return None
            if pending:
                return pending.popleft()
            if not fresh:
                return None
            first = next_case
            next_case += options.batch
            return first, options.batch

        while True:
            while len(running) < options.workers and len(self.failing()) < options.max_failures:
                block = next_block()
                if block is None:
                    break
                child = start_child(options, block[0], block[1], until, verbose)
                self.children_started += 1
                selector.register(child.reader, selectors.EVENT_READ, child)
                running.append(child)
            if not running:
                break
            for key, _ in selector.select(timeout=0.5):
                child = key.data
                try:
                    chunk = os.read(child.reader, 65536)
                except BlockingIOError:
                    continue
                if chunk:
                    child.buffer += chunk
                    child.last_progress = time.monotonic()
                    *lines, child.buffer = child.buffer.split(b"\n")
                    for line in lines:
                        self.message(child, line.decode())
                    continue
                selector.unregister(child.reader)
                os.close(child.reader)
                self.finish(child)
                running.remove(child)
                if child.done is None and child.current is not None:
                    rest = child.first + child.count - child.current - 1
                    if rest > 0 and fresh:
                        pending.append((child.current + 1, rest))
            now = time.monotonic()
            for child in running:
                if not child.hung and now - child.last_progress > options.timeout:
                    child.proc.kill()  # our own child, by its pid
                    child.hung = True

    def message(self, child, line):
        kind, _, payload = line.partition(" ")
        if kind == "c":
            child.current = int(payload)
            return
        data = json.loads(payload)
        if kind == "ready":
            child.ready = data
            self.ready_info = self.ready_info or data
        elif kind == "fail":
            self.record(data)
        elif kind == "done":
            child.done = data
            self.cases_done += data["last"] - child.first + 1
            for entry, counts in data["stats"].items():
                self.stats[entry].update(counts)
            self.features.update(data["features"])
        elif kind == "warn":
            if not getattr(self, "warned", False):
                print("fuzz: " + data["text"], file=sys.stderr)
                self.warned = True

    def finish(self, child):
        code = child.proc.wait()
        report = sanitizer_report(child)
        if child.done is not None and code == 0:
            if report:  # e.g. UBSan without halt_on_error carries on
                self.record({"case": child.done["last"], "entry": "?", "kind": "sanitizer report",
                             "detail": report.splitlines()[0].strip(" |"), "log": report,
                             "block": [child.first, child.done["last"]]})
            return
        if child.current is None:
            detail = f"child exited with {code} before running a case"
            self.record({"case": child.first, "entry": "?", "kind": "child failed", "detail": detail,
                         "log": log_tail(child)})
            return
        self.cases_done += child.current - child.first
        if child.hung:
            kind, detail = "hang", f"no progress for {self.options.timeout} s"
        elif report:
            kind, detail = "sanitizer report", report.splitlines()[0].strip(" |")
        elif code < 0:
            kind, detail = "crash", f"killed by {signal_name(code)}"
        else:
            kind, detail = "abnormal exit", f"exit status {code}"
        self.record({"case": child.current, "entry": "?", "kind": kind, "detail": detail,
                     "log": report or log_tail(child), "block": [child.first, child.current]})


def signature(detail):
    """Groups failures that differ only in numbers."""
    import re
    text = re.sub(r"-?\d+(\.\d+)?(e[-+]?\d+)?", "N", detail)
    text = re.sub(r"values=\[[^\]]*\]*", "", text)
    return text[:160]


def parse_range(text):
    if "-" in text:
        a, b = text.split("-", 1)
        return int(a), int(b) - int(a) + 1
    return int(text), 1


def describe_cases(options, first, count):
    cmd = [sys.executable, HERE, "--describe", "--seed", str(options.seed), "--first", str(first),
           "--count", str(count)] + common_flags(options)
    try:
        done = subprocess.run(cmd, capture_output=True, text=True, timeout=120,
                              env=child_environment(options))
        return done.stdout.strip() or done.stderr.strip()[-2000:]
    except Exception as exc:
        return f"(could not describe: {exc})"


def print_summary(parent, options, elapsed):
    """Prints the calls made and their outcomes; returns the number of calls."""
    total_calls = sum(c["calls"] for c in parent.stats.values())
    print(f"fuzz: seed {options.seed}, {total_calls} calls in {elapsed:.1f} s "
          f"({total_calls / max(elapsed, 1e-9):.0f}/s), {parent.children_started} children, "
          f"{options.workers} worker(s)")
    if parent.ready_info:
        info = parent.ready_info
        print(f"fuzz: module {info['module']} (numpy: {info['numpy']}, pandas: {info['pandas']})")
    for entry in ENTRY_POINTS:
        counts = parent.stats.get(entry, collections.Counter())
        calls = counts.get("calls", 0)
        outcomes = sorted(((v, k) for k, v in counts.items() if k != "calls"), reverse=True)
        shown = ", ".join(f"{k} {v}" for v, k in outcomes[:5])
        print(f"  {entry:34s} {calls:7d}  {shown}")
    if parent.features:
        feats = ", ".join(f"{k} {v}" for k, v in sorted(parent.features.items()))
        print(f"fuzz: inputs: {feats}")
    return total_calls


def print_failures(parent, options):
    shown = 0
    for (kind, entry, _), (record, repeats) in parent.failures.items():
        if record["kind"] == "oracle" and options.oracle == "report":
            label = "ORACLE MISMATCH (reported, not failing)"
        else:
            label = "FAILURE"
        shown += 1
        print(f"\n{label} {shown}: {kind} in {entry} (seed {options.seed}, case {record['case']}"
              f"{f', seen {repeats} times' if repeats > 1 else ''})")
        print(f"  {record['detail']}")
        print("  call: " + describe_cases(options, record["case"], 1).replace("\n", "\n  "))
        print(f"  reproduce: {reproducer(options, record['case'])}")
        if record.get("block") and record["block"][0] != record["case"]:
            a, b = record["block"]
            print(f"  if that alone passes (state left by earlier cases): "
                  f"{reproducer(options, a).replace('--case ' + str(a), f'--cases {a}-{b}')}")
        if record.get("log"):
            print("  child output (tail):\n" + record["log"])


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seconds", type=float, default=60.0, help="how long to run (default 60)")
    parser.add_argument("--seed", type=int, default=None, help="seed (default: random, printed)")
    parser.add_argument("--workers", type=int, default=None,
                        help="child processes at a time (default: 2, or 1 on one core)")
    parser.add_argument("--module-path", default=None,
                        help="directory holding the quorvel build to fuzz (put first on sys.path)")
    parser.add_argument("--batch", type=int, default=3000, help="cases per child (default 3000)")
    parser.add_argument("--timeout", type=float, default=30.0,
                        help="seconds without progress before a child counts as hung (default 30)")
    parser.add_argument("--oracle", choices=("fail", "report", "off"), default="fail",
                        help="buffer-versus-list comparison: fail the run, only report, or skip")
    parser.add_argument("--case", type=int, default=None, help="replay this one case, verbosely")
    parser.add_argument("--cases", default=None, help="replay cases A-B in one child, verbosely")
    parser.add_argument("--start", type=int, default=0, help="first case number (default 0)")
    parser.add_argument("--max-failures", type=int, default=20, help="stop after this many distinct failures")
    parser.add_argument("--plant", choices=Plant.KINDS, default=None,
                        help="plant a fault on purpose, to see the run fail")
    parser.add_argument("--no-big-alloc", dest="big_alloc", action="store_false", default=None,
                        help="no counts whose allocation the system refuses (set by itself under ASan)")
    parser.add_argument("--no-numpy", action="store_true", help="make no numpy (or pandas) inputs")
    parser.add_argument("--no-pandas", action="store_true", help="make no pandas inputs")
    # Internal: child and describer.
    parser.add_argument("--child", action="store_true", help=argparse.SUPPRESS)
    parser.add_argument("--describe", action="store_true", help=argparse.SUPPRESS)
    parser.add_argument("--first", type=int, default=0, help=argparse.SUPPRESS)
    parser.add_argument("--count", type=int, default=1, help=argparse.SUPPRESS)
    parser.add_argument("--until", type=float, default=0.0, help=argparse.SUPPRESS)
    parser.add_argument("--report-fd", type=int, default=None, help=argparse.SUPPRESS)
    parser.add_argument("--verbose", action="store_true", help=argparse.SUPPRESS)
    options = parser.parse_args(argv)
    if options.big_alloc is None:
        options.big_alloc = not uses_asan(os.environ)
    if options.seed is None and not (options.child or options.describe):
        options.seed = random.SystemRandom().randrange(2 ** 32)
    if options.seed is None:
        options.seed = 0

    if options.child:
        child_main(options)
        return 0
    if options.describe:
        describe_main(options)
        return 0

    if options.workers is None:
        options.workers = 2 if (os.cpu_count() or 1) >= 2 else 1

    parent = Parent(options)
    if options.case is not None or options.cases is not None:
        first, count = (options.case, 1) if options.case is not None else parse_range(options.cases)
        print(f"fuzz: replaying seed {options.seed}, cases {first}..{first + count - 1}")
        options.workers = 1
        parent.run([(first, count)], 0, verbose=True)
        print_failures(parent, options)
        return 1 if parent.failing() else 0

    print(f"fuzz: seed {options.seed}, {options.seconds:g} s, {options.workers} worker(s)"
          f"{', oracle ' + options.oracle}{', planted fault: ' + options.plant if options.plant else ''}")
    sys.stdout.flush()
    begin = time.time()
    parent.run(None, begin + options.seconds)
    elapsed = time.time() - begin
    total_calls = print_summary(parent, options, elapsed)
    print_failures(parent, options)
    failing = parent.failing()
    if parent.oracle_mismatches:
        print(f"\nfuzz: {parent.oracle_mismatches} oracle mismatches reported (--oracle report)")
    if failing:
        print(f"\nfuzz: FAILED with {len(failing)} distinct failure(s); seed {options.seed}")
        return 1
    if total_calls == 0:  # every child stopped (or the time ran out) before its first call
        print("fuzz: FAILED: no case ran")
        return 1
    print(f"fuzz: passed; seed {options.seed}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
