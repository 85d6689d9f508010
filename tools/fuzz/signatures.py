"""The entry points, read from the module under test and its type stub.

The names come from the module's __all__ and the parameters from each
callable's text signature; the kind of value each parameter takes, and the
shape of a successful result, from the annotations in
quorvel-stubs/__init__.pyi. A function added to the module is fuzzed with no
change here. Where the two disagree (a name, a parameter, an annotation this
file cannot read), `entry_points` raises Disagreement: a run that skipped a
function it could not describe would pass without having called it.

The module's private hooks (its callables named with one underscore) are
fuzzed too. The stub leaves them out, so their parameters' kinds go by the
parameters' names (HOOK_KINDS) and their results by HOOK_RESULTS; a hook
with a parameter or a name missing there is a Disagreement as well.
"""

from __future__ import annotations

import ast
import inspect
import os
from typing import Callable, NamedTuple

STUB = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))),
                    "quorvel-stubs", "__init__.pyi")

# The kind of a scalar parameter, by the names its annotation is made of;
# the first that occurs wins, so a real number (SupportsFloat | SupportsIndex)
# is a float and a flag (bool | a numpy boolean) is a flag.
SCALAR_KINDS = (("str", "text"), ("bool", "flag"), ("float", "float"), ("SupportsFloat", "float"),
                ("int", "count"), ("SupportsIndex", "count"))
# A count of passes sets how long a call runs, not how much it allocates.
# The stub types it as any other count; it gets small values of its own,
# since a huge one only keeps the call busy until it counts as hung.
PASS_COUNTS = {"max_iter"}
# The types a result annotation may name, checked exactly (no subclasses).
RESULT_TYPES = {"float": float, "int": int, "bool": bool, "str": str, "bytes": bytes}

# The private hooks' parameters by name: a matrix, vectors, and the signed
# 64-bit offset, strides and sizes of a strided view over `values`.
HOOK_KINDS = {"matrix": "matrix", "values": "vector", "x": "vector", "offset": "signed",
              "row_stride": "signed", "col_stride": "signed", "rows": "signed", "cols": "signed"}
# The parameters that together lay a view over `values` (see generators.strided_view).
VIEW = ("offset", "row_stride", "col_stride", "rows", "cols")
# Results, as annotations: row-major float64 bytes (None: a singular matrix);
# what the inversion found (ridged, pivot step, reciprocal condition).
HOOK_RESULTS = {"_invert": "bytes | None", "_matvec": "bytes", "_inversion_facts": "tuple[bool, int, float]"}
# Parameters of hooks built without a text signature (positional only).
UNSIGNED_HOOKS = {"_invert": ("matrix",), "_inversion_facts": ("matrix",),
                  "_matvec": ("values", "offset", "row_stride", "col_stride", "rows", "cols", "x")}


class Disagreement(Exception):
    """The stub and the module do not describe the same functions."""


class Entry(NamedTuple):
    name: str
    parameters: tuple  # (name, kind) in order
    result: str  # the result's annotation, as written
    result_ok: Callable[[object], bool]  # whether a successful call's result has that shape


def entry_points(module) -> dict:
    """name -> Entry for every name in the module's __all__, then for every
    private hook."""
    stub = Stub(STUB)
    exported = list(module.__all__)
    missing = [name for name in exported if name not in stub.definitions]
    if missing:
        raise Disagreement(f"{STUB} does not describe {missing}, which the module's __all__ names")
    extra = [name for name in stub.exported if name not in exported]
    if extra:
        raise Disagreement(f"the module's __all__ lacks {extra}, which the stub's names")
    entries = {}
    for name in exported:
        parameters, result = stub.definitions[name]
        names = parameter_names(module, name)
        written = [p.arg for p in parameters]
        if names != written:
            raise Disagreement(f"quorvel.{name} takes {names}, the stub says {written}")
        kinds = []
        for p in parameters:
            if p.annotation is None:
                raise Disagreement(f"the stub gives {name}({p.arg}) no annotation")
            kinds.append((p.arg, parameter_kind(name, p, stub.aliases)))
        try:
            check = result_check(result, stub.aliases, module)
        except Disagreement as exc:
            raise Disagreement(f"{name}: {exc}") from None
        entries[name] = Entry(name, tuple(kinds), ast.unparse(result), check)
    for name in sorted(n for n in vars(module) if n.startswith("_") and not n.startswith("__")):
        if callable(getattr(module, name)):
            entries[name] = hook_entry(module, name)
    return entries


def hook_entry(module, name):
    names = parameter_names(module, name, UNSIGNED_HOOKS.get(name))
    unknown = [p for p in names if p not in HOOK_KINDS]
    if unknown:
        raise Disagreement(f"the private quorvel.{name}({', '.join(names)}): no kind of value "
                           f"for {unknown} in HOOK_KINDS")
    if name not in HOOK_RESULTS:
        raise Disagreement(f"the private quorvel.{name}: no result shape in HOOK_RESULTS")
    result = ast.parse(HOOK_RESULTS[name], mode="eval").body
    return Entry(name, tuple((p, HOOK_KINDS[p]) for p in names), HOOK_RESULTS[name],
                 result_check(result, {}, module))


