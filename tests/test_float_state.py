"""Each call computes under its own floating-point environment (round to
nearest, subnormals honoured, every trap masked), sets it again after any
Python code it ran (a converter's __float__, a signal handler in the middle
of a long computation), and gives the caller its control register back
whole, whatever that code changed meanwhile. The sticky exception flags are
left as the arithmetic left them.

x86 only: a small C library built for the test reads and writes MXCSR the
way another library might. (tools/crosscheck proves the same of the aarch64
and s390x registers under qemu.)"""

import json
import platform
import shutil
import subprocess
import sys
import textwrap

import pytest

import quorvel as q

pytestmark = pytest.mark.skipif(platform.machine().lower() not in {"x86_64", "amd64", "i386", "i686"},
                                reason="reads MXCSR, the x86 control register")

MXCSR = r"""
#include <xmmintrin.h>
unsigned get_csr(void) { return _mm_getcsr(); }
void set_csr(unsigned value) { _mm_setcsr(value); }
unsigned short get_cw(void) { unsigned short c; __asm__ __volatile__("fnstcw %0" : "=m"(c)); return c; }
void set_cw(unsigned short c) { __asm__ __volatile__("fldcw %0" : : "m"(c)); }
"""

DEFAULT = 0x1F80  # every trap masked, to nearest, no FTZ/DAZ, no flags
FLAGS = 0x3F

# What Python code run during a call does to the thread's state.
CHANGES = {
    "upward": "lambda c: (c & ~0x6000) | 0x4000",
    "flush to zero": "lambda c: c | 0x8040",
    "overflow trap": "lambda c: c & ~0x0400",
    "invalid trap": "lambda c: c & ~0x0080",
}

PRELUDE = textwrap.dedent("""
    import ctypes, importlib.util, json, signal, struct, sys, warnings
    located = importlib.util.spec_from_file_location("quorvel", sys.argv[1])
    q = importlib.util.module_from_spec(located)
    located.loader.exec_module(q)
    fp = ctypes.CDLL(sys.argv[2])
    fp.get_csr.restype = ctypes.c_uint
    fp.set_csr.argtypes = [ctypes.c_uint]
    fp.get_cw.restype = ctypes.c_ushort
    fp.set_cw.argtypes = [ctypes.c_ushort]
    change = eval(sys.argv[3])

    def changer():
        fp.set_csr(change(fp.get_csr()))

    def raw(result):
        if isinstance(result, (list, tuple)):
            return "".join(raw(x) for x in result)
        return struct.pack("<d", result).hex()

    n = 60
    spd = [[(n + 1.0 if i == j else 1.0) + 0.001 * ((i * 7 + j * 7) % 11) for j in range(n)] for i in range(n)]
""")

