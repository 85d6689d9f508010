"""The modules the fuzzer loads: the quorvel build under test, and numpy and
pandas when they are importable (other modules read `imports.np` and
`imports.pd` when they run, after `load_optional`)."""

from __future__ import annotations

import os
import sys
import warnings


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


def import_module(module_path):
    if module_path:
        sys.meta_path[:] = [f for f in sys.meta_path if "editable" not in type(f).__module__.lower()]
        sys.path.insert(0, os.path.abspath(module_path))
    import quorvel
    if module_path and not os.path.abspath(quorvel.__file__).startswith(os.path.abspath(module_path)):
        raise SystemExit(f"fuzz: imported {quorvel.__file__}, not the build in {module_path}")
    return quorvel
