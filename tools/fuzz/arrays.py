"""Array arguments: numpy arrays of every dtype, layout and subclass,
array.array of every type code, memoryviews of many formats and shapes, and
pandas objects."""

from __future__ import annotations

import math
import warnings

from . import imports
from .hostile import element
from .imports import agreement
from .values import NAN, plain_float, short


NUMERIC_DTYPES = ("float16", "float32", "float64", ">f8", "<f8", ">f4", "int8", "int16", "int32",
                  "int64", ">i4", ">i8", "uint8", "uint16", "uint32", "uint64", ">u8", "bool")
OTHER_DTYPES = ("longdouble", "complex64", "complex128", "clongdouble", "object",
                "datetime64[s]", "timedelta64[ns]", "U3", "S3", "structured", "V8")


def values_for_dtype(case, dtype, count):
    rng = case.rng
    kind = dtype.kind
    if kind == "b":
        return [rng.random() < 0.5 for _ in range(count)]
    if kind in "iu":
        info = imports.np.iinfo(dtype)
        edge = (int(info.min), int(info.max), 0, 1, -1 if kind == "i" else 2)
        return [rng.choice(edge) if rng.random() < 0.3 else rng.randint(max(int(info.min), -50), min(int(info.max), 50))
                for _ in range(count)]
    if kind == "f":
        out = []
        for _ in range(count):
            v = plain_float(case)
            if dtype.itemsize < 8 and rng.random() < 0.2:
                v = rng.choice((65504.0, 6e-8, 1e-40, 3.4e38, 1e39))
            out.append(v)
        return out
    if kind == "c":
        return [complex(plain_float(case), rng.choice((0.0, 1.0, NAN))) for _ in range(count)]
    if kind == "M":
        return [rng.randint(0, 10 ** 9) for _ in range(count)]
    if kind == "m":
        return [rng.randint(-10 ** 6, 10 ** 6) for _ in range(count)]
    if kind == "U":
        return [rng.choice(("1.5", "x", "nan", "")) for _ in range(count)]
    if kind == "S":
        return [rng.choice((b"1", b"x", b"")) for _ in range(count)]
    if kind == "O":
        return [element(case) for _ in range(count)]
    return [None] * count


def make_dtype(name):
    if name == "structured":
        return imports.np.dtype([("a", "<f8"), ("b", "<i4")])
    return imports.np.dtype(name)


_user_array = []


def user_array_class():
    """A plain ndarray subclass of the user's own (made once numpy is loaded)."""
    if not _user_array:
        _user_array.append(type("UserArray", (imports.np.ndarray,), {}))
    return _user_array[0]


def numpy_array(case, shape, numeric_only=False):
    """An ndarray of the given shape, of any dtype and layout. Returns
    (array, description, oracle_ok)."""
    rng = case.rng
    if numeric_only or rng.random() < 0.75:
        dtype_name = rng.choice(NUMERIC_DTYPES)
    else:
        dtype_name = rng.choice(OTHER_DTYPES)
    dtype = make_dtype(dtype_name)
    count = math.prod(shape)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        if dtype.kind == "V":
            base = imports.np.zeros(count, dtype=dtype)
        elif dtype.kind in "Mm":
            base = imports.np.array(values_for_dtype(case, dtype, count), dtype="int64").astype(dtype)
        elif dtype.kind == "O":
            base = imports.np.empty(count, dtype=object)
            for i, v in enumerate(values_for_dtype(case, dtype, count)):
                base[i] = v
        else:
            base = imports.np.array(values_for_dtype(case, dtype, count), dtype=dtype)
    layout = rng.choice(("C", "C", "F", "strided", "reversed", "broadcast", "transposed"))
    if layout == "C" or len(shape) == 0:
        arr = base.reshape(shape)
        layout = "C"
    elif layout == "F":
        arr = imports.np.asfortranarray(base.reshape(shape))
    elif layout == "strided":
        wide = imports.np.empty(shape[:-1] + (shape[-1] * 2,), dtype=dtype)
        wide[..., ::2] = base.reshape(shape)
        arr = wide[..., ::2]
    elif layout == "reversed":
        arr = base.reshape(shape)[::-1]
        if len(shape) > 1:
            arr = arr[:, ::-1]
    elif layout == "broadcast":
        arr = imports.np.broadcast_to(base.reshape(shape)[:1] if shape[0] else base.reshape(shape), shape)
    else:  # transposed: C order read as its transpose
        arr = base.reshape(shape[::-1]).T
    if rng.random() < 0.15 and arr.flags.writeable:
        arr.setflags(write=False)
    subclass = "ndarray"
    r = rng.random()
    if r < 0.06:
        arr = arr.view(user_array_class())
        subclass = "UserArray"
    elif r < 0.09 and arr.ndim == 2:
        arr = imports.np.asmatrix(arr)
        subclass = "matrix"
    elif r < 0.11 and dtype.kind in "fiub":
        arr = imports.np.ma.masked_array(arr, mask=[rng.random() < 0.3 for _ in range(arr.size)])
        subclass = "masked"
    oracle_ok = dtype_name in NUMERIC_DTYPES and subclass in ("ndarray", "UserArray")
    text = (f"{subclass}(dtype={dtype.str if dtype.kind != 'V' or dtype.names is None else dtype.descr}, "
            f"shape={arr.shape}, strides={arr.strides}, layout={layout}, "
            f"writeable={arr.flags.writeable}, values={short(safe_tolist(arr))})")
    case.note(arr, text)
    case.features.add(f"numpy {'numeric' if dtype_name in NUMERIC_DTYPES else 'other'} {arr.ndim}-D")
    return arr, oracle_ok


