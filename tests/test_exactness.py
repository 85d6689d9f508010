"""The same bytes whatever the process has done: every NaN returned is the
canonical quiet NaN, floors treat every NaN alike, each call computes under
round-to-nearest with subnormals honoured whatever the caller's
floating-point state (and gives that state back), importing the module
changes nothing, and no entry point, private ones included, can crash."""

import json
import math
import shutil
import struct
import subprocess
import sys
import textwrap

import pytest

import quorvel as q

CANONICAL_NAN = struct.pack("<Q", 0x7FF8000000000000)


def from_bits(bits):
    return struct.unpack("<d", struct.pack("<Q", bits))[0]


QUIET_NEGATIVE = from_bits(0xFFF8000000000000)  # what x86 makes of 0 * inf
PAYLOAD = from_bits(0x7FF80000DEADBEEF)
SIGNALLING = from_bits(0x7FF0000000000001)
SIGNALLING_NEGATIVE = from_bits(0xFFF4000000000123)
NANS = [QUIET_NEGATIVE, PAYLOAD, SIGNALLING, SIGNALLING_NEGATIVE]


def floats_in(result):
    if isinstance(result, (list, tuple)):
        return [x for item in result for x in floats_in(item)]
    return [result]


def nan_bytes(result):
    return {struct.pack("<d", x) for x in floats_in(result) if math.isnan(x)}


S = [[0.04, 0.01], [0.01, 0.09]]


@pytest.mark.filterwarnings("ignore::RuntimeWarning")
@pytest.mark.parametrize("nan", NANS, ids=["negative", "payload", "signalling", "signalling-negative"])
@pytest.mark.parametrize("call", [
    lambda n: q.signal_proportional_weights([n, 1.0]),
    lambda n: q.target_volatility_weights([n, 0.1]),
    lambda n: q.minimum_variance_weights([[1.0, 0.0], [0.0, n]]),
    lambda n: q.minimum_variance_weights([[1.0, n] + [0.0] * 28] + [[float(i == j) for j in range(30)]
                                                                  for i in range(1, 30)]),
    lambda n: q.mean_variance_weights([n, 1.0], S, 2.0),
    lambda n: q.portfolio_variance([n, 0.5], S),
    lambda n: q.portfolio_variance([0.0, 1.0], [[math.inf, 0.0], [0.0, 1.0]]),  # 0 * inf, made here
    lambda n: q.risk_contribution([n, 0.5], S),
    lambda n: q.active_share([1.0, n]),
    lambda n: q.brinson_attribution([0.5, n], [0.5, 0.5], [0.1, 0.2], [0.1, 0.2]),
    lambda n: q.factor_return_decomposition([n, 1.0], [1.0, math.inf]),
    lambda n: q._invert([[n, 1.0], [1.0, 2.0]]),
    lambda n: q._matvec([n, 1.0, 2.0], 0, 1, 1, 2, 2, [1.0, n]),
])
def test_every_nan_returned_is_the_canonical_one(call, nan):
    result = call(nan)
    if isinstance(result, bytes):
        result = list(struct.unpack(f"<{len(result) // 8}d", result))
    assert nan_bytes(result) == {CANONICAL_NAN}


@pytest.mark.filterwarnings("ignore::RuntimeWarning")
@pytest.mark.parametrize("nan", NANS + [math.nan], ids=["negative", "payload", "signalling", "signalling-negative",
                                                       "quiet"])
def test_floors_treat_every_nan_alike(nan):
    # Each floor counts any NaN as the floor: 1e-18 for a variance, 1e-12
    # for a risk aversion.
    assert q.hierarchical_risk_parity_weights([[nan, 0.0], [0.0, 0.04]]) == \
        q.hierarchical_risk_parity_weights([[1e-18, 0.0], [0.0, 0.04]])
    assert q.risk_parity_weights([[nan, 0.0], [0.0, 0.04]], 3, 0.0) == \
        q.risk_parity_weights([[1e-18, 0.0], [0.0, 0.04]], 3, 0.0)
    assert q.mean_variance_weights([0.05, 0.08], S, nan) == q.mean_variance_weights([0.05, 0.08], S, 1e-12)


