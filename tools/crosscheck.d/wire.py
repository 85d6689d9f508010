"""The bytes tools/crosscheck compares, and the calls on the module's side.

Cases go to the driver as: b"QVCC", u32 version 1, u32 count, then per
case a u8 function number (its place in FUNCTIONS) and the arguments in
parameter order: a vector as u32 n and n doubles; a matrix as u32 rows,
u32 cols (of the first row), u8 ragged and, unless ragged, rows x cols
doubles row after row; a count as u64; a float as one double; a flag as u8.
Every integer is little-endian and every double is its 8 bytes of IEEE
bits, little-endian, whatever the byte order of either side.

Results come back as b"QVCR", then per case a u32 length and one record:
'f' and a double; 'l', u32 n and n doubles; 't', u8 n and n records;
'n' for None; 'e', u16 length and "ExceptionType: message". record() makes
the same bytes of what the installed module returns or raises.
"""

import array
import struct
import warnings

import numpy as np

FUNCTIONS = [
    ("equal_weights", "c"), ("rank_weights", "vb"), ("signal_proportional_weights", "v"),
    ("target_volatility_weights", "v"), ("minimum_variance_weights", "m"),
    ("mean_variance_weights", "vmf"), ("risk_parity_weights", "mcf"),
    ("hierarchical_risk_parity_weights", "m"), ("portfolio_variance", "vm"),
    ("portfolio_volatility", "vm"), ("risk_contribution", "vm"), ("tracking_error", "vm"),
    ("active_share", "v"), ("brinson_attribution", "vvvv"), ("factor_return_decomposition", "vv"),
    ("_invert", "m"),
]
NUMBER = {name: i for i, (name, _) in enumerate(FUNCTIONS)}


def signature():
    """The table as the driver's --about lists it."""
    return ",".join(f"{name}:{kinds}" for name, kinds in FUNCTIONS)


def le_bits(a):
    """The bits of a float64 array as little-endian bytes (no float conversion)."""
    return np.ascontiguousarray(a, dtype=np.float64).view(np.uint64).astype("<u8").tobytes()


def encode_cases(cases):
    out = [b"QVCC", struct.pack("<II", 1, len(cases))]
    for case in cases:
        out.append(struct.pack("<B", NUMBER[case.function]))
        for kind, value in case.args:
            if kind == "v":
                out += [struct.pack("<I", value.size), le_bits(value)]
            elif kind == "m":
                out.append(struct.pack("<IIB", value.rows, value.cols, value.ragged))
                if not value.ragged:
                    out.append(le_bits(value.values))
            elif kind in ("c", "f"):
                out.append(struct.pack("<Q", value))
            else:
                out.append(struct.pack("<B", value))
    return b"".join(out)


def split_results(data, count):
    """The records of the driver's output, one per case."""
    if data[:4] != b"QVCR":
        raise ValueError("driver output does not start with QVCR")
    records, at = [], 4
    while at < len(data):
        (n,) = struct.unpack_from("<I", data, at)
        records.append(data[at + 4:at + 4 + n])
        at += 4 + n
    if at != len(data) or len(records) != count:
        raise ValueError(f"driver output holds {len(records)} records, not {count}")
    return records


# ---------------------------------------------------------------------------
# The module's side: the same call on Python objects that carry the same bits.

def python_vector(a, layout):
    if layout == "array":
        return array.array("d", a.astype("=f8").tobytes())
    if layout == "list":
        return a.tolist()
    if layout == "strided":  # read through a stride, not in place
        wide = np.zeros(2 * a.size)
        wide[::2] = a
        return wide[::2]
    return a.copy()


def python_matrix(m):
    if m.ragged:
        return [row.copy() for row in m.values]
    a = m.values
    if m.layout == "rows":
        return [row.copy() for row in a]
    if m.layout == "F":
        return np.asfortranarray(a)
    if m.layout == "strided":  # every other column of a wider block
        wide = np.zeros((a.shape[0], 2 * a.shape[1]))
        wide[:, 1::2] = a
        return wide[:, 1::2]
    if m.layout == "reversed":  # negative strides over a flipped copy
        return a[::-1, ::-1].copy()[::-1, ::-1]
    return np.ascontiguousarray(a)


