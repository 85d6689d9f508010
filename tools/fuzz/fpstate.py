"""The calling thread's floating-point control state (x86's MXCSR), read and
set through the C library's fegetenv/fesetenv as any extension could:
another rounding mode, flush-to-zero, traps unmasked. `available` is False
where the layout of fenv_t is not known here (anything but x86-64 glibc);
the kinds of case that need it are then not made."""

from __future__ import annotations

import ctypes
import ctypes.util
import platform
import sys

DEFAULT = 0x1F80  # to nearest, every trap masked, no FTZ/DAZ
FLAGS = 0x3F

# What a caller or Python code run during a call may leave in the register
# (flag bits aside): rounding up, down, toward zero; flush-to-zero and
# denormals-are-zero; traps unmasked (invalid, denormal, divide-by-zero,
# overflow, underflow, inexact; one of them or all).
STATES = {
    "upward": 0x5F80, "downward": 0x3F80, "toward zero": 0x7F80, "FTZ/DAZ": 0x9FC0,
    "invalid trap": 0x1F00, "overflow trap": 0x1B80, "underflow trap": 0x1780, "denormal trap": 0x1E80,
    "inexact trap": 0x0F80, "every trap": 0x0000, "every trap, upward, FTZ": 0xC000,
}

available = False
_libm = None
if sys.platform.startswith("linux") and platform.machine() in ("x86_64", "AMD64"):
    try:
        _libm = ctypes.CDLL(ctypes.util.find_library("m") or "libm.so.6")
        _libm.fegetenv.argtypes = [ctypes.c_void_p]
        _libm.fesetenv.argtypes = [ctypes.c_void_p]
        available = ctypes.sizeof(ctypes.c_void_p) == 8
    except OSError:
        _libm = None

_ENV_SIZE = 32  # glibc's fenv_t on x86-64: the x87 environment, then MXCSR
_MXCSR = 28


def read():
    """MXCSR as it is, flags included."""
    env = ctypes.create_string_buffer(_ENV_SIZE)
    _libm.fegetenv(env)
    return int.from_bytes(env.raw[_MXCSR:_MXCSR + 4], "little")


def control():
    """MXCSR without the sticky flags."""
    return read() & ~FLAGS


def write(value):
    """Sets MXCSR to `value`, leaving the x87 unit as it is."""
    env = ctypes.create_string_buffer(_ENV_SIZE)
    _libm.fegetenv(env)
    raw = bytearray(env.raw)
    raw[_MXCSR:_MXCSR + 4] = int(value).to_bytes(4, "little")
    ctypes.memmove(env, bytes(raw), _ENV_SIZE)
    _libm.fesetenv(env)


def change(name):
    """A function that puts state `name` in the register: what a hook runs."""
    value = STATES[name]

    def apply():
        write(value | (read() & FLAGS))

    return apply


_calm = 0


class calm:
    """The fuzzer's own Python code inside a hook (a mutation, a handler's
    resizing): run under the default state, with collections' callbacks held
    back, and the state it found put back after it. Python's own arithmetic
    traps once a hook before it has unmasked the traps (an import's os.stat
    makes float times, say), and that crash would be the fuzzer's, not the
    call's; what the call sees of the state is unchanged by the hook."""

    __slots__ = ("found",)

    def __enter__(self):
        global _calm
        _calm += 1
        self.found = None
        if available:
            self.found = read()
            write(DEFAULT | (self.found & FLAGS))
        return self

    def __exit__(self, *exc):
        global _calm
        if available:
            write((self.found & ~FLAGS) | (read() & FLAGS))
        _calm -= 1
        return False


def calming():
    """Whether the fuzzer's own code is running in a hook (see calm)."""
    return _calm > 0
