"""Python code that runs in the middle of a call by ways other than an
argument's own hooks, and what it may do there:

  * a showwarning that raises, calls quorvel again, changes another argument
    or the floating-point state (numpy's ComplexWarning for a complex scalar
    inside an object array, a DeprecationWarning for a __float__ returning a
    float subclass, the module's own RuntimeWarnings);
  * a signal handler run between two steps of a long computation, which
    changes the floating-point state or tries to resize the arrays being read;
  * a collection's callback (gc.callbacks) with the threshold at its lowest,
    which 3.11 runs wherever a call allocates a container (its result list
    among them), and which changes the floating-point state;
  * the caller's own floating-point state: traps unmasked, another rounding
    mode, flush-to-zero (fpstate);
  * late code: a later argument whose conversion runs Python code (a 0-d
    object array holding a hostile number, or a numpy complex scalar under a
    showwarning, or a hostile number itself) and writes into an earlier float64
    array argument. Each argument must keep the values it had when it was
    read, so the call must give what the same call gives with that array
    left as it was (the late-code oracle)."""

from __future__ import annotations

import signal
import sys

from . import fpstate, imports
from .hostile import Behaviour, FloatHook, make_exception, pick_exception
from .mutations import mutate, own_code, pick_mutation
from .values import plain_float


# An asynchronous interlude (a signal handler, a collection's callback) stands
# for code that runs in the middle of the call's own C code: at a signal
# check, or where it allocates. It changes the floating-point state only
# there, that is with the fuzzer's frame that makes the call (Runner.call) on
# top, and the state it sets lasts until the next Python code starts, which
# then finds the default state again. Python code run under unmasked traps
# would die of its own float arithmetic (a Fraction's __float__, an import's
# os.stat), and under another rounding mode would return other numbers:
# neither is the call's doing. That the call sets its state again after
# Python code has run is proven by the synchronous hooks (a __float__, a
# showwarning) that change the state themselves.
_CALLER = []


def caller(function):
    """Marks `function` as the one that makes the call."""
    _CALLER.append(function.__code__)
    return function


def on_call_frame(frame):
    if frame is None:
        return False
    for code in _CALLER:  # by identity: hashing a code object hashes its constants
        if frame.f_code is code:
            return True
    return False


@caller
def call_again(fn, *args):
    """A call made again from inside the call (by a showwarning)."""
    return fn(*args)


def _until_python(frame, event, arg):
    if event == "call":
        sys.setprofile(None)
        fpstate.write(fpstate.DEFAULT | (fpstate.read() & fpstate.FLAGS))


def apply_in_call(apply):
    """Runs `apply`, a change of the state, for the call's C code only."""
    apply()
    sys.setprofile(_until_python)


def fp_change(case):
    """(function, text) putting some state of fpstate.STATES in the register."""
    name = case.rng.choice(tuple(fpstate.STATES))
    return fpstate.change(name), f"set {name}"


def zero_d_object_array(case, inner):
    """A 0-d object array holding `inner` (its __float__ runs inner's)."""
    arr = imports.np.empty((), dtype=object)
    arr[()] = inner
    case.note(arr, f"0-d object array({inner!r})")
    case.features.add("0-d object array")
    return arr


def hostile_showwarning(case):
    """A showwarning for the call's duration (with every warning shown)."""
    rng = case.rng
    r = rng.random()
    if r < 0.35:
        kind = pick_exception(case)

        def show(*args, **kwargs):
            exc = make_exception(case, kind)
            case.raised.append(("showwarning", exc))
            raise exc

        text = f"showwarning raises {kind.__name__}"
    elif r < 0.6:
        def show(*args, **kwargs):
            module = imports.module
            try:
                call_again(module.active_share, [1.0, 2.0, 3.0])
                call_again(module.portfolio_volatility, [float("nan"), 1.0], [[1.0, 0.0], [0.0, 1.0]])  # warns again
            except Exception:
                pass

        text = "showwarning calls quorvel again"
    elif r < 0.8:
        mutation, what = pick_mutation(case)

        def show(*args, **kwargs):
            try:
                mutation(None)
            except Exception:
                pass

        text = f"showwarning does: {what}"
    elif fpstate.available:
        apply, what = fp_change(case)

        def show(*args, **kwargs):
            apply()

        text = f"showwarning does: {what}"
    else:
        return None
    case.hostile = True
    case.features.add("hostile showwarning")
    show.text = text
    return show


