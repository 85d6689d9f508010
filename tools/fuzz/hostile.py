"""Hostile objects. Each one belongs to a case, carries its own readable
description, and logs every exception it raises in the case before raising.
Their behaviours (return, raise, or change something first) are drawn here
too, and so are the numbers whose conversion runs such code."""

from __future__ import annotations

from typing import TYPE_CHECKING

from . import fpstate, imports
from .mutations import pick_mutation
from .values import INTS, FloatSubclass, IntSubclass, brief, odd_number, plain_float

if TYPE_CHECKING:
    from .case import Case


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


def attach_container(items, container):
    """Lets the hostile items of a container find the container."""
    for item in items:
        if isinstance(item, Hostile):
            existing = getattr(item, "_containers", ())
            item._containers = existing + (container,)


def behaviour_raise(case):
    kind = pick_exception(case)
    return Behaviour("raise", exception=kind, text=f"raise {kind.__name__}")


def float_behaviour(case):
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
    if r < 0.8 and fpstate.available:
        apply, text = fpstate.change(rng.choice(tuple(fpstate.STATES))), "change the floating-point state"
        value = plain_float(case)
        return Behaviour("mutate", value=value, mutation=lambda owner: apply(), text=f"{text}, return {value!r}")
    mutation, text = pick_mutation(case)
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
    mutation, text = pick_mutation(case)
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
    mutation, text = pick_mutation(case)
    return Behaviour("mutate", value=None, mutation=mutation, text=f"__iter__ {text}")


def step_behaviour(case):
    rng = case.rng
    if rng.random() < 0.7:
        b = behaviour_raise(case)
        return b
    mutation, text = pick_mutation(case)
    return Behaviour("mutate", mutation=mutation, text=text)


def index_hook(case, small):
    """An object with only __index__, which does what index_behaviour draws."""
    case.hostile = True
    b = index_behaviour(case, small)
    obj = IndexHook(case, b)
    obj._text = f"IndexHook(__index__: {b.text})"
    return obj


def hostile_number(case):
    """A number whose conversion runs our code."""
    rng = case.rng
    case.hostile = True
    r = rng.random()
    if r < 0.55:
        b = float_behaviour(case)
        obj = FloatHook(case, b)
        obj._text = f"FloatHook(__float__: {b.text})"
    elif r < 0.8:
        obj = index_hook(case, small=False)
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
        number = hostile_number(case)
        if imports.np is not None and rng.random() < 0.15:  # its __float__ reached through numpy's
            wrapper = imports.np.empty((), dtype=object)
            wrapper[()] = number
            case.features.add("0-d object array")
            return case.note(wrapper, f"0-d object array({number!r})")
        return number
    if r < case.hostility + 0.06:
        return odd_number(case)
    return plain_float(case)
