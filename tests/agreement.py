"""What it means for a buffer argument to read as the numbers that iterating
it gives: those numbers, and when two calls' outcomes agree. Shared by
test_buffers.py and the fuzzer's buffer-versus-list oracle (tools/fuzz/)."""

from model import same


def iterated(x):
    """What iterating the object gives, item by item: numbers as floats, and
    items that iterate in turn (the rows of a 2-D buffer) as lists."""
    return [iterated(item) if hasattr(item, "__iter__") else float(item) for item in x]


def raised(exc):
    """An exception as an outcome: its type, its text and its notes."""
    return type(exc), str(exc), getattr(exc, "__notes__", None)


def outcome(function, *args):
    """("ok", result), or the exception raised as `raised` gives it."""
    try:
        return "ok", function(*args)
    except Exception as exc:
        return raised(exc)


def agreeing(got, want):
    """Both results, equal to the bit (model.same); or the same exception
    type with the same text and notes."""
    if got[0] == "ok" or want[0] == "ok":
        return got[0] == want[0] and same(got[1], want[1])
    return got == want