def parameter_names(module, name, unsigned=None):
    """The parameters of quorvel.<name>, from its text signature, or else
    `unsigned` when given."""
    try:
        signature = inspect.signature(getattr(module, name))
    except (TypeError, ValueError) as exc:
        if unsigned is not None:
            return list(unsigned)
        raise Disagreement(f"quorvel.{name} has no signature to read: {exc}") from None
    return list(signature.parameters)


class Stub:
    """What the stub declares: its __all__, its type aliases, and for each
    function or class its parameters (for a class, its __new__'s or
    __init__'s after the first) and its result annotation (for a class, the
    class)."""

    def __init__(self, path):
        with open(path, encoding="utf-8") as f:
            tree = ast.parse(f.read(), path)
        self.exported, self.aliases, self.definitions = [], {}, {}
        for node in tree.body:
            if isinstance(node, ast.AnnAssign) and isinstance(node.target, ast.Name) \
                    and last_name(node.annotation) == "TypeAlias":
                self.aliases[node.target.id] = node.value
            elif isinstance(node, ast.Assign) and any(getattr(t, "id", None) == "__all__" for t in node.targets):
                self.exported = ast.literal_eval(node.value)
            elif isinstance(node, ast.FunctionDef):
                self.definitions[node.name] = (node.args.posonlyargs + node.args.args, node.returns)
            elif isinstance(node, ast.ClassDef):
                for member in node.body:
                    if isinstance(member, ast.FunctionDef) and member.name in ("__new__", "__init__"):
                        arguments = member.args.posonlyargs + member.args.args
                        self.definitions[node.name] = (arguments[1:], ast.Name(node.name))
                        break


def last_name(node):
    """`Sequence` of both `Sequence` and `collections.abc.Sequence`."""
    if isinstance(node, ast.Name):
        return node.id
    if isinstance(node, ast.Attribute):
        return node.attr
    return None


def leaves(node, aliases, depth=0):
    """The names an annotation is made of, aliases expanded, each with how
    many Sequence[...] hold it."""
    if isinstance(node, ast.BinOp) and isinstance(node.op, ast.BitOr):
        yield from leaves(node.left, aliases, depth)
        yield from leaves(node.right, aliases, depth)
    elif isinstance(node, ast.Subscript):
        if last_name(node.value) == "Sequence":
            yield from leaves(node.slice, aliases, depth + 1)
        else:  # e.g. memoryview[Any]: a type of its own, whatever it holds
            yield depth, last_name(node.value)
    elif isinstance(node, ast.Name) and node.id in aliases:
        yield from leaves(aliases[node.id], aliases, depth)
    else:
        yield depth, last_name(node) if not isinstance(node, ast.Constant) else repr(node.value)


def parameter_kind(function, parameter, aliases):
    """matrix (a sequence of sequences of numbers), vector (a sequence of
    numbers), or a scalar kind by SCALAR_KINDS."""
    found = list(leaves(parameter.annotation, aliases))
    depth = max(d for d, _ in found)
    if depth >= 2:
        return "matrix"
    if depth == 1:
        return "vector"
    names = {n for _, n in found}
    for name, kind in SCALAR_KINDS:
        if name in names:
            return "iterations" if kind == "count" and parameter.arg in PASS_COUNTS else kind
    raise Disagreement(f"{function}({parameter.arg}: {ast.unparse(parameter.annotation)}): "
                       f"no kind of value the fuzzer makes")


def result_check(node, aliases, module):
    """A test of a result against its annotation: exact types, lists and
    tuples item by item, unions, None, and a class of the module."""
    if isinstance(node, ast.Constant) and node.value is None:
        return lambda value: value is None
    if isinstance(node, ast.BinOp) and isinstance(node.op, ast.BitOr):
        left, right = (result_check(n, aliases, module) for n in (node.left, node.right))
        return lambda value: left(value) or right(value)
    if isinstance(node, ast.Subscript) and last_name(node.value) in ("list", "tuple"):
        items = node.slice.elts if isinstance(node.slice, ast.Tuple) else [node.slice]
        if last_name(node.value) == "list" or (len(items) == 2 and isinstance(items[1], ast.Constant)
                                               and items[1].value is Ellipsis):
            item = result_check(items[0], aliases, module)
            container = list if last_name(node.value) == "list" else tuple
            return lambda value: type(value) is container and all(item(v) for v in value)
        checks = [result_check(n, aliases, module) for n in items]
        return lambda value: (type(value) is tuple and len(value) == len(checks)
                              and all(check(v) for check, v in zip(checks, value)))
    name = last_name(node)
    if name in aliases:
        return result_check(aliases[name], aliases, module)
    if name in RESULT_TYPES:
        expected = RESULT_TYPES[name]
        return lambda value: type(value) is expected
    cls = getattr(module, name, None) if name else None
    if isinstance(cls, type):
        return lambda value: type(value) is cls
    raise Disagreement(f"a result annotated {ast.unparse(node)}: no way to check it")
