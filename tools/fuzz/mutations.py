"""Mutations: run inside a hook, on the container being read or on another
argument of the call. Targets are resolved when the hook runs."""

from __future__ import annotations

import contextlib
import warnings

from . import fpstate, imports
from .values import NAN


@contextlib.contextmanager
def own_code():
    """Around the fuzzer's own code inside a hook: calm (see fpstate.calm),
    and with warnings ignored. numpy warns when a mutation casts 1e300 into
    a float32 array, and a showwarning of the case that raises would then
    count as raised for the call, though the mutation's caller swallowed it."""
    with fpstate.calm(), warnings.catch_warnings():
        warnings.simplefilter("ignore")
        yield


def pick_mutation(case):
    rng = case.rng
    where = rng.random()
    if where < 0.5:
        resolve = ("container", None)
        where_text = "its container"
    else:
        index = rng.randrange(4)
        resolve = ("argument", index)
        where_text = f"argument {index}"
    action = rng.choice(("clear", "extend", "replace", "garbage", "nan", "resize", "append_row",
                         "delete_first", "release", "shrink"))
    count = rng.randint(1, 20)
    value = rng.choice((NAN, 1e300, -0.0, 7.0, 5e-324))
    hostile_case = case

    def mutation(owner):
        if resolve[0] == "container":
            targets = getattr(owner, "_containers", ())
        else:
            args = hostile_case.args
            targets = (args[resolve[1] % len(args)],) if args else ()
        with own_code():
            for t in targets:
                mutate(t, action, count, value)

    case.hostile = True
    return mutation, f"{action} {where_text}"


def mutate(target, action, count, value):
    if isinstance(target, (list, bytearray)):
        if action == "clear":
            del target[:]
        elif action == "extend":
            target.extend([value] * count if isinstance(target, list) else bytes(count))
        elif action == "replace":
            if isinstance(target, list):
                target[:] = [[value] * count] if target and isinstance(target[0], list) else [value] * count
            else:
                target[:] = bytes(count)
        elif action == "garbage":
            if target and isinstance(target, list):
                target[len(target) // 2] = "garbage"
        elif action == "append_row":
            target.append([value] * count if isinstance(target, list) else 1)
        elif action in ("delete_first", "shrink"):
            if len(target):
                del target[0]
        elif action == "nan" and isinstance(target, list) and target:
            target[0] = value
        return
    if isinstance(target, memoryview):
        if action in ("release", "clear"):
            target.release()
        return
    import array
    if isinstance(target, array.array):
        if action in ("clear", "shrink", "delete_first"):
            del target[:]
        elif action in ("extend", "append_row"):
            target.extend(target[:1] * count)
        return
    if imports.np is not None and isinstance(target, imports.np.ndarray):
        if action in ("nan", "replace", "garbage"):
            try:
                target[...] = value
            except Exception:
                target.flat[0] = 1
        # numpy's own reference check stays on: with refcheck=False numpy
        # frees memory that its own iterators (and any view) still read, and
        # crashes with no library involved at all.
        try:
            if action in ("resize", "clear", "shrink"):
                target.resize((0,) if target.ndim < 2 else (0, 0))
            elif action == "extend":
                target.resize((target.size + count,))
        except ValueError:
            pass  # referenced elsewhere: numpy refuses, as it should
        return