# A tiny library, built for the test, that reads and sets the calling
# thread's floating-point control state the way another library might.
FP_STATE = r"""
#include <fenv.h>
#include <stdint.h>
#ifdef _WIN32
#define EXPORT __declspec(dllexport) /* a DLL exports only what is marked */
#else
#define EXPORT
#endif
#if defined(__x86_64__) || defined(__i386__) || defined(_M_X64) || defined(_M_IX86)
#include <xmmintrin.h>
EXPORT uint64_t control(void) { return _mm_getcsr() & ~0x3fu; } /* the controls, not the sticky flags */
EXPORT void flush_to_zero(void) { _mm_setcsr(_mm_getcsr() | 0x8040u); } /* FTZ and DAZ */
#elif defined(__aarch64__)
EXPORT uint64_t control(void) { uint64_t v; __asm__ volatile("mrs %0, fpcr" : "=r"(v)); return v; }
EXPORT void flush_to_zero(void) {
  uint64_t v = control() | (UINT64_C(1) << 24);
  __asm__ volatile("msr fpcr, %0" : : "r"(v));
}
#else
EXPORT uint64_t control(void) { return (uint64_t)fegetround(); }
EXPORT void flush_to_zero(void) {}
#endif
EXPORT int set_rounding(int which) {
  static const int modes[] = {FE_TONEAREST, FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO};
  return fesetround(modes[which]);
}
"""

CHILD = textwrap.dedent("""
    import ctypes, importlib.util, json, struct, sys, warnings
    fp = ctypes.CDLL(sys.argv[2])
    fp.control.restype = ctypes.c_uint64
    at_start = fp.control()
    located = importlib.util.spec_from_file_location("quorvel", sys.argv[1])
    q = importlib.util.module_from_spec(located)
    located.loader.exec_module(q)
    after_import = fp.control()
    import array
    warnings.simplefilter("ignore")

    spd = [[(1.0 if i == j else 0.0) + 0.01 * ((i * 7 + j * 3) % 11 + (j * 7 + i * 3) % 11) for j in range(30)]
           for i in range(30)]
    tiny = [1e-160, 3e-162, -7e-161]
    singles = array.array("f", [1e-40, 2e-41])  # made once: the caller's rounding would change them
    calls = [
        lambda: q.equal_weights(3),
        lambda: q.signal_proportional_weights([1.0, 2.0, 4.0, 2**60 + 1]),
        lambda: q.target_volatility_weights([0.1, 0.3, 0.7]),
        lambda: q.minimum_variance_weights([row[:5] for row in spd[:5]]),
        lambda: q.minimum_variance_weights(spd),
        lambda: q.mean_variance_weights([0.05] * 30, spd, 3.0),
        lambda: q.risk_parity_weights(spd, 40, 0.0),
        lambda: q.portfolio_volatility([0.3, 0.7], [[0.04, 0.01], [0.01, 0.09]]),
        lambda: q.risk_contribution([0.3, 0.7], [[0.04, 0.01], [0.01, 0.09]]),
        lambda: q.active_share([5e-324, 1e-310, -3e-320]),
        lambda: q.factor_return_decomposition(tiny, [1e-160, 2e-160, 1e-160]),
        lambda: q.factor_return_decomposition(singles, [1.0, 3.0]),
        lambda: q.target_volatility_weights([5e-324, 1.0]),
    ]

    def flat(result):
        if isinstance(result, (list, tuple)):
            return [x for item in result for x in flat(item)]
        return [result]

    def run():
        out, changed = [], []
        for call in calls:
            before = fp.control()
            try:
                out.append(b"".join(struct.pack("<d", x) for x in flat(call())).hex())
            except ValueError as exc:  # a subnormal read as zero can make a valid input invalid
                out.append(str(exc))
            changed.append(fp.control() != before)
        return out, any(changed)

    reference, _ = run()
    report = {"import": [at_start, after_import], "modes": {}}
    for name, set_mode in [("upward", lambda: fp.set_rounding(1)), ("downward", lambda: fp.set_rounding(2)),
                           ("toward zero", lambda: fp.set_rounding(3)), ("flush to zero", fp.flush_to_zero)]:
        fp.set_rounding(0)
        set_mode()
        state = fp.control()
        got, changed = run()
        report["modes"][name] = [sum(a != b for a, b in zip(got, reference)), changed, fp.control() == state]

    # Python code run while the arguments are converted changes the state:
    # the computation still runs to nearest, and the caller gets back the
    # state it called with.
    class Upward:
        def __float__(self):
            fp.set_rounding(1)
            return 3.0
    fp.set_rounding(0)
    plain = q.signal_proportional_weights([1.0, 2.0, 3.0, 7.0, 11.0])
    fp.set_rounding(0)
    entry = fp.control()
    mid = q.signal_proportional_weights([1.0, 2.0, Upward(), 7.0, 11.0])
    report["during conversion"] = [mid == plain, fp.control() == entry]
    fp.set_rounding(0)
    print(json.dumps(report))
""")