def hostile_signal(case):
    """(handler, delay, text, changes the state) for a signal during a long call.
    The handler never raises: one that runs only after the call returned must
    not end the fuzzer."""
    rng = case.rng
    if fpstate.available and rng.random() < 0.5:
        apply, what = fp_change(case)

        def handler(signum, frame):
            if on_call_frame(frame):
                apply_in_call(apply)

        fp = True
    else:
        what, fp = "try to resize every array argument", False

        def handler(signum, frame):
            with own_code():
                for arg in case.args:
                    for action in ("resize", "extend", "clear"):
                        try:
                            mutate(arg, action, 3, 1.0)
                        except Exception:
                            pass

    delay = rng.choice((0.0002, 0.001, 0.003))
    case.features.add("signal handler")
    return handler, delay, f"SIGALRM after {delay * 1e3:g} ms: {what}", fp


def hostile_collection(case):
    """(gc callback, text): changes the floating-point state at the start of
    every collection that the call's own C code runs while the call is armed
    (see apply_in_call)."""
    apply, what = fp_change(case)

    def callback(phase, info):
        if phase == "start" and not fpstate.calming() and on_call_frame(sys._getframe(1)):
            apply_in_call(apply)

    case.features.add("collection callback")
    return callback, f"every collection's callback: {what}"


class Armed:
    """What surrounds one call: the caller's floating-point state, the
    showwarning and the signal handler, set up and taken down."""

    def __init__(self, case, strict):
        self.case, self.strict = case, strict
        self.before = None
        self.after = None

    def __enter__(self):
        case = self.case
        import warnings
        self.warnings = None
        if case.showwarning is not None:
            self.warnings = warnings.catch_warnings()
            self.warnings.__enter__()
            warnings.simplefilter("always")
            warnings.showwarning = case.showwarning
        elif self.strict:
            warnings.simplefilter("error")
        if case.signal is not None:
            signal.signal(signal.SIGALRM, case.signal[0])
            signal.setitimer(signal.ITIMER_REAL, case.signal[1])
        if case.collection is not None:
            import gc
            self.threshold = gc.get_threshold()
            gc.callbacks.append(case.collection[0])
            gc.set_threshold(1)
        if fpstate.available:
            self.before = case.fp_before if case.fp_before is not None else fpstate.DEFAULT
            fpstate.write(self.before)  # the last thing before the call
        return self

    def __exit__(self, *exc):
        case = self.case
        if fpstate.available:
            self.after = fpstate.read()  # the first thing after it
            fpstate.write(fpstate.DEFAULT)
        if case.collection is not None:
            import gc
            gc.set_threshold(*self.threshold)
            gc.callbacks.remove(case.collection[0])
            if fpstate.available:
                fpstate.write(fpstate.DEFAULT)  # a collection may have run meanwhile
        if case.signal is not None:
            signal.setitimer(signal.ITIMER_REAL, 0)
            signal.signal(signal.SIGALRM, lambda signum, frame: None)  # one still pending runs late
            if fpstate.available:
                # The timer may have fired after the reset above, and its
                # handler left its traps on for the fuzzer's own arithmetic.
                fpstate.write(fpstate.DEFAULT)
        import warnings
        if self.warnings is not None:
            self.warnings.__exit__(None, None, None)
        if self.strict or self.warnings is not None:
            warnings.simplefilter("ignore")
        return False

    def state_lost(self):
        """The control register differs from the caller's after the call (a
        handler that changed it may have run after the call: not counted)."""
        if self.before is None or (self.case.signal is not None and self.case.signal[3]):
            return None
        if self.case.collection is not None:
            return None  # a collection may run between the call's return and the reading
        if (self.after & ~fpstate.FLAGS) != (self.before & ~fpstate.FLAGS):
            return f"MXCSR {self.before:#06x} before the call, {self.after & ~fpstate.FLAGS:#06x} after it"
        return None


