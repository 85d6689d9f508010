"""The checks on a call's outcome, made in the process that makes the call:
crashes aside (the parent sees those), every problem of one call is found
here."""

from __future__ import annotations

import collections
import sys
import warnings

from . import imports
from .case import build_case, describe_call
from .imports import agreement
from .interludes import Armed, caller
from .plant import Plant
from .signatures import entry_points
from .values import short


# Hooks whose exception the library has to let through untouched. An ordinary
# Exception from __len__ only costs the library its size hint, so it may be
# swallowed; an interrupt from __len__ (anything not an Exception) may not.
MUST_PROPAGATE = {"__float__", "__index__", "__iter__", "__next__", "__getitem__",
                  "numpy-like __bool__", "showwarning"}
INTERRUPTS = (KeyboardInterrupt, SystemExit, GeneratorExit)


def outcome_text(result, exc):
    if exc is not None:
        return f"{type(exc).__name__}: {exc}"
    return short(repr(result), 400)


class Runner:
    """Child side: builds and runs cases, reports problems."""

    def __init__(self, options, report):
        self.options = options
        self.report = report
        self.module = imports.import_module(options.module_path)
        self.entries = entry_points(self.module)
        self.functions = {name: getattr(self.module, name) for name in self.entries}
        import ctypes
        occurred = ctypes.pythonapi.PyErr_Occurred
        occurred.restype = ctypes.c_void_p
        occurred.argtypes = []
        self.occurred = occurred
        self.stats = collections.defaultdict(collections.Counter)
        self.features = collections.Counter()
        self.plant = Plant(options.plant) if options.plant else None

    @caller
    def call(self, fn, args, kwargs, strict, case=None):
        """The call's outcome; with a case, inside what surrounds it (the
        caller's floating-point state, a showwarning, a signal handler),
        and then also the Armed record of it."""
        occurred = self.occurred
        armed = Armed(case, strict) if case is not None else None
        if armed is not None:
            armed.__enter__()
        elif strict:
            warnings.simplefilter("error")
        try:
            result = fn(*args, **kwargs)
            exc = None
        except BaseException as caught:  # everything, interrupts included
            result, exc = None, caught
        if armed is not None:
            armed.__exit__()
        try:
            left = occurred()
        except BaseException as leaked:  # ctypes raises an error it finds set
            left = leaked
        if armed is None and strict:
            warnings.simplefilter("ignore")
        return (result, exc, left) if armed is None else (result, exc, left, armed)

    def run(self, number, calling):
        """Builds case `number` and checks its call; `calling(name)` is told
        the entry point just before the call, so that a crash names it."""
        options = self.options
        try:
            case, name, args, kwargs = build_case(self.entries, options.seed, number, options)
        except Exception as exc:  # a bug of this script, not of the module
            import traceback
            self.report("fail", {"case": number, "entry": "?", "kind": "fuzzer error",
                                 "detail": "".join(traceback.format_exception_only(exc)).strip(),
                                 "log": "\n".join("    | " + line for line in traceback.format_exc().splitlines())})
            return
        calling(name)
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
        result, exc, left, armed = self.call(fn, args, kwargs, strict, case)
        problems = []
        lost = armed.state_lost()
        if lost:
            problems.append(("floating-point state not given back", lost))
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
        entry = self.entries[name]
        if exc is None and not problems and not entry.result_ok(result):
            problems.append(("bad result", f"result {short(repr(result), 200)} is not {entry.result}"))
        self.stats[name]["ok" if exc is None else type(exc).__name__] += 1
        for f in case.features:
            self.features[f] += 1
        if case.hostile:
            self.features["hostile"] += 1
        if must:
            self.features["hook raised"] += 1
            if isinstance(must[0][1], INTERRUPTS):
                self.features["interrupt raised"] += 1
        if case.late is not None and not must and options.oracle != "off":
            self.features["late-code oracle checked"] += 1
            problems.extend(self.late_oracle(case, fn, result, exc, strict))
        if case.references and not case.hostile and options.oracle != "off":
            self.features["oracle checked"] += 1
            problems.extend(self.oracle(case, name, fn, result, exc, strict))
        if options.verbose:
            number = case.number
            again, n2, a2, k2 = build_case(self.entries, options.seed, number, options)
            sys.stderr.write(f"case {number}: {describe_call(again, n2, a2, k2)}\n  -> {outcome_text(result, exc)}\n")
            sys.stderr.flush()
        return problems

    def late_oracle(self, case, fn, result, exc, strict):
        """A late-code case must give what its reference gives: the earlier
        array as it was when read, the late object as its number."""
        kind, reference = case.late
        # Under the case's showwarning the module's own warnings were shown,
        # not raised: the reference call lets them pass too.
        result2, exc2, left2 = self.call(fn, tuple(reference), {}, strict and case.showwarning is None)
        if left2 or agreement.agreeing(("ok", comparable(result)) if exc is None else agreement.raised(exc),
                                       ("ok", comparable(result2)) if exc2 is None else agreement.raised(exc2)):
            return []
        return [("value changed after it was read",
                 f"{kind} ran Python code that wrote into an earlier array argument, and the call saw it: "
                 f"{outcome_text(result, exc)}; with the array as read: {outcome_text(result2, exc2)}",
                 f"late code: {kind}")]

    def oracle(self, case, name, fn, result, exc, strict):
        values = list(case.args)
        for index, reference in case.references.items():
            values[index] = reference
        args, kwargs = rearrange(case, values)
        result2, exc2, left2 = self.call(fn, args, kwargs, strict)
        if left2:
            return []  # reported through the list call's own cases
        if agreement.agreeing(("ok", comparable(result)) if exc is None else agreement.raised(exc),
                              ("ok", comparable(result2)) if exc2 is None else agreement.raised(exc2)):
            return []
        slots = ", ".join(f"{self.entries[name].parameters[i][0]}={case.notes.get(id(case.args[i]), '?').split(', values=')[0]}"
                          for i in sorted(case.references))
        if exc is not None:
            import re
            group = re.sub(r"format \S+", "format F", signature(f"{type(exc).__name__}: {exc}"))
        else:
            group = " + ".join(sorted({buffer_group(case.args[i]) for i in case.references}))
            group += f": {type(exc).__name__ if exc else 'result'} vs {type(exc2).__name__ if exc2 else 'result'}"
        return [("oracle", f"buffers [{slots}] give {outcome_text(result, exc)}; the same numbers "
                           f"as lists give {outcome_text(result2, exc2)}", group)]


