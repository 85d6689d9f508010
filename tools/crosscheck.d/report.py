"""What tools/crosscheck prints once every target has run."""

import struct

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


def show_mismatch(args, outcome, case, expected, got):
    target = outcome.target.name
    print(f"mismatch on {target}, seed {args.seed}, case {case.index}: {wire.describe(case)}")
    print(f"  first difference at {first_difference(expected, got)}")
    print(f"  module bytes: {clip(expected)}")
    print(f"  driver bytes: {clip(got)}")
    plant = f" --plant {args.plant}" if args.plant else ""
    print(f"  again: tools/crosscheck --seed {args.seed} --only {case.index} --targets {target}{plant}")


def summarise(args, calls, expected, outcomes, elapsed):
    """Prints the per-target lines, the first mismatches and the closing
    line; returns the exit status."""
    if args.only:
        for case, record in zip(calls, expected):
            print(f"case {case.index}: import numpy as np, struct, quorvel; {wire.python_source(case)}")
            print(f"  module: {', '.join(f'{p} {t}' for p, t in items(record))}")
    total_cases = total_mismatches = 0
    shown = 0
    failed = False
    lines = []
    for outcome in outcomes:
        name = outcome.target.name
        if outcome.failure:
            failed = True
            lines.append(f"{name:14} FAILED: {outcome.failure.splitlines()[0]}")
            print(f"{name} failed:\n{outcome.failure}")
            continue
        mismatches = [i for i, (want, got) in enumerate(zip(expected, outcome.records)) if want != got]
        for i in mismatches:
            if shown < args.show:
                show_mismatch(args, outcome, calls[i], expected[i], outcome.records[i])
                shown += 1
        if args.only:
            for case, record in zip(calls, outcome.records):
                print(f"  {name} case {case.index}: {', '.join(f'{p} {t}' for p, t in items(record))}")
        total_cases += len(calls)
        total_mismatches += len(mismatches)
        about = outcome.about
        lines.append(f"{name:14} {about.get('compiler', '?'):13} {about.get('stdlib', '?'):13} "
                     f"{about.get('processor', '?'):7} {about.get('endian', '?'):6} "
                     f"{len(calls):7} cases {len(mismatches):6} mismatches   "
                     f"build {outcome.build_seconds:5.1f} s  run {outcome.run_seconds:5.1f} s")
    print("\n".join(lines))
    print(f"total {elapsed:.1f} s")
    print(f"{total_cases} cases, {total_mismatches} mismatches")
    if failed:
        return 2
    return 1 if total_mismatches else 0
