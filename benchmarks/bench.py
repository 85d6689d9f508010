"""Times quorvel next to its peers on the same inputs, in the same run.

    python -m pip install '.[bench]' && python benchmarks/bench.py [--quick]

Every figure is a ratio of two timings taken here and now (medians of
repeats), so it means the same on a fast or a slow machine. numpy is held to
one BLAS thread. Sections:

1. Reading inputs: lists against Python's own sum(), buffers against lists,
   page faults per call on an array read in place, numpy on arrays.
2. Threads and signals: another thread's pace during a long inversion and
   during many risk-parity passes, and how long Ctrl-C takes to end an
   endless risk-parity iteration.
3. Small calls: the numpy code a user would write for n = 10 from lists,
   against quorvel, for each of the fifteen functions.
"""

import os

for _name in ("OPENBLAS_NUM_THREADS", "OMP_NUM_THREADS", "MKL_NUM_THREADS"):
    os.environ[_name] = "1"

import array  # noqa: E402
import math  # noqa: E402
import random  # noqa: E402
import resource  # noqa: E402
import signal  # noqa: E402
import statistics  # noqa: E402
import subprocess  # noqa: E402
import sys  # noqa: E402
import threading  # noqa: E402
import time  # noqa: E402

import numpy as np  # noqa: E402

import quorvel as q  # noqa: E402

QUICK = "--quick" in sys.argv


def median_time(fn, repeat=7, number=1):
    """Median over `repeat` runs of the time per call of `fn`."""
    times = []
    for _ in range(3 if QUICK else repeat):
        start = time.perf_counter()
        for _ in range(number):
            fn()
        times.append((time.perf_counter() - start) / number)
    return statistics.median(times)


def covariance(n, seed=0):
    a = np.random.default_rng(seed).standard_normal((n, 2 * n))
    return a @ a.T / (2 * n) + np.eye(n) * 0.01


def row(label, value, goal=""):
    # compare.py reads the label from a field of 68 columns.
    assert len(label) <= 68, f"label longer than 68 characters: {label}"
    print(f"  {label:<68}{value:>10}  {goal}")


# ---------------------------------------------------------------------------


def reading():
    print("1. Reading inputs")
    rng = random.Random(1)
    values = [rng.gauss(0.0, 1.0) for _ in range(100_000)]
    listed = median_time(lambda: q.active_share(values), 21, 5)
    row("active_share(list of 100k floats) / sum(list)",
        f"{listed / median_time(lambda: sum(values), 21, 5):.2f}", "goal <= 1.3")

    rows = covariance(1000).tolist()
    w = [1e-3] * 1000
    row("portfolio_variance(w, 1000x1000 list of lists) / sum(map(sum, rows))",
        f"{median_time(lambda: q.portfolio_variance(w, rows)) / median_time(lambda: sum(map(sum, rows))):.2f}",
        "goal <= 1.2")

    base = np.array(values)
    kinds = {
        "array.array('d')": array.array("d", values),
        "memoryview": memoryview(array.array("d", values)),
        "numpy float32": base.astype(np.float32),
        "numpy int64": (base * 1000).astype(np.int64),
        "numpy >f8": base.astype(">f8"),
        "numpy float64": base,
    }
    for label, x in kinds.items():
        as_list = [float(v) for v in x]
        ratio = median_time(lambda: q.active_share(as_list), 21, 5) / median_time(lambda: q.active_share(x), 21, 5)
        row(f"active_share: list time / {label} time (100k values)", f"{ratio:.1f}", "goal >= 5")

    big, wb = covariance(1500), np.full(1500, 1 / 1500)
    q.portfolio_variance(wb, big)
    before = resource.getrusage(resource.RUSAGE_SELF).ru_minflt
    for _ in range(20):
        q.portfolio_variance(wb, big)
    faults = (resource.getrusage(resource.RUSAGE_SELF).ru_minflt - before) / 20
    row("minor page faults per portfolio_variance call, 1500x1500 float64", f"{faults:.1f}", "goal <= 16")

    for n in (100, 1000):
        s, x = covariance(n), np.full(n, 1 / n)
        ratio = median_time(lambda: q.portfolio_variance(x, s), 21, 20) / median_time(lambda: x @ s @ x, 21, 20)
        row(f"portfolio_variance, {n}x{n} float64 array / numpy w @ S @ w", f"{ratio:.2f}",
            "goal <= 3 (<= 1.3 with the kernels)" if n == 1000 else "")


    pandas_inputs()


