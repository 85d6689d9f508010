#!/usr/bin/env python3
"""Coverage-guided fuzzing of quorvel with atheris (libFuzzer).

    python tools/fuzz_atheris.py [--module-path DIR --shim SHIM.so] [--oracle fail|off]
                                 [libFuzzer flags...] [CORPUS_DIR...]

The fuzzer's bytes drive the same case builder as tools/fuzz.py (the
package tools/fuzz/): every choice the builder makes (entry point, argument
forms, hostile hooks, numbers, numpy layouts, call shape) reads the next
bytes of the input, so a mutation of the bytes changes a few choices instead
of all of them. Each
input makes one call, checked as tools/fuzz.py checks it; a problem raises
an exception, which atheris reports with the input that caused it. A crash
in the module is caught by libFuzzer's own signal handlers.

Coverage: the builder's Python code is instrumented by atheris. Coverage of
the C++ module needs a build made with gcc's -fsanitize-coverage=trace-pc,
trace-cmp and the callbacks of tools/coverage_shim.c (see tools/FUZZING.md);
pass that build as --module-path and the compiled shim as --shim. Without
them, the module is an uninstrumented black box and only the Python side
guides the search.
"""

from __future__ import annotations

import argparse
import ctypes
import os
import random
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


class BytesRandom(random.Random):
    """A random source that reads the fuzzer's bytes, and once they run out
    a fixed-seed generator (zeros would pick the rarest branch everywhere).
    A change early in the input changes early choices only."""

    def __init__(self, data: bytes):
        self._data, self._at = data, 0
        self._rest = random.Random(0)
        super().__init__(0)

    def seed(self, *args, **kwargs):  # the state is the input itself
        pass

    def getrandbits(self, k: int) -> int:
        n = (k + 7) // 8
        if self._at >= len(self._data):
            return self._rest.getrandbits(k)
        chunk = self._data[self._at:self._at + n]
        self._at += n
        return int.from_bytes(chunk.ljust(n, b"\0"), "little") & ((1 << k) - 1)

    def random(self) -> float:
        return self.getrandbits(53) / 9007199254740992.0


class Finding(Exception):
    """A problem with a call; atheris keeps the input that made it."""


def libfuzzer_core_path():
    for line in open("/proc/self/maps"):
        path = line.split()[-1]
        if "atheris" in path and os.path.basename(path).startswith("core_"):
            return path
    return None


CALLBACKS = ("__sanitizer_cov_8bit_counters_init", "__sanitizer_cov_pcs_init",
             "__sanitizer_cov_trace_cmp1", "__sanitizer_cov_trace_cmp2",
             "__sanitizer_cov_trace_cmp4", "__sanitizer_cov_trace_cmp8",
             "__sanitizer_cov_trace_const_cmp1", "__sanitizer_cov_trace_const_cmp2",
             "__sanitizer_cov_trace_const_cmp4", "__sanitizer_cov_trace_const_cmp8",
             "__sanitizer_cov_trace_switch")


def connect_shim(shim):
    """Gives the shim's counters to the libFuzzer that atheris has loaded
    (it loads it only once fuzzing starts) and takes its compare callbacks."""
    path = libfuzzer_core_path()
    if path is None:
        raise SystemExit("fuzz_atheris: no libFuzzer core of atheris is loaded; "
                         "a preloaded libFuzzer is not supported with --shim")
    core = ctypes.CDLL(path, mode=os.RTLD_NOLOAD | os.RTLD_NOW)
    table = (ctypes.c_void_p * len(CALLBACKS))(
        *[ctypes.cast(getattr(core, name), ctypes.c_void_p).value for name in CALLBACKS])
    shim.quorvel_coverage_connect.restype = ctypes.c_uint
    count = shim.quorvel_coverage_connect(table)
    sys.stderr.write(f"fuzz_atheris: {count} edge counters of the module given to libFuzzer\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0], add_help=True)
    parser.add_argument("--module-path", default=None, help="directory of the quorvel build to fuzz")
    parser.add_argument("--shim", default=None, help="compiled tools/coverage_shim.c for a coverage build")
    parser.add_argument("--oracle", choices=("fail", "off"), default="off",
                        help="compare buffers with lists (default off: known mismatches stop the run)")
    parser.add_argument("--plant", default=None, help="plant a fault on purpose (as tools/fuzz.py)")
    parser.add_argument("--no-numpy", action="store_true")
    parser.add_argument("--no-pandas", action="store_true")
    ours, libfuzzer_args = parser.parse_known_args()

    shim = None
    if ours.shim:
        # Before the module is imported, so that its coverage callbacks bind here.
        shim = ctypes.CDLL(os.path.abspath(ours.shim), mode=os.RTLD_GLOBAL | os.RTLD_NOW)

    import atheris

    sys.path.insert(0, HERE)
    # Only the case builder itself is instrumented, not the modules it uses.
    import ast, inspect, json, selectors, signal, subprocess, tempfile, collections, struct, math, typing  # noqa: F401
    with atheris.instrument_imports():
        from fuzz import case as cases, checks, imports, pool

    options = argparse.Namespace(
        seed=0, module_path=ours.module_path, oracle=ours.oracle, plant=ours.plant, verbose=False,
        big_alloc=not pool.uses_asan(os.environ), no_numpy=ours.no_numpy, no_pandas=ours.no_pandas)
    imports.load_optional(not ours.no_numpy, not ours.no_pandas)
    import warnings
    warnings.simplefilter("ignore")
    runner = checks.Runner(options, lambda kind, payload: sys.stderr.write(f"fuzz_atheris: {payload}\n"))
    sys.stderr.write(f"fuzz_atheris: module {runner.module.__file__}\n")
    connected = []
    number = 13 if ours.plant else 0  # a planted fault fires on every input

    def test_one_input(data: bytes):
        if shim is not None and not connected:
            connect_shim(shim)
            connected.append(True)
        case, name, args, kwargs = cases.build_case(runner.entries, 0, number, options, rng=BytesRandom(data))
        problems = runner.check(case, name, args, kwargs)
        if problems:
            again, n2, a2, k2 = cases.build_case(runner.entries, 0, number, options, rng=BytesRandom(data))
            lines = [f"{kind}: {detail}" for kind, detail, *_ in problems]
            lines.append("call: " + cases.describe_call(again, n2, a2, k2))
            raise Finding("\n".join(lines))

    atheris.Setup([sys.argv[0]] + libfuzzer_args, test_one_input)
    atheris.Fuzz()


if __name__ == "__main__":
    main()
