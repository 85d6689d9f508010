"""The fuzzer's interludes must never crash the fuzzer itself: Python code it
runs inside a hook, or after an asynchronous change of the floating-point
state, runs under the default state (a CI run once died of SIGFPE in the
fuzzer's own time.time()). Each check runs in a child, since a fault there
is a SIGFPE."""

import os
import subprocess
import sys
import textwrap

import pytest

TOOLS = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tools")
if not os.path.isdir(os.path.join(TOOLS, "fuzz")):
    pytest.skip("the fuzzer lives in the source tree, not beside a copy of the tests",
                allow_module_level=True)

PRELUDE = """
import sys, time
sys.path.insert(0, {tools!r})
from fuzz import fpstate, interludes
if not fpstate.available:
    print("unavailable")
    sys.exit(0)
EVERY_TRAP = fpstate.STATES["every trap"]
UPWARD = fpstate.STATES["upward"]
"""

CHECKS = {
    # The fuzzer's own code in a hook runs under the default state, even
    # with every trap unmasked around it, and gives that state back.
    "calm": """
        fpstate.write(EVERY_TRAP)
        with fpstate.calm():
            inside = fpstate.control()
            time.time()  # inexact: traps when a trap is on
        after = fpstate.control()
        fpstate.write(fpstate.DEFAULT)
        print(inside == fpstate.DEFAULT, after == EVERY_TRAP)
    """,
    # A change made for the call's C code lasts until Python code starts.
    "until Python code": """
        def python_code():
            return fpstate.control()
        import ctypes
        env = ctypes.create_string_buffer(32)  # read below by C calls alone: no Python code
        fpstate.write(fpstate.DEFAULT)
        interludes.apply_in_call(fpstate.change("every trap, upward, FTZ"))
        fpstate._libm.fegetenv(env)
        raw = env.raw
        seen_by_python = python_code()
        set_for_c = int.from_bytes(raw[28:32], "little") & ~fpstate.FLAGS
        fpstate.write(fpstate.DEFAULT)
        print(set_for_c == fpstate.STATES["every trap, upward, FTZ"], seen_by_python == fpstate.DEFAULT)
    """,
    # Only the frame that makes the call counts as the call's.
    "call frame": """
        def elsewhere():
            return interludes.on_call_frame(sys._getframe(1))
        print(interludes.call_again(lambda: interludes.on_call_frame(sys._getframe(1))), elsewhere())
    """,
}

EXPECTED = {"calm": "True True", "until Python code": "True True", "call frame": "True False"}


@pytest.mark.parametrize("name", sorted(CHECKS))
def test_fuzzer_code_never_runs_under_a_hooks_state(name):
    code = PRELUDE.format(tools=TOOLS) + textwrap.dedent(CHECKS[name])
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr[-2000:]
    if done.stdout.strip() == "unavailable":
        pytest.skip("the control register is set here only on x86-64 Linux")
    assert done.stdout.strip() == EXPECTED[name]