def arm(case, n):
    """Draws the caller's state, a showwarning and a signal handler for a case."""
    rng = case.rng
    if fpstate.available and rng.random() < 0.06:
        name = rng.choice(tuple(fpstate.STATES))
        case.fp_before = fpstate.STATES[name]
        case.features.add(f"caller's state {name}")
    if rng.random() < 0.05:
        case.showwarning = hostile_showwarning(case)
    if n >= 200 and rng.random() < 0.5:
        case.signal = hostile_signal(case)
    if fpstate.available and rng.random() < 0.03:
        case.collection = hostile_collection(case)


LATE_KINDS = ("0-d object array", "complex scalar", "hostile number")


def late_code_case(case, entries, rng):
    """Builds a late-code case: (name, values) with the reference values in
    case.late, or None when no entry takes two vectors or matrices."""
    np = imports.np
    candidates = sorted(name for name, e in entries.items()
                        if sum(kind in ("vector", "matrix") for _, kind in e.parameters) >= 2)
    if np is None or not candidates:
        return None
    name = rng.choice(candidates)
    params = entries[name].parameters
    arrays = [i for i, (_, kind) in enumerate(params) if kind in ("vector", "matrix")]
    early, late = arrays[0], arrays[rng.randrange(1, len(arrays))]
    n = rng.randint(1, 6)
    kind = rng.choice(LATE_KINDS)
    value = plain_float(case)
    values, reference = [], []
    for index, (parameter, pkind) in enumerate(params):
        if pkind == "vector":
            v = [plain_float(case) for _ in range(n)]
        elif pkind == "matrix":
            v = [[(1.0 if i == j else 0.1) + 0.01 * rng.random() for j in range(n)] for i in range(n)]
        elif pkind in ("count", "iterations"):
            v = rng.randint(0, 12)
        elif pkind == "float":
            v = plain_float(case)
        elif pkind == "flag":
            v = rng.random() < 0.5
        elif pkind == "signed":  # a _matvec view over all the values
            v = {"offset": 0, "row_stride": 1, "col_stride": 1, "rows": 1, "cols": n}[parameter]
        else:
            v = "text"
        values.append(v)
        reference.append(v)
    array = np.array(values[early], dtype="float64")  # read in place
    values[early], reference[early] = array, array.copy()
    write = rng.choice(("fill", "nan", "reverse"))

    def overwrite(owner=None):
        if write == "fill":
            array[...] = 7.0
        elif write == "nan":
            array[...] = float("nan")
        else:
            array[...] = array[::-1].copy() if array.ndim == 1 else array[::-1, ::-1].copy()

    behaviour = Behaviour("mutate", value=value, mutation=overwrite, text=f"{write} argument {early}, return {value!r}")
    hook = FloatHook(case, behaviour)
    hook._text = f"FloatHook(__float__: {behaviour.text})"
    if kind == "0-d object array":
        late_object, plain = zero_d_object_array(case, hook), value
    elif kind == "complex scalar":
        # A complex numpy scalar is refused before it can warn; inside a
        # 0-d object array, float() still converts it, with a ComplexWarning
        # that runs showwarning.
        late_object, plain = np.empty((), dtype=object), value
        late_object[()] = np.complex128(complex(value, 0.0))

        def show(*args, **kwargs):
            overwrite()

        show.text = f"showwarning does: {write} argument {early}"
        case.showwarning = show
    else:
        late_object, plain = hook, value
    target = values[late]
    row = target[rng.randrange(len(target))] if params[late][1] == "matrix" else target
    at = rng.randrange(len(row))
    row[at] = late_object
    reference[late] = [[plain if x is late_object else x for x in r] for r in target] \
        if params[late][1] == "matrix" else [plain if x is late_object else x for x in target]
    case.hostile = True
    case.late = (kind, reference)
    case.features.add(f"late code: {kind}")
    return name, values
