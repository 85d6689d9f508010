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
import os
import random
import sys
import time
import warnings

from . import imports
from .case import build_case, describe_call
from .plant import Plant
from .pool import Parent, child_main, describe_cases, reproducer, uses_asan
from .signatures import Disagreement, entry_points


def describe_main(options):
    imports.load_optional(not options.no_numpy, not options.no_pandas)
    warnings.simplefilter("ignore")
    entries = entry_points(imports.import_module(options.module_path))
    for number in range(options.first, options.first + options.count):
        case, name, args, kwargs = build_case(entries, options.seed, number, options)
        print(f"case {number}: {describe_call(case, name, args, kwargs)}")


def parse_range(text):
    if "-" in text:
        a, b = text.split("-", 1)
        return int(a), int(b) - int(a) + 1
    return int(text), 1


def print_summary(parent, options, entries, elapsed):
    """Prints the calls made and their outcomes; returns the number of calls."""
    total_calls = sum(c["calls"] for c in parent.stats.values())
    print(f"fuzz: seed {options.seed}, {total_calls} calls in {elapsed:.1f} s "
          f"({total_calls / max(elapsed, 1e-9):.0f}/s), {parent.children_started} children, "
          f"{options.workers} worker(s)")
    if parent.ready_info:
        info = parent.ready_info
        print(f"fuzz: module {info['module']} (numpy: {info['numpy']}, pandas: {info['pandas']})")
    for entry in entries:
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

    try:
        entries = entry_points(imports.import_module(options.module_path))
    except Disagreement as exc:
        print(f"fuzz: the module and its stub disagree: {exc}", file=sys.stderr)
        return 2
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
    total_calls = print_summary(parent, options, entries, elapsed)
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