def helper_build(folder):
    """The command that builds FP_STATE into a shared library in folder, and
    the library's path; None where there is no C compiler."""
    source = folder / "fp_state.c"
    if sys.platform == "win32":
        # A DLL: MSVC's cl (or clang-cl) from a developer prompt, else a
        # GNU-style driver (MinGW's gcc, clang). Windows code needs no -fPIC
        # (clang refuses it there) and no separate libm.
        library = folder / "fp_state.dll"
        cl = shutil.which("cl") or shutil.which("clang-cl")
        if cl:
            return [cl, "/nologo", "/LD", "/O1", str(source), f"/Fe{library}"], library
        compiler = shutil.which("gcc") or shutil.which("clang") or shutil.which("cc")
        return ([compiler, "-shared", "-O1", str(source), "-o", str(library)] if compiler else None), library
    library = folder / "fp_state.so"
    compiler = shutil.which("cc") or shutil.which("gcc") or shutil.which("clang")
    command = [compiler, "-shared", "-fPIC", "-O1", str(source), "-o", str(library), "-lm"] if compiler else None
    return command, library


@pytest.fixture(scope="module")
def fp_state(tmp_path_factory):
    folder = tmp_path_factory.mktemp("fp_state")
    (folder / "fp_state.c").write_text(FP_STATE)
    command, library = helper_build(folder)
    if command is None:
        pytest.skip("no C compiler to build the floating-point state helper (on Windows: cl from a developer "
                    "prompt, clang-cl, gcc or clang on PATH)")
    subprocess.run(command, check=True, cwd=folder)
    done = subprocess.run([sys.executable, "-c", CHILD, q.__file__, str(library)], capture_output=True, text=True,
                          timeout=300)
    assert done.returncode == 0, done.stderr
    return json.loads(done.stdout)


def test_import_leaves_the_floating_point_state_alone(fp_state):
    at_start, after_import = fp_state["import"]
    assert after_import == at_start


def test_a_state_changed_while_converting_is_set_aside_for_the_computation(fp_state):
    assert fp_state["during conversion"] == [True, True]


@pytest.mark.parametrize("mode", ["upward", "downward", "toward zero", "flush to zero"])
def test_calls_compute_the_same_bytes_whatever_the_callers_state(fp_state, mode):
    differing, changed_state, state_kept = fp_state["modes"][mode]
    assert (differing, changed_state, state_kept) == (0, False, True)