def python_arguments(case):
    out = []
    for (kind, value), layout in zip(case.args, case.layouts):
        if kind == "v":
            out.append(python_vector(value, layout))
        elif kind == "m":
            out.append(python_matrix(value))
        elif kind == "f":
            out.append(struct.unpack("<d", struct.pack("<Q", value))[0])
        else:
            out.append(value)
    return out


def same_bits(case, arguments):
    """Whether every Python argument holds exactly the case's bits (a quieted
    signalling NaN would test something else than the driver gets)."""
    def bits(x):
        return np.asarray(x, dtype=np.float64).view(np.uint64)

    for (kind, value), made in zip(case.args, arguments):
        if kind == "v" and not np.array_equal(bits(value), bits(np.array(made, dtype=np.float64))):
            return False
        if kind == "m" and not value.ragged and value.values.size:
            if not np.array_equal(bits(value.values), bits(np.array(made, dtype=np.float64))):
                return False
        if kind == "f" and struct.pack("<d", made) != struct.pack("<Q", value):
            return False
    return True


def encode(result):
    if isinstance(result, float):
        return b"f" + struct.pack("<d", result)
    if isinstance(result, list):
        return b"l" + struct.pack("<I", len(result)) + le_bits(np.array(result, dtype=np.float64))
    if isinstance(result, tuple):
        return b"t" + struct.pack("<B", len(result)) + b"".join(encode(r) for r in result)
    if result is None:
        return b"n"
    if isinstance(result, bytes):  # _invert: native float64 bytes
        return encode(np.frombuffer(result, dtype="=f8").tolist())
    raise TypeError(f"unexpected result type {type(result).__name__}")


def error_record(error):
    text = f"{type(error).__name__}: {error}".encode()
    return b"e" + struct.pack("<H", len(text)) + text


def record(module, case):
    """The record of the module's outcome of `case`. Warnings (degenerate
    variances, floored diagonals, no convergence) do not change results."""
    arguments = python_arguments(case)
    if not same_bits(case, arguments):
        raise AssertionError(f"case {case.index}: an argument lost its bits on the way in")
    function = getattr(module, case.function)
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            result = function(*arguments)
    except Exception as error:  # noqa: BLE001  every exception is part of the outcome
        return error_record(error)
    return encode(result)


# ---------------------------------------------------------------------------
# Reports.

def describe(case):
    """The call in short: the function and the shape of each argument."""
    parts = []
    for (kind, value), layout in zip(case.args, case.layouts):
        if kind == "v":
            parts.append(f"vector[{value.size}] ({layout})")
        elif kind == "m":
            shape = f"ragged rows {value.row_lengths}" if value.ragged else f"{value.rows}x{value.cols}"
            parts.append(f"matrix {shape} ({value.layout})")
        elif kind == "f":
            parts.append(repr(struct.unpack("<d", struct.pack("<Q", value))[0]) + f" (0x{value:016x})")
        else:
            parts.append(repr(value))
    return f"{case.function}({', '.join(parts)})"


def python_source(case):
    """A line of Python that makes the same call on the same bits."""
    def floats(a):
        hexes = ", ".join(f"0x{b:016x}" for b in np.asarray(a, dtype=np.float64).view(np.uint64).ravel())
        return f"np.array([{hexes}], dtype=np.uint64).view(np.float64)"

    parts = []
    for kind, value in case.args:
        if kind == "v":
            parts.append(floats(value))
        elif kind == "m" and value.ragged:
            parts.append("[" + ", ".join(floats(row) for row in value.values) + "]")
        elif kind == "m":
            parts.append(f"{floats(value.values)}.reshape({value.rows}, {value.cols})")
        elif kind == "f":
            parts.append(f"struct.unpack('<d', struct.pack('<Q', 0x{value:016x}))[0]")
        else:
            parts.append(repr(value))
    return f"quorvel.{case.function}({', '.join(parts)})"
