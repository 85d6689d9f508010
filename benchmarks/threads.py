"""Small calls from two threads at once: calls per second of two threads
against one, each making the same mix of quorvel calls at n = 10 from lists.

    python benchmarks/threads.py [--quick]

On a free-threaded interpreter the module runs without the interpreter
lock, so on two cores two threads make nearly twice the calls of one; with
the lock (any GIL build) they take turns and the figure stays near 1. Each
thread calls with inputs of its own, as two independent callers would (two
threads reading the same list would also contend for its reference counts).
A round times one thread making CALLS calls, then two threads making CALLS
calls each, started together; the figure is 2 x (one thread's time) / (two
threads' time), the median over the rounds, for the mix and for each
function on its own. Each round also times a plain Python loop the same
way: that figure ("machine") is what the machine itself allows at the time
(on a shared machine, another process on the second core pulls both down;
with the lock, it stays near 1 too).
"""

import math
import os
import random
import statistics
import sys
import threading
import time

import quorvel as q

QUICK = "--quick" in sys.argv
ROUNDS = 3 if QUICK else 7
N = 10


def inputs(seed):
    """One caller's inputs: a positive definite covariance and vectors."""
    rng = random.Random(seed)
    a = [[rng.gauss(0.0, 1.0) for _ in range(2 * N)] for _ in range(N)]
    cov = [[sum(x * y for x, y in zip(a[i], a[j])) / (2 * N) + (0.01 if i == j else 0.0)
            for j in range(N)] for i in range(N)]
    w = [rng.random() for _ in range(N)]
    v = [rng.gauss(0.0, 1.0) for _ in range(N)]
    vols = [abs(x) + 0.05 for x in v]
    return {
        "equal_weights": lambda: q.equal_weights(N),
        "rank_weights": lambda: q.rank_weights(v, True),
        "signal_proportional_weights": lambda: q.signal_proportional_weights(v),
        "target_volatility_weights": lambda: q.target_volatility_weights(vols),
        "minimum_variance_weights": lambda: q.minimum_variance_weights(cov),
        "mean_variance_weights": lambda: q.mean_variance_weights(v, cov, 3.0),
        "risk_parity_weights": lambda: q.risk_parity_weights(cov, 50, 0.0),
        "hierarchical_risk_parity_weights": lambda: q.hierarchical_risk_parity_weights(cov),
        "portfolio_variance": lambda: q.portfolio_variance(w, cov),
        "portfolio_volatility": lambda: q.portfolio_volatility(w, cov),
        "risk_contribution": lambda: q.risk_contribution(w, cov),
        "tracking_error": lambda: q.tracking_error(v, cov),
        "active_share": lambda: q.active_share(v),
        "brinson_attribution": lambda: q.brinson_attribution(w, vols, v, w),
        "factor_return_decomposition": lambda: q.factor_return_decomposition(v, w),
    }


def run(calls, count):
    for _ in range(count):
        for call in calls:
            call()


def together(workloads, count):
    """Seconds for every workload to make `count` passes, each in a thread of
    its own, all started at once."""
    barrier = threading.Barrier(len(workloads) + 1)
    threads = [threading.Thread(target=lambda c=calls: (barrier.wait(), run(c, count)))
               for calls in workloads]
    for thread in threads:
        thread.start()
    barrier.wait()
    start = time.perf_counter()
    for thread in threads:
        thread.join()
    return time.perf_counter() - start


def scaling(first, second, count, control=None):
    """The median figure over the rounds; with `control` (a list of calls
    and its pass count), also the control's, timed within each round."""
    ratios, controls = [], []
    for _ in range(ROUNDS):
        one = together([first], count)
        two = together([first, second], count)
        ratios.append(2.0 * one / two)
        if control is not None:
            calls, passes = control
            one = together([calls], passes)
            two = together([calls, calls], passes)
            controls.append(2.0 * one / two)
    if control is None:
        return statistics.median(ratios)
    return statistics.median(ratios), statistics.median(controls)


def python_loop():
    total = 0
    for i in range(10_000):
        total += i
    return total


def row(label, value, goal=""):
    # compare.py reads the label from a field of 68 columns.
    assert len(label) <= 68, f"label longer than 68 characters: {label}"
    print(f"  {label:<68}{value:>10}  {goal}")


def per_call(calls):
    start = time.perf_counter()
    run(calls, 200)
    return (time.perf_counter() - start) / (200 * len(calls))


def main():
    gil = getattr(sys, "_is_gil_enabled", lambda: True)()
    print(f"quorvel {q.__version__}, Python {sys.version.split()[0]}"
          f"{' (free-threaded)' if hasattr(sys, '_is_gil_enabled') else ''}, GIL {'on' if gil else 'off'}")
    print("Threads: calls per second of two threads / one thread, n = 10 from lists")
    first, second = inputs(1), inputs(2)
    # About 0.1 s of calls per thread and round, whatever the machine.
    mix = max(1, int(0.1 / (per_call(list(first.values())) * len(first))))
    loops = max(1, int(0.1 / per_call([python_loop])))
    figure, control = scaling(list(first.values()), list(second.values()), mix, ([python_loop], loops))
    row(f"the fifteen functions in turn ({mix} passes a thread)", f"{figure:.2f}",
        "goal >= 1.7 free-threaded, 2 cores")
    row("a plain Python loop, the same way: what the machine allows", f"{control:.2f}")
    figures = []
    loops = max(1, loops // 2)
    for name in first:
        count = max(1, int(0.05 / per_call([first[name]])))
        figure, control = scaling([first[name]], [second[name]], count, ([python_loop], loops))
        figures.append(figure)
        row(name, f"{figure:.2f}", f"machine {control:.2f}")
    row("lowest of the fifteen", f"{min(figures):.2f}")
    if hasattr(os, "sched_getaffinity") and len(os.sched_getaffinity(0)) < 2:
        print("  (only one core is available: two threads cannot run at once)")
    return 0 if math.isfinite(min(figures)) else 1


if __name__ == "__main__":
    sys.exit(main())