# Where the Python code runs; each prints [result bytes or error, the
# reference's, control bits after the call, control bits before it].
WHERE = {
    # A __float__ while the arguments are converted.
    "conversion": """
        class Changing:
            def __float__(self):
                changer()
                return 3.0
        reference = raw(q.signal_proportional_weights([1.0, 2.0, 3.0, 7.0, 11.0]))
        args = [1.0, 2.0, Changing(), 7.0, 11.0]
        call = lambda: raw(q.signal_proportional_weights(args))
    """,
    # The same, and a later element then fails the conversion.
    "conversion that fails": """
        class Changing:
            def __float__(self):
                changer()
                return 3.0
        class Failing:
            def __float__(self):
                raise ValueError("no number")
        reference = "ValueError"
        args = [1.0, Changing(), Failing()]
        def call():
            try:
                q.signal_proportional_weights(args)
            except ValueError:
                return "ValueError"
    """,
    # showwarning, while the result is turned into Python objects.
    "warning": """
        warnings.simplefilter("always")
        warnings.showwarning = lambda *args, **kwargs: changer()
        weights = [float("nan"), 0.5]
        reference = "nan"
        call = lambda: "nan" if q.portfolio_volatility(weights, [[0.04, 0.01], [0.01, 0.09]]) == 0.0 else "?"
    """,
    # A collection's callback, run when the result is allocated (3.11
    # collects right there), before the warnings' tests compare a NaN.
    "collection": """
        import gc
        cov = [[0.04, 0.01], [0.01, 0.09]]
        reference = raw(q.risk_parity_weights(cov, 3, float("nan")))
        state = {"inside": False, "ran inside": False}
        def collecting(phase, info):
            if phase == "start" and state["inside"]:
                state["ran inside"] = True
                changer()
        def profile(frame, event, function):
            if function is q.risk_parity_weights:
                state["inside"] = event == "c_call"
        def call():
            gc.collect()
            gc.callbacks.append(collecting)
            sys.setprofile(profile)
            gc.set_threshold(1)
            try:
                return raw(q.risk_parity_weights(cov, 3, float("nan")))
            finally:
                gc.set_threshold(700)
                sys.setprofile(None)
                gc.callbacks.remove(collecting)
                assert state["ran inside"], state
    """,
    # A signal handler run between two passes of a long computation.
    "signal handler": """
        reference = raw(q.risk_parity_weights(spd, 20000, -1.0))
        events = []
        def handler(signum, frame):
            events.append("signal")
            changer()
        def profile(frame, event, function):
            if function is q.risk_parity_weights:
                events.append(event)
        signal.signal(signal.SIGALRM, handler)
        def call():
            sys.setprofile(profile)
            signal.setitimer(signal.ITIMER_REAL, 0.005)
            try:
                return raw(q.risk_parity_weights(spd, 20000, -1.0))
            finally:
                sys.setprofile(None)
                signal.setitimer(signal.ITIMER_REAL, 0)
                # The handler ran inside the call, between its passes.
                assert events == ["c_call", "signal", "c_return"], events
    """,
}

RUN = """
    fp.set_csr(0x1f80)
    before = fp.get_csr()
    got = call()
    after = fp.get_csr()
    fp.set_csr(0x1f80)
    print(json.dumps([got, reference, after & ~0x3f, before & ~0x3f]))
"""


@pytest.fixture(scope="module")
def mxcsr(tmp_path_factory):
    compiler = shutil.which("cc") or shutil.which("gcc") or shutil.which("clang")
    if compiler is None:
        pytest.skip("no C compiler to build the MXCSR helper")
    folder = tmp_path_factory.mktemp("mxcsr")
    (folder / "mxcsr.c").write_text(MXCSR)
    library = folder / "mxcsr.so"
    subprocess.run([compiler, "-shared", "-fPIC", "-O1", str(folder / "mxcsr.c"), "-o", str(library)], check=True)
    return str(library)


def child(code, library, change="lambda c: c"):
    done = subprocess.run([sys.executable, "-c", code, q.__file__, library, change], capture_output=True,
                          text=True, timeout=300)
    return done.returncode, done.stdout, done.stderr


@pytest.mark.parametrize("change", CHANGES)
@pytest.mark.parametrize("where", WHERE)
def test_python_code_during_a_call_changes_neither_its_result_nor_the_callers_state(mxcsr, where, change):
    if where == "collection" and sys.version_info >= (3, 12):
        pytest.skip("from 3.12 a collection waits for the interpreter's next check, after the call returns")
    code = PRELUDE + textwrap.dedent(WHERE[where]) + textwrap.dedent(RUN)
    returncode, out, err = child(code, mxcsr, CHANGES[change])
    assert (returncode, err) == (0, "")
    got, reference, after, before = json.loads(out)
    assert got == reference
    assert hex(after) == hex(before)


X87 = """
    fp.set_cw(0x037f)
    before = fp.get_cw()
    try:
        call()
    except Exception:
        pass
    after = fp.get_cw()
    fp.set_cw(0x037f)
    print(json.dumps([after, before]))
"""

# Python code that sets the x87 unit's rounding (as fesetround does, beside
# MXCSR) and its trap masks, wherever it runs during a call.
X87_CHANGES = {
    "conversion": """
        class Changing:
            def __float__(self):
                fp.set_cw(0x0b7b)
                return 3.0
        call = lambda: q.signal_proportional_weights([1.0, Changing()])
    """,
    "warning": """
        warnings.simplefilter("always")
        warnings.showwarning = lambda *args, **kwargs: fp.set_cw(0x0b7b)
        call = lambda: q.rank_weights([1.0, float("nan")], True)
    """,
    "argument note": """
        class Noting(ValueError):
            def add_note(self, note):
                fp.set_cw(0x0b7b)
        class Failing:
            def __float__(self):
                raise Noting("no number")
        call = lambda: q.active_share([1.0, Failing()])
    """,
}