CRASHERS = textwrap.dedent("""
    import importlib.util, sys
    located = importlib.util.spec_from_file_location("quorvel", sys.argv[1])
    q = importlib.util.module_from_spec(located)
    located.loader.exec_module(q)
    for args in [([1.0], 0, 2**60, 1, 17, 1, [1.0]), ([], 0, 0, 0, 2**62, 0, []),
                 ([1.0] * 4, 2**63 - 1, 1, 1, 1, 1, [1.0]), ([1.0] * 4, 3, -(2**62), 2**62, 2, 2, [1.0, 1.0]),
                 ([1.0], -1, 0, 0, 1, 1, [1.0]), ([1.0], 0, 0, 0, 2**64, 1, [1.0])]:
        try:
            q._matvec(*args)
        except (ValueError, OverflowError) as exc:
            print(type(exc).__name__, exc)
    try:
        q.equal_weights(2**62)
    except MemoryError:
        print("MemoryError")
""")


def test_private_hooks_refuse_what_would_crash():
    done = subprocess.run([sys.executable, "-c", CRASHERS, q.__file__], capture_output=True, text=True, timeout=60)
    assert (done.returncode, done.stderr) == (0, "")
    assert done.stdout.splitlines() == [
        "ValueError view reaches outside the values", "ValueError bad shape",
        "ValueError view reaches outside the values", "ValueError view reaches outside the values",
        "ValueError view reaches outside the values", "OverflowError int too big to convert",
        "MemoryError"]


# Views over 12 values laid so that their extreme elements are exactly the
# first and the last value, whatever the signs of the strides.
EDGE_VIEWS = [(4, 1, 3, 4), (-4, 1, 3, 4), (4, -1, 3, 4), (-4, -1, 3, 4), (1, 3, 3, 4), (0, 1, 5, 12),
              (1, 0, 12, 3), (-1, 0, 12, 1), (11, 1, 2, 1)]


@pytest.mark.parametrize("row_stride, col_stride, rows, cols", EDGE_VIEWS)
def test_a_view_may_reach_the_first_and_the_last_value_and_no_further(row_stride, col_stride, rows, cols):
    values = [float(2 ** k) for k in range(12)]  # every sum of distinct ones is exact and tells them apart
    x = [1.0] * cols
    corners = [0, (rows - 1) * row_stride, (cols - 1) * col_stride, (rows - 1) * row_stride + (cols - 1) * col_stride]
    offset = -min(corners)
    assert offset + max(corners) == len(values) - 1  # the view spans all 12 values
    want = [sum(values[offset + i * row_stride + j * col_stride] for j in range(cols)) for i in range(rows)]
    got = q._matvec(values, offset, row_stride, col_stride, rows, cols, x)
    assert list(struct.unpack(f"<{rows}d", got)) == want
    for shifted in (offset - 1, offset + 1):
        with pytest.raises(ValueError, match="view reaches outside the values"):
            q._matvec(values, shifted, row_stride, col_stride, rows, cols, x)


def test_an_empty_view_is_never_read():
    # With no columns nothing is read, whatever the strides say: each row is
    # the empty sum, -0.0.
    assert q._matvec([1.0, 2.0], 0, -2, 1, 3, 0, []) == struct.pack("<3d", -0.0, -0.0, -0.0)
    assert q._matvec([], 5, 7, 9, 0, 4, [1.0] * 4) == b""


def test_private_hooks_bind_like_the_public_functions():
    assert q._matvec.__text_signature__ == "(values, offset, row_stride, col_stride, rows, cols, x)"
    assert q._matvec(x=[2.0], cols=1, rows=1, col_stride=1, row_stride=1, offset=1, values=[5.0, 3.0]) == \
        struct.pack("<d", 6.0)
    with pytest.raises(TypeError) as info:
        q._invert()
    assert str(info.value) == "_invert() missing 1 required positional argument: 'matrix'"
    with pytest.raises(TypeError) as info:
        q._matvec([1.0], "0", 1, 1, 1, 1, [1.0])
    assert info.value.__notes__ == ["while processing 'offset'"]