def comparable(result):
    """A hook's float64 bytes as the floats they hold, so that they compare
    as other results do (any NaN equal to any NaN)."""
    if type(result) is bytes and len(result) % 8 == 0:
        return memoryview(result).cast("d").tolist()
    return result


def buffer_group(obj):
    """The kind of buffer, for grouping oracle mismatches."""
    if isinstance(obj, memoryview):
        try:
            fmt = obj.format
            native = fmt.lstrip("@") in tuple("bBhHiIlLqQfd?")
            return f"memoryview {obj.ndim}-D {'native' if native else 'non-native ' + repr(fmt)}"
        except ValueError:
            return "memoryview released"
    if imports.np is not None and isinstance(obj, imports.np.ndarray):
        return f"{type(obj).__name__} {obj.ndim}-D {obj.dtype.str}"
    return type(obj).__name__


def rearrange(case, values):
    """The call's own argument arrangement with other values."""
    by_id = {id(v): i for i, v in enumerate(case.args)}
    args = tuple(values[by_id[id(a)]] if id(a) in by_id else a for a in case.call_args)
    kwargs = {k: (values[by_id[id(v)]] if id(v) in by_id else v) for k, v in case.call_kwargs.items()}
    return args, kwargs


def signature(detail):
    """Groups failures that differ only in numbers (addresses included)."""
    import re
    text = re.sub(r"0x[0-9a-fA-F]+", "0xN", detail)
    text = re.sub(r"-?\d+(\.\d+)?(e[-+]?\d+)?", "N", text)
    text = re.sub(r"values=\[[^\]]*\]*", "", text)
    return text[:160]