@pytest.mark.parametrize("where", X87_CHANGES)
def test_the_x87_control_word_comes_back_whole(mxcsr, where):
    code = PRELUDE + textwrap.dedent(X87_CHANGES[where]) + textwrap.dedent(X87)
    returncode, out, err = child(code, mxcsr)
    assert (returncode, err) == (0, "")
    after, before = json.loads(out)
    assert hex(after) == hex(before) == hex(0x037F)


# Inputs that raise each IEEE exception inside the call, and the trap that
# an unmasked exception would spring: a signalling NaN, 0 * inf, subnormal
# operands, a product past the largest double, one below the smallest, a
# rounded quotient. Made before any trap is unmasked (unpacking a signalling
# NaN is an invalid operation in the interpreter itself).
SIGNALLING = "struct.unpack('<d', struct.pack('<Q', 0x7FF0000000000001))[0]"
S = "[[0.04, 0.01], [0.01, 0.09]]"
TRAPS = {
    "invalid, signalling NaN": (0x0080, "portfolio_variance", f"[{SIGNALLING}, 0.5], {S}"),
    "invalid, 0 * inf": (0x0080, "factor_return_decomposition", "[1.0, 0.0], [1.0, float('inf')]"),
    "denormal operand": (0x0100, "active_share", "[5e-324, 1e-310, -3e-320]"),
    "overflow": (0x0400, "portfolio_variance", "[1e300, 1e300], [[1e300, 0.0], [0.0, 1e300]]"),
    "underflow": (0x0800, "portfolio_variance", "[1e-200, 0.0], [[1e-200, 0.0], [0.0, 1.0]]"),
    "inexact": (0x1000, "signal_proportional_weights", "[1.0, 2.0, 3.0]"),
    "every trap, long inversion": (0x1F80, "minimum_variance_weights", "spd"),
}

TRAPPED = """
    args = ({args},)
    reference = raw(q.{function}(*args))
    fp.set_csr(0x1f80 & ~{bits})
    before = fp.get_csr()
    result = q.{function}(*args)
    after = fp.get_csr()
    fp.set_csr(0x1f80)
    print(json.dumps([raw(result), reference, after & ~0x3f, before & ~0x3f]))
"""


@pytest.mark.parametrize("trap", TRAPS)
def test_unmasked_traps_never_spring_inside_a_call(mxcsr, trap):
    bits, function, args = TRAPS[trap]
    code = PRELUDE + textwrap.dedent(TRAPPED.format(function=function, args=args, bits=bits))
    returncode, out, err = child(code, mxcsr)
    assert (returncode, err) == (0, "")  # SIGFPE would end the child
    got, reference, after, before = json.loads(out)
    assert got == reference
    assert hex(after) == hex(before)  # the caller's traps are unmasked again


FLAGGED = """
    fp.set_csr(0x1f80 | 0x01)  # the caller's invalid flag, raised before the call
    q.portfolio_variance([1e300, 1e300], [[1e300, 0.0], [0.0, 1e300]])  # overflows
    kept = fp.get_csr() & 0x3f
    fp.set_csr(0x1f80 & ~0x0800)  # underflow unmasked: the call masks it, then gives the register back
    q.signal_proportional_weights([1.0, 2.0, 3.0])
    raised = fp.get_csr() & 0x3f
    fp.set_csr(0x1f80)
    print(json.dumps([kept, raised]))
"""


def test_sticky_flags_keep_the_callers_and_add_the_calls(mxcsr):
    returncode, out, err = child(PRELUDE + textwrap.dedent(FLAGGED), mxcsr)
    assert (returncode, err) == (0, "")
    kept, raised = json.loads(out)
    assert kept & 0x09 == 0x09  # invalid (the caller's) and overflow (the call's)
    assert raised & 0x20  # inexact from the call, under the caller's own state given back
