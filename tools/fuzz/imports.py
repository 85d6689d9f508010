"""The modules the fuzzer loads: the quorvel build under test, numpy and
pandas when they are importable (other modules read `imports.np` and
`imports.pd` when they run, after `load_optional`), and the test suite's
own definition of a buffer agreeing with its numbers as lists."""

from __future__ import annotations

import os
import sys
import warnings

# tests/agreement.py (and tests/model.py, which it uses) say what agreeing
# means for the suite; the oracle asks the same question of every buffer it
# makes, so it takes the same answer.
TESTS = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))), "tests")
sys.path.insert(0, TESTS)
import agreement  # noqa: E402,F401 (for the generators and the checks)

np = None
pd = None
module = None  # the quorvel under test, once imported


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


def import_module(module_path):
    if module_path:
        sys.meta_path[:] = [f for f in sys.meta_path if "editable" not in type(f).__module__.lower()]
        sys.path.insert(0, os.path.abspath(module_path))
    import quorvel
    global module
    module = quorvel
    if module_path and not os.path.abspath(quorvel.__file__).startswith(os.path.abspath(module_path)):
        raise SystemExit(f"fuzz: imported {quorvel.__file__}, not the build in {module_path}")
    return quorvel
