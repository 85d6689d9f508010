"""Many threads convert shared lists, lists of lists and numpy arrays
through every kind of function while other threads change them.

    python tests/threads_stress.py [--seconds S] [--readers N] [--module-path PATH] [--only TEXT]

On a free-threaded interpreter nothing serialises the readers and the
writers: a call that converts a list while another thread replaces its
items must see each item's old or new value, never a freed object. So every
value a writer stores is a fresh float (its only reference is the
container's, and replacing it frees it) on the grid 1 + k/1024 in [1, 2),
and right after each store the writer makes a float far outside that range,
which takes the memory the freed float had: a conversion that read a freed
float comes back with that value, and the checks below see it. A crash ends
the process, after faulthandler has printed every thread's stack.

Prints one line of call counts per kind and exits 0 when every result
passed its check, 1 (after printing the first failures) otherwise.
--plant has the list writer store outside values at one index from halfway
through, as it never does otherwise, to show that the checks see them.
"""

import argparse
import faulthandler
import importlib.util
import math
import sys
import threading
import time
import warnings
from collections import Counter

N = 16  # the fixed side of the shared matrices and the length of the fixed vectors
BIG = 260  # a 260 x 260 matrix: enough work that the call runs with the lock released
GRID = 1024.0
POISON = 1e300  # what freed floats are overwritten with


def fresh(k):
    """A new float object on the grid, made at run time (never a constant)."""
    return 1.0 + (k % 1024) / GRID


def poison(k):
    return POISON * (1.0 + (k % 7))


class Number:
    """A number that converts through Python code (__float__), so the
    interpreter may switch threads in the middle of a conversion."""

    __slots__ = ("value",)

    def __init__(self, value):
        self.value = value

    def __float__(self):
        return self.value


def on_grid(value):
    return 1.0 <= value < 2.0 and ((value - 1.0) * GRID).is_integer()


class Checks:
    def __init__(self):
        self.failures = []
        self.lock = threading.Lock()

    def fail(self, kind, text):
        with self.lock:
            if len(self.failures) < 20:
                self.failures.append(f"{kind}: {text}")


