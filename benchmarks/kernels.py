"""Times the exact inversion and matrix-vector product next to numpy's BLAS
and LAPACK, in one run, with one BLAS thread.

    python benchmarks/kernels.py [--quick] [--sizes 100,250,...]

For each size n it prints the median over repeats of
  minimum_variance_weights(S) / numpy.linalg.inv(S)
  portfolio_variance(w, S)    / (w @ S @ w)
  hierarchical_risk_parity_weights(S) / (w @ S @ w): what reading the n x n
    array alone costs quorvel today (that routine reads only the diagonal)
for a float64 covariance array S, first with the kernels this processor
gets, then again in a child process for each narrower build
(QUORVEL_KERNELS=avx2, portable), so that the gain of the wider kernels is
visible in the same run. Ratios below 1.0 mean quorvel is faster.
"""

import os

for _name in ("OPENBLAS_NUM_THREADS", "OMP_NUM_THREADS", "MKL_NUM_THREADS"):
    os.environ[_name] = "1"

import argparse
import json
import subprocess
import sys
import time

import numpy as np

import quorvel

SIZES = (100, 250, 500, 1000, 2000)
LEVELS = ["portable", "avx2", "avx512"]


def median_time(fn, repeat):
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        fn()
        times.append(time.perf_counter() - start)
    times.sort()
    return times[len(times) // 2]


def covariance(n):
    rng = np.random.default_rng(n)
    factors = max(1, n // 10)
    loadings = rng.standard_normal((n, factors))
    return loadings @ loadings.T / factors + np.eye(n)


def repeats(n, quick):
    base = 3 if n >= 2000 else 5 if n >= 1000 else 9 if n >= 500 else 21
    return max(3, base // 3) if quick else base


def measure(sizes, quick):
    rows = []
    for n in sizes:
        s = covariance(n)
        w = np.full(n, 1.0 / n)
        r = repeats(n, quick)
        inv = median_time(lambda: quorvel.minimum_variance_weights(s), r)
        inv_np = median_time(lambda: np.linalg.inv(s), r)
        mv_repeat = 5 * r
        mv = median_time(lambda: quorvel.portfolio_variance(w, s), mv_repeat)
        mv_np = median_time(lambda: w @ s @ w, mv_repeat)
        read = median_time(lambda: quorvel.hierarchical_risk_parity_weights(s), mv_repeat)
        rows.append({"n": n, "inv": inv / inv_np, "inv_ms": inv * 1e3, "np_inv_ms": inv_np * 1e3,
                     "var": mv / mv_np, "read": read / mv_np})
    return rows


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--quick", action="store_true", help="fewer repeats")
    parser.add_argument("--sizes", default=",".join(map(str, SIZES)))
    parser.add_argument("--json", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    sizes = [int(x) for x in args.sizes.split(",")]
    if args.json:  # the child's side
        print(json.dumps({"kernels": quorvel._kernels, "rows": measure(sizes, args.quick)}))
        return

    runs = [{"kernels": quorvel._kernels, "rows": measure(sizes, args.quick)}]
    lower = LEVELS[:LEVELS.index(quorvel._kernels)]
    for level in reversed(lower):  # each narrower build, in a process of its own
        command = [sys.executable, __file__, "--json", "--sizes", args.sizes]
        child = subprocess.run(command + (["--quick"] if args.quick else []),
                               env={**os.environ, "QUORVEL_KERNELS": level},
                               capture_output=True, text=True, check=True)
        runs.append(json.loads(child.stdout))

    print(f"{'kernels':<10}{'n':>6}{'min_var/inv':>13}{'(quorvel':>10}{'numpy)':>9}"
          f"{'variance/w@S@w':>16}{'read-only/w@S@w':>17}")
    for run in runs:
        for row in run["rows"]:
            print(f"{run['kernels']:<10}{row['n']:>6}{row['inv']:>13.2f}{row['inv_ms']:>8.1f}ms"
                  f"{row['np_inv_ms']:>7.1f}ms{row['var']:>16.2f}{row['read']:>17.2f}")


if __name__ == "__main__":
    main()