def safe_tolist(arr):
    try:
        return arr.tolist()
    except Exception as exc:
        return f"<tolist failed: {type(exc).__name__}>"


ARRAY_CODES = "bBuhHiIlLqQfd"


def array_array(case, items_count):
    import array
    rng = case.rng
    code = rng.choice(ARRAY_CODES)
    if code == "u":
        arr = array.array(code, "".join(rng.choice("1x.") for _ in range(items_count)))
        return case.note(arr, f"array.array('u', {arr.tolist()!r})"), False
    itemsize = array.array(code).itemsize
    if code in "fd":
        values = [plain_float(case) for _ in range(items_count)]
    else:
        signed = code.islower()
        bits = itemsize * 8
        lo, hi = (-(2 ** (bits - 1)), 2 ** (bits - 1) - 1) if signed else (0, 2 ** bits - 1)
        values = [rng.choice((lo, hi, 0, 1)) if rng.random() < 0.3 else rng.randint(max(lo, -9), min(hi, 9))
                  for _ in range(items_count)]
    arr = array.array(code, values)
    case.features.add("array.array")
    return case.note(arr, f"array.array({code!r}, {short(arr.tolist())})"), True


def memoryview_of(case, shape):
    """A memoryview with the given shape (1-D or 2-D), of many formats and
    layouts. Returns (view, reference or None)."""
    rng = case.rng
    import array
    count = math.prod(shape)
    r = rng.random()
    if imports.np is not None and r < 0.5:
        arr, _ = numpy_array(case, shape, numeric_only=rng.random() < 0.8)
        if type(arr) is not imports.np.ndarray:
            arr = imports.np.asarray(arr)
        try:
            view = memoryview(arr)
        except Exception:
            view = memoryview(b"")
        reference = None
    elif r < 0.75:
        code = rng.choice("dfqlbBH")
        values = ([plain_float(case) for _ in range(count)] if code in "fd"
                  else [rng.randint(0, 100) for _ in range(count)])
        raw = array.array(code, values).tobytes()
        if len(shape) == 2 and count:
            view = memoryview(raw).cast("B").cast(code, list(shape))
        else:
            view = memoryview(raw).cast("B").cast(code)
    else:
        arr, _ = array_array(case, count)
        view = memoryview(arr)
        if len(shape) == 2 and count and arr.typecode != "u":
            try:
                view = view.cast("B").cast(arr.typecode, list(shape))
            except Exception:
                pass
    if rng.random() < 0.1 and view.ndim == 1 and len(view) > 1:
        view = view[::rng.choice((2, -1))]
    reference = None
    if view.format.lstrip("@=<>!") in tuple("bBhHiIlLqQfd?e") and view.ndim in (1, 2):
        try:
            np = imports.np
            reference = agreement.iterated(np.asarray(view) if np is not None else view.tolist())
        except Exception:
            reference = None
    released = rng.random() < 0.05
    text = f"memoryview(format={view.format!r}, shape={view.shape}, strides={view.strides}, " \
           f"readonly={view.readonly}, values={short(reference)}{', released' if released else ''})"
    if released:
        view.release()
        reference = None
    case.features.add(f"memoryview {view.ndim if not released else 'released'}")
    return case.note(view, text), reference


def pandas_object(case, kind, n):
    rng = case.rng
    values = [plain_float(case) for _ in range(n)]
    r = rng.randrange(8)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        if kind == "vector" or r < 3:
            if r == 0:
                s = imports.pd.Series(values)
            elif r == 1:
                s = imports.pd.Series([element(case) for _ in range(n)], dtype=object)
            elif r == 2:
                s = imports.pd.Series([rng.randint(-5, 5) for _ in range(n)], dtype=rng.choice(("int64", "Int64", "float32")))
                if n and rng.random() < 0.3:
                    s = s.astype("Float64")
                    s.iloc[0] = imports.pd.NA
            elif r == 3 and n:
                s = imports.pd.Series(values, index=imports.pd.MultiIndex.from_tuples([(i, i * 2) for i in range(n)]))
            elif r in (3, 4):
                s = imports.pd.Series(values, index=[(float(i), 2.0) for i in range(n)])
            elif r == 5:
                s = imports.pd.DataFrame({f"c{i}": values for i in range(min(n, 3))})
            elif r == 6:
                s = imports.pd.Series(["1.5"] * n)
            else:
                s = imports.pd.Series(values, dtype="category")
        else:
            m = [[plain_float(case) for _ in range(n)] for _ in range(n)]
            if r == 3:
                s = imports.pd.DataFrame(m)
            elif r == 4:
                # column labels that are themselves rows of numbers
                s = imports.pd.DataFrame(m, columns=[tuple(row) for row in m] if n else None)
            elif r == 5:
                cols = imports.pd.MultiIndex.from_tuples([tuple(row[:2]) if n > 1 else (1.0, 2.0) for row in m]) if n else None
                s = imports.pd.DataFrame(m, columns=cols)
            elif r == 6:
                s = imports.pd.DataFrame({"a": ["x"] * n, "b": values})
            else:
                s = imports.pd.Series([imports.pd.Series(row) for row in m], dtype=object)
    case.features.add("pandas")
    try:
        shown = short(repr(s), 200)
    except Exception as exc:  # pandas formats the items, which may refuse
        shown = f"<repr failed: {type(exc).__name__}>"
    return case.note(s, f"pandas {type(s).__name__}: {shown}")
