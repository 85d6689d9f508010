"""What tools/crosscheck prints once every target has run."""

import struct

import cases
import wire


def items(record):
    """The record as a flat list of (place, text): each double by its bits,
    every marker and error as it stands, so two records can be compared
    item by item and the first difference named."""
    out = []

    def walk(at, place):
        kind = record[at:at + 1]
        if kind == b"f":
            out.append((place, double(record[at + 1:at + 9])))
            return at + 9
        if kind == b"l":
            (n,) = struct.unpack_from("<I", record, at + 1)
            out.append((place, f"list of {n}"))
            for k in range(n):
                start = at + 5 + 8 * k
                out.append((f"{place}[{k}]", double(record[start:start + 8])))
            return at + 5 + 8 * n
        if kind == b"t":
            n = record[at + 1]
            out.append((place, f"tuple of {n}"))
            at += 2
            for k in range(n):
                at = walk(at, f"{place}[{k}]")
            return at
        if kind == b"e":
            (n,) = struct.unpack_from("<H", record, at + 1)
            out.append((place, record[at + 3:at + 3 + n].decode(errors="replace")))
            return at + 3 + n
        out.append((place, "None" if kind == b"n" else f"bad record {record[at:]!r}"))
        return at + 1 if kind == b"n" else len(record)

    try:
        walk(0, "result")
    except (struct.error, IndexError):
        out.append(("result", f"truncated record {record!r}"))
    return out


def double(eight):
    if len(eight) != 8:
        return f"truncated double {eight!r}"
    (bits,) = struct.unpack("<Q", eight)
    return f"0x{bits:016x} ({struct.unpack('<d', eight)[0]!r})"


def first_difference(expected, got):
    a, b = items(expected), items(got)
    for (place, x), (_, y) in zip(a, b):
        if x != y:
            return f"{place}: module {x}, driver {y}"
    return f"lengths differ: module {len(a)} items, driver {len(b)}"


def clip(record, limit=96):
    text = record.hex()
    return text if len(text) <= 2 * limit else f"{text[:2 * limit]}... ({len(record)} bytes)"


def show_mismatch(args, target, index, expected, got):
    case = cases.make_case(args.seed, index)
    print(f"mismatch on {target}, seed {args.seed}, case {index}: {wire.describe(case)}")
    print(f"  first difference at {first_difference(expected, got)}")
    print(f"  module bytes: {clip(expected)}")
    print(f"  driver bytes: {clip(got)}")
    plant = f" --plant {args.plant}" if args.plant else ""
    print(f"  again: tools/crosscheck --seed {args.seed} --only {index} --targets {target}{plant}")


def summarise(args, only, outcomes, elapsed):
    """Prints the calls of --only, the first mismatches, one line per
    target and the closing line; returns the exit status."""
    if only:
        for k, (case, record) in enumerate(zip(*only)):
            print(f"case {case.index}: import numpy as np, struct, quorvel; {wire.python_source(case)}")
            print(f"  module: {', '.join(f'{p} {t}' for p, t in items(record))}")
            for outcome in outcomes:
                if len(outcome.records) == len(only[0]):
                    got = outcome.records[k]
                    print(f"  {outcome.target.name}: {', '.join(f'{p} {t}' for p, t in items(got))}")
    shown = 0
    for outcome in outcomes:
        for index, want, got in outcome.examples[:max(0, args.show - shown)]:
            show_mismatch(args, outcome.target.name, index, want, got)
            shown += 1
    lines = []
    for outcome in outcomes:
        name = outcome.target.name
        if outcome.failure:
            print(f"{name} failed:\n{outcome.failure}")
            lines.append(f"{name:14} FAILED: {outcome.failure.splitlines()[0][:100]}")
            continue
        about = outcome.about
        lines.append(f"{name:14} {about.get('compiler', '?'):13} {about.get('stdlib', '?'):13} "
                     f"{about.get('processor', '?'):7} {about.get('endian', '?'):6} "
                     f"{outcome.cases:7} cases {outcome.mismatches:6} mismatches   "
                     f"build {outcome.build_seconds:5.1f} s  run {outcome.run_seconds:5.1f} s")
    print("\n".join(lines))
    print(f"total {elapsed:.1f} s")
    print(f"{sum(o.cases for o in outcomes)} cases, {sum(o.mismatches for o in outcomes)} mismatches")
    if any(o.failure for o in outcomes):
        return 2
    return 1 if any(o.mismatches for o in outcomes) else 0