def pandas_inputs():
    """What taking a Series and a DataFrame costs over taking their arrays:
    pandas' own accessors, and the comparison of their labels."""
    try:
        import pandas as pd
    except ImportError:
        return
    for n in (10, 1000):
        names = [f"asset{i}" for i in range(n)]
        cov = pd.DataFrame(np.random.default_rng(n).standard_normal((2 * n, n)), columns=names).cov()
        cases = {"own labels": pd.Series(np.full(n, 1 / n), index=list(names)),
                 "cov.index": pd.Series(np.full(n, 1 / n), index=cov.index)}
        s = cov.to_numpy()
        for label, w in cases.items():
            x = w.to_numpy()
            ratio = (median_time(lambda: q.portfolio_volatility(w, cov), 21, 200 // n + 5) /
                     median_time(lambda: q.portfolio_volatility(x, s), 21, 200 // n + 5))
            row(f"portfolio_volatility(w on {label}, cov frame) / arrays, n={n}", f"{ratio:.2f}")


def pace(call):
    """Another thread's counting speed while `call()` runs, over its speed
    with the interpreter to itself."""
    ticks, stop = [0], threading.Event()

    def spin():
        while not stop.is_set():
            ticks[0] += 1

    spinner = threading.Thread(target=spin)
    spinner.start()
    try:
        time.sleep(0.1)
        start, began = ticks[0], time.perf_counter()
        time.sleep(0.3)
        alone = (ticks[0] - start) / (time.perf_counter() - began)
        start, began = ticks[0], time.perf_counter()
        call()
        during = (ticks[0] - start) / (time.perf_counter() - began)
    finally:
        stop.set()
        spinner.join()
    return during / alone


CHILD = """
import sys, quorvel
print("ready", flush=True)
try:
    quorvel.risk_parity_weights([[0.04, 0.01], [0.01, 0.09]], 10**12, -1.0)
except KeyboardInterrupt:
    print("interrupted", flush=True)
"""


def interrupt_latency():
    child = subprocess.Popen([sys.executable, "-c", CHILD], stdout=subprocess.PIPE, text=True)
    child.stdout.readline()
    time.sleep(0.5)
    sent = time.perf_counter()
    child.send_signal(signal.SIGINT)
    line = child.stdout.readline()
    took = time.perf_counter() - sent
    child.wait(timeout=30)
    return took if line == "interrupted\n" else math.inf


def parity_passes(cov, seconds):
    """Risk-parity passes over `cov` that take about `seconds` here."""
    passes = 100
    while True:
        took = median_time(lambda: q.risk_parity_weights(cov, passes, -1.0), 3)
        if took > seconds / 4:
            return max(passes, int(passes * seconds / took))
        passes *= 4


def threads():
    print("2. Threads and signals")
    big = covariance(900)
    row("other thread's pace during minimum_variance_weights(900x900) / alone",
        f"{pace(lambda: q.minimum_variance_weights(big)):.2f}", "goal >= 0.4")
    # The same over half a second of risk-parity passes on a small matrix.
    small = covariance(60)
    passes = parity_passes(small, 0.5)
    row("other thread's pace during risk_parity_weights(60x60), 0.5 s / alone",
        f"{pace(lambda: q.risk_parity_weights(small, passes, -1.0)):.2f}", "goal >= 0.4")
    row("Ctrl-C in endless risk_parity_weights: seconds to KeyboardInterrupt",
        f"{interrupt_latency():.3f}", "goal < 1")


# ---------------------------------------------------------------------------
# What a user would write with numpy for each function, starting from lists.


def np_risk_parity(cov, max_iter, tolerance):
    s = np.asarray(cov)
    w = 1 / np.sqrt(np.maximum(np.diag(s), 1e-18))
    w /= w.sum()
    target = 1 / len(w)
    for _ in range(max_iter):
        m = s @ w
        v = w @ m
        if not v > 0:
            break
        share = m * w / v
        w = np.maximum(np.where(share > 0, w * np.sqrt(target / np.where(share > 0, share, 1)), w), 1e-12)
        w /= w.sum()
        if np.abs(share - target).max() < tolerance:
            break
    return w.tolist()


def np_risk_contribution(w, cov):
    w, s = np.asarray(w), np.asarray(cov)
    m = s @ w
    sigma = math.sqrt(max(float(w @ m), 0.0))
    marginal = m / sigma
    contribution = w * marginal
    return marginal.tolist(), contribution.tolist(), (contribution / sigma).tolist()


def np_brinson(wp, wb, rp, rb):
    wp, wb, rp, rb = map(np.asarray, (wp, wb, rp, rb))
    total = wb @ rb
    allocation = float(((wp - wb) * (rb - total)).sum())
    selection = float((wb * (rp - rb)).sum())
    interaction = float(((rp - rb) * (wp - wb)).sum())
    return allocation, selection, interaction, selection + allocation + interaction


def np_min_variance(cov):
    u = np.linalg.inv(np.asarray(cov)).sum(axis=1)
    return (u / u.sum()).tolist()


def np_mean_variance(mu, cov, aversion):
    u = np.linalg.inv(np.asarray(cov)) @ np.asarray(mu) / max(aversion, 1e-12)
    return (u / u.sum()).tolist()


def np_rank(values, ascending):
    a = np.asarray(values)
    order = np.argsort(a if ascending else -a, kind="stable")
    ranks = np.empty(len(a))
    ranks[order] = np.arange(1, len(a) + 1)
    return (ranks / ranks.sum()).tolist()


def small_calls():
    print("3. Small calls: n = 10 from lists, numpy code a user would write / quorvel")
    n = 10
    rng = random.Random(3)
    cov = covariance(n, 3).tolist()
    w = [rng.random() for _ in range(n)]
    v = [rng.gauss(0.0, 1.0) for _ in range(n)]
    vols = [abs(x) + 0.05 for x in v]
    cases = {
        "equal_weights": (lambda: q.equal_weights(n), lambda: np.full(n, 1 / n).tolist()),
        "rank_weights": (lambda: q.rank_weights(v, True), lambda: np_rank(v, True)),
        "signal_proportional_weights": (lambda: q.signal_proportional_weights(v),
                                        lambda: (lambda a: (a / np.abs(a).sum()).tolist())(np.asarray(v))),
        "target_volatility_weights": (lambda: q.target_volatility_weights(vols),
                                      lambda: (lambda a: (a / a.sum()).tolist())(1 / np.asarray(vols))),
        "minimum_variance_weights": (lambda: q.minimum_variance_weights(cov), lambda: np_min_variance(cov)),
        "mean_variance_weights": (lambda: q.mean_variance_weights(v, cov, 3.0),
                                  lambda: np_mean_variance(v, cov, 3.0)),
        "risk_parity_weights": (lambda: q.risk_parity_weights(cov, 50, 0.0),  # 50 passes each
                                lambda: np_risk_parity(cov, 50, 0.0)),
        "hierarchical_risk_parity_weights": (lambda: q.hierarchical_risk_parity_weights(cov),
                                             lambda: (lambda d: (d / d.sum()).tolist())(
                                                 1 / np.maximum(np.diag(np.asarray(cov)), 1e-18))),
        "portfolio_variance": (lambda: q.portfolio_variance(w, cov),
                               lambda: (lambda a: float(a @ np.asarray(cov) @ a))(np.asarray(w))),
        "portfolio_volatility": (lambda: q.portfolio_volatility(w, cov),
                                 lambda: (lambda a: math.sqrt(max(float(a @ np.asarray(cov) @ a), 0.0)))(
                                     np.asarray(w))),
        "risk_contribution": (lambda: q.risk_contribution(w, cov), lambda: np_risk_contribution(w, cov)),
        "tracking_error": (lambda: q.tracking_error(v, cov),
                           lambda: (lambda a: math.sqrt(max(float(a @ np.asarray(cov) @ a), 0.0)))(
                               np.asarray(v))),
        "active_share": (lambda: q.active_share(v), lambda: 0.5 * float(np.abs(np.asarray(v)).sum())),
        "brinson_attribution": (lambda: q.brinson_attribution(w, vols, v, w), lambda: np_brinson(w, vols, v, w)),
        "factor_return_decomposition": (lambda: q.factor_return_decomposition(v, w),
                                        lambda: (lambda c: (c.tolist(), float(c.sum())))(
                                            np.asarray(v) * np.asarray(w))),
    }
    ratios = []
    for name, (ours, theirs) in cases.items():
        mine = median_time(ours, 7, 2000)
        peer = median_time(theirs, 7, 500)
        ratios.append(peer / mine)
        row(f"{name}  ({mine * 1e6:.2f} us vs {peer * 1e6:.2f} us)", f"{peer / mine:.1f}")
    row("median over the 15 functions", f"{statistics.median(ratios):.1f}", "goal >= 10")
    row("lowest", f"{min(ratios):.1f}", "goal >= 5")


if __name__ == "__main__":
    print(f"quorvel {q.__version__}, numpy {np.__version__}, Python {sys.version.split()[0]}")
    reading()
    threads()
    small_calls()
