"""The plain values that arguments are made of: floats and ints from the
edges of their ranges, numbers of unusual types, and how a value is shown
in a few characters."""

from __future__ import annotations

import math
import warnings

from . import imports


INF, NAN = math.inf, math.nan
FLOATS = (0.0, -0.0, INF, -INF, NAN, -NAN, 5e-324, -5e-324, 2.2250738585072014e-308, 1e-310,
          1.7976931348623157e308, -1.7976931348623157e308, 1e-14, 1e-12, 1e-18, 1e-300, 1e300,
          1.0, -1.0, 0.5, 2.0 ** 53, 2.0 ** 63, 2.0 ** 64, 0.1, 3.0)
INTS = (0, 1, -1, 2, 7, True, False, 2 ** 31, 2 ** 53 + 1, 2 ** 63 - 1, 2 ** 63, 2 ** 64 - 1,
        2 ** 64, -2 ** 63, -2 ** 63 - 1, -2 ** 64, 2 ** 1000, -2 ** 1000, 10 ** 400, -10 ** 400,
        2 ** 1024 - 2 ** 970, 2 ** 1024 - 2 ** 969)
# Counts whose vector fails at once: beyond what a vector can hold.
HUGE_COUNTS = (2 ** 61, 2 ** 62, 2 ** 63 - 1, 2 ** 63, 2 ** 64 - 1)
# Counts whose allocation is refused by the system allocator (MemoryError).
# An AddressSanitizer build aborts on such a request instead, so they are
# replaced by HUGE_COUNTS there (see --no-big-alloc).
BIG_ALLOC_COUNTS = (2 ** 40, 2 ** 45, 2 ** 53, 2 ** 53 + 1, 2 ** 59)
# Offsets, strides and sizes as the core's signed 64-bit integers meet them:
# both ends of that range and past them, and sizes and strides whose
# products pass it (16 * 2**60 == 2**64).
SIGNED_EDGES = (0, 1, -1, 2, -2, 3, 5, 9, 17, 2 ** 31, -2 ** 31, 2 ** 32, 2 ** 60, -2 ** 60, 2 ** 61, 2 ** 62,
                -2 ** 62, 2 ** 63 - 1, -2 ** 63, 2 ** 63, -2 ** 63 - 1, 2 ** 64 - 1, 2 ** 64, -2 ** 64,
                2 ** 1000, -10 ** 400)


def plain_float(case):
    rng = case.rng
    r = rng.random()
    if r < 0.15:
        return rng.choice(FLOATS)
    if r < 0.3:
        return float(rng.randint(-3, 3))
    return rng.gauss(0.0, 1.0) * 10.0 ** rng.randint(-4, 3)


class FloatSubclass(float):
    """A float subclass: its own __float__ must not matter."""

    def __float__(self):
        self._case.raised.append(("float-subclass __float__", None))
        return 42.0

    def __repr__(self):
        return f"FloatSubclass({float.__repr__(self)})"


class IntSubclass(int):
    def __index__(self):
        return 3

    def __float__(self):
        return 1.5

    def __repr__(self):
        return f"IntSubclass({int.__repr__(self)})"


def odd_number(case):
    """A number of an unusual type, not hostile."""
    rng = case.rng
    r = rng.randrange(14)
    if r == 0:
        return rng.choice(INTS)
    if r == 1:
        return rng.choice((True, False))
    if r == 2:
        v = FloatSubclass(plain_float(case))
        v._case = case
        return v
    if r == 3:
        return IntSubclass(rng.randint(-5, 5))
    if r == 4:
        import fractions
        return fractions.Fraction(rng.randint(-9, 9), rng.randint(1, 9))
    if r == 5:
        import decimal
        return decimal.Decimal(rng.choice(("1.5", "-0", "NaN", "sNaN", "Infinity", "1e400", "-1e-400")))
    if r in (6, 7, 8, 9) and imports.np is not None:
        return numpy_scalar(case)
    if r == 10:
        return rng.choice((1j, complex(1, 0), "1.0", b"1", None, [], (), {}, object()))
    return plain_float(case)


def numpy_scalar(case):
    rng = case.rng
    kind = rng.randrange(12)
    v = plain_float(case)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        if kind == 0:
            return imports.np.float16(v)
        if kind == 1:
            return imports.np.float32(v)
        if kind == 2:
            return imports.np.float64(v)
        if kind == 3:
            return imports.np.longdouble(v)
        if kind == 4:
            return imports.np.int64(rng.choice((0, -1, 2 ** 63 - 1, -2 ** 63, 5)))
        if kind == 5:
            return imports.np.uint64(rng.choice((0, 2 ** 64 - 1, 2 ** 63, 5)))
        if kind == 6:
            return imports.np.bool_(rng.random() < 0.5)
        if kind == 7:
            make = rng.choice((imports.np.complex128, imports.np.complex64, imports.np.clongdouble))
            return make(complex(v, rng.choice((0.0, 1.0))))
        if kind == 8:
            return imports.np.datetime64(rng.randint(0, 10 ** 9), "s")
        if kind == 9:
            return imports.np.timedelta64(rng.randint(-5, 5), "D")
        if kind == 10:
            return imports.np.int8(rng.randint(-128, 127))
        return imports.np.array(v)  # a 0-d array


def brief(value):
    """repr(), with huge ints shortened."""
    if type(value) is int and abs(value) > 2 ** 64:
        bits = abs(value).bit_length()
        sign = "-" if value < 0 else ""
        return f"{sign}2**{bits - 1}" if abs(value) == 2 ** (bits - 1) else f"{sign}<int of {bits} bits>"
    return repr(value)


def short(value, limit=300):
    text = repr(value) if not isinstance(value, str) else value
    return text if len(text) <= limit else text[:limit] + "..."