def load(path):
    if path is None:
        import quorvel
        return quorvel
    located = importlib.util.spec_from_file_location("quorvel", path)
    module = importlib.util.module_from_spec(located)
    located.loader.exec_module(module)
    return module


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--seconds", type=float, default=3.0)
    parser.add_argument("--readers", type=int, default=8)
    parser.add_argument("--module-path")
    parser.add_argument("--plant", action="store_true")
    parser.add_argument("--only", help="run only the calls whose description contains this")
    args = parser.parse_args()
    faulthandler.enable()
    # The writers make matrices no one would invert on purpose (asymmetric,
    # singular): the library says so, and only what it reads matters here.
    warnings.simplefilter("ignore", RuntimeWarning)
    q = load(args.module_path)
    try:
        import numpy as np
    except ImportError:
        np = None

    checks = Checks()
    stop, planted = threading.Event(), threading.Event()
    counts = Counter()
    counts_lock = threading.Lock()

    # The shared containers. Their shapes stay fixed except `varying`'s.
    fixed = [fresh(i) for i in range(N)]                       # items replaced
    varying = [fresh(i) for i in range(N)]                     # grows and shrinks
    numbers = [Number(fresh(i)) for i in range(N)]             # converted by __float__
    rows = [[fresh(i * N + j) for j in range(N)] for i in range(N)]      # items and rows replaced
    tuple_rows = [tuple(fresh(i * N + j) for j in range(N)) for i in range(N)]  # rows replaced
    ones = [1.0] * N
    w = [1.0 / N] * N
    arrays = {}
    if np is not None:
        arrays["vector"] = np.array([fresh(i) for i in range(N)])
        arrays["matrix"] = np.array([[fresh(i + j) for j in range(N)] for i in range(N)])
        arrays["big"] = np.array([[fresh(i * j) for j in range(BIG)] for i in range(BIG)])
        arrays["rows"] = [np.array([fresh(i + j) for j in range(N)]) for i in range(N)]
    w_big = [1.0 / BIG] * BIG

    # Writers: each owns one group of containers and changes it as fast as
    # it can; after each store, the poison float takes the freed float's
    # memory.
    def write_lists():
        k, junk = 0, None
        while not stop.is_set():
            k += 1
            i = k % N
            fixed[i] = poison(k) if planted.is_set() and i == 0 else fresh(k)
            junk = poison(k)
            if k % 3 == 0:
                varying.append(fresh(k))
            elif len(varying) > N // 2:
                varying.pop(k % len(varying))
            junk = poison(k + 1)
            numbers[i] = Number(fresh(k))
            junk = poison(k + 2)
        del junk

    def write_rows():
        k, junk = 0, None
        while not stop.is_set():
            k += 1
            i, j = k % N, (k // N) % N
            rows[i][j] = fresh(k)
            junk = poison(k)
            if k % 5 == 0:
                rows[(i + 3) % N] = [fresh(k + c) for c in range(N)]
                junk = [poison(k + c) for c in range(N)]
            if k % 7 == 0:
                tuple_rows[i] = tuple(fresh(k + c) for c in range(N))
                junk = [poison(k + c) for c in range(N)]
        del junk

    def write_arrays():
        k = 0
        while not stop.is_set():
            k += 1
            i = k % N
            arrays["vector"][i] = fresh(k)
            arrays["matrix"][i, :] = fresh(k + 1)
            arrays["big"][k % BIG, :] = fresh(k + 2)
            if k % 3 == 0:
                arrays["rows"][i] = np.full(N, fresh(k))
                np.full(N, poison(k))  # takes the freed array's memory

    # Readers: each call's result is checked against what any mix of old and
    # new values can give.
    def exact_vector(kind, values):
        contributions, _ = q.factor_return_decomposition(values, ones)
        for v in contributions:  # x * 1.0 is x: the values as read
            if not on_grid(v):
                checks.fail(kind, f"read {v!r}")
                return

    def within(kind, value, low, high):
        if not low <= value <= high:
            checks.fail(kind, f"{value!r} outside [{low}, {high}]")

    def ratio(kind, weights):
        # Weights proportional to values (or inverse values) in [1, 2) stay
        # within a factor of two of each other.
        if not weights or min(weights) <= 0.0 or max(weights) > 2.0 * min(weights):
            checks.fail(kind, f"weights {weights[:4]!r}... are not from values in [1, 2)")

    def mean_of_matrix(kind, matrix, weights=w, low=1.0, high=2.0):
        within(kind, q.portfolio_variance(weights, matrix), low * (1 - 1e-9), high * (1 + 1e-9))

    def sound(kind, result):
        # Calls whose value depends on every bit of a changing input: only
        # the shape of the result is checked (an exception other than what
        # the library says of some matrices fails by itself).
        flat = []
        for item in result if isinstance(result, tuple) else (result,):
            flat.extend(item if isinstance(item, list) else [item])
        if not flat or not all(isinstance(x, float) for x in flat):
            checks.fail(kind, f"result {result!r}")

    calls = {
        "vector list: factor_return_decomposition": lambda: exact_vector("vector list", fixed),
        "vector list: signal_proportional_weights": lambda: ratio("signal", q.signal_proportional_weights(fixed)),
        "growing list: target_volatility_weights": lambda: ratio("volatility", q.target_volatility_weights(varying)),
        "growing list: active_share": lambda: within("active_share", q.active_share(varying), 0.5 * (N // 2), 2.0 * N),
        "growing list: rank_weights": lambda: sound("rank", q.rank_weights(varying, True)),
        "__float__ items: factor_return_decomposition": lambda: exact_vector("__float__", numbers),
        "list of lists: portfolio_variance": lambda: mean_of_matrix("list of lists", rows),
        "list of lists: hierarchical_risk_parity_weights": lambda: ratio("hrp", q.hierarchical_risk_parity_weights(rows)),
        "list of lists: risk_contribution": lambda: sound("risk_contribution", q.risk_contribution(w, rows)),
        "list of lists: minimum_variance_weights": lambda: sound("minimum_variance", q.minimum_variance_weights(rows)),
        "list of lists: mean_variance_weights": lambda: sound("mean_variance", q.mean_variance_weights(fixed, rows, 2.0)),
        "list of lists: risk_parity_weights": lambda: sound("risk_parity", q.risk_parity_weights(rows, 3, 0.0)),
        "list of tuples: tracking_error": lambda: within("tracking_error", q.tracking_error(w, tuple_rows), 1.0 - 1e-9, math.sqrt(2.0)),
        "four lists: brinson_attribution": lambda: sound("brinson", q.brinson_attribution(fixed, w, ones, fixed)),
    }
    if np is not None:
        calls.update({
            "array: factor_return_decomposition": lambda: exact_vector("array", arrays["vector"]),
            "2-D array: portfolio_volatility": lambda: within("2-D array", q.portfolio_volatility(w, arrays["matrix"]), 1.0 - 1e-9, math.sqrt(2.0)),
            "260 x 260 array, lock released: portfolio_variance": lambda: mean_of_matrix("260 x 260", arrays["big"], w_big),
            "list of arrays: portfolio_variance": lambda: mean_of_matrix("list of arrays", arrays["rows"]),
            "list of arrays: minimum_variance_weights": lambda: sound("arrays min variance", q.minimum_variance_weights(arrays["rows"])),
        })
    names = [name for name in calls if args.only is None or args.only in name]
    start = threading.Barrier(args.readers + 1)

    def read(seed):
        start.wait()  # every reader at once: the first calls also race to set up
        done = Counter()
        k = seed
        while not stop.is_set():
            k += 1
            name = names[k % len(names)]
            try:
                calls[name]()
            except ValueError as exc:
                # What the library says of some matrices the writers make:
                # singular even with the ridge, or an inverse whose row sums
                # cancel to zero.
                if str(exc) not in ("covariance matrix is singular",
                                    "weights cannot be normalized when the denominator is zero"):
                    checks.fail(name, repr(exc))
            except Exception as exc:  # noqa: BLE001 - every other exception is a finding
                checks.fail(name, repr(exc))
            done[name] += 1
        with counts_lock:
            counts.update(done)

    writers = [threading.Thread(target=write_lists), threading.Thread(target=write_rows)]
    if np is not None:
        writers.append(threading.Thread(target=write_arrays))
    readers = [threading.Thread(target=read, args=(i * 7,)) for i in range(args.readers)]
    for thread in writers + readers:
        thread.start()
    start.wait()
    time.sleep(args.seconds / 2)
    if args.plant:
        planted.set()
    time.sleep(args.seconds / 2)
    stop.set()
    for thread in writers + readers:
        thread.join()

    gil = getattr(sys, "_is_gil_enabled", lambda: True)()
    print(f"{sum(counts.values())} calls in {args.seconds:g} s, {args.readers} readers, "
          f"{len(writers)} writers, GIL {'on' if gil else 'off'}; "
          + ", ".join(f"{name}: {counts[name]}" for name in names))
    if checks.failures:
        print("FAILED:", *checks.failures, sep="\n  ")
        return 1
    missing = [name for name in names if counts[name] == 0]
    if missing:
        print("FAILED: never called:", ", ".join(missing))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
