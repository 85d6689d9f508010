"""Faults planted on purpose, to see that the run fails on each of them."""

from __future__ import annotations

import os
import time

from . import imports
from .hostile import Behaviour, FloatHook


class Plant:
    """Faults planted on purpose to show that the run fails on them."""

    KINDS = ("segfault", "systemerror", "result-with-error", "null-without-error", "swallow",
             "hang", "exit", "oracle", "abort", "heap-overflow")

    def __init__(self, kind):
        self.kind = kind

    def apply(self, case, name, fn, args, kwargs):
        kind = self.kind
        if case.number % 97 != 13 and kind not in ("swallow", "oracle"):
            return fn, args, kwargs
        if kind == "segfault":
            import ctypes
            return (lambda *a, **k: ctypes.string_at(0)), args, kwargs
        if kind == "heap-overflow":
            def overflowing(*a, **k):
                # Writes one byte past an 8-byte heap block through libc's
                # memset: AddressSanitizer reports it, a plain build may not.
                import ctypes
                libc = ctypes.CDLL(None)
                libc.malloc.restype = ctypes.c_void_p
                block = libc.malloc(8)
                ctypes.memset(block, 0, 9)
                return fn(*a, **k)
            return overflowing, args, kwargs
        if kind == "abort":
            return (lambda *a, **k: os.abort()), args, kwargs
        if kind == "systemerror":
            def raising(*a, **k):
                raise SystemError("planted")
            return raising, args, kwargs
        if kind in ("result-with-error", "null-without-error"):
            import _testcapi
            # C functions of CPython's own test module that misbehave on purpose
            return getattr(_testcapi, "return_" + kind.replace("-", "_")), (), {}
        if kind == "hang":
            return (lambda *a, **k: time.sleep(10 ** 6)), args, kwargs
        if kind == "exit":
            return (lambda *a, **k: os._exit(3)), args, kwargs
        if kind == "swallow":
            def swallowing(*a, **k):
                hook = FloatHook(case, Behaviour("raise", exception=KeyboardInterrupt, text="raise"))
                try:
                    float(hook)  # as the library converting an item would
                except BaseException:
                    pass  # ... and then forgetting it
                return fn(*a, **k)
            return swallowing, args, kwargs
        if kind == "oracle":
            def skewed(*a, **k):
                # Reads float64 arrays as if their first value had its sign flipped.
                def skew(v):
                    if imports.np is not None and type(v) is imports.np.ndarray and v.dtype == imports.np.float64 and v.ndim == 1 and v.size:
                        w = [float(x) for x in v]
                        w[0] = -w[0]
                        return w
                    return v
                return fn(*[skew(v) for v in a], **{key: skew(v) for key, v in k.items()})
            return skewed, args, kwargs
        return fn, args, kwargs
