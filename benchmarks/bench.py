"""Times quorvel next to numpy on the same inputs, in the same run.

    python -m pip install '.[bench]' && python benchmarks/bench.py

Prints the best of several repeats for each side and the ratio
quorvel / numpy (below 1.0: quorvel is faster). The numpy side is given the
same Python lists and must convert them, as a caller holding lists would.
"""

import random
import time

import numpy as np

import quorvel


def best(fn, repeat=5, number=1):
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        for _ in range(number):
            fn()
        times.append((time.perf_counter() - start) / number)
    return min(times)


def covariance(n, seed):
    rng = random.Random(seed)
    factors = max(1, n // 10)
    loadings = [[rng.gauss(0.0, 1.0) for _ in range(factors)] for _ in range(n)]
    rows = np.array(loadings) @ np.array(loadings).T / factors + np.eye(n)
    return rows.tolist()


def numpy_min_variance(cov):
    inv = np.linalg.inv(np.array(cov))
    u = inv.sum(axis=1)
    return (u / u.sum()).tolist()


def numpy_volatility(w, cov):
    a = np.array(w)
    return float(np.sqrt(max(a @ np.array(cov) @ a, 0.0)))


def numpy_rank(values):
    order = np.argsort(np.array(values), kind="stable")
    ranks = np.empty(len(values))
    ranks[order] = np.arange(1, len(values) + 1)
    return (ranks / ranks.sum()).tolist()


def main():
    rows = []

    cov500 = covariance(500, 1)
    q = best(lambda: quorvel.minimum_variance_weights(cov500), repeat=3)
    n = best(lambda: numpy_min_variance(cov500), repeat=3)
    inv_only = np.array(cov500)
    n_inv = best(lambda: np.linalg.inv(inv_only), repeat=3)
    rows.append(("minimum_variance_weights, 500 x 500 lists", q, n))
    rows.append(("  (numpy.linalg.inv alone, array input)", q, n_inv))

    cov100 = covariance(100, 3)
    w100 = quorvel.equal_weights(100)
    cov100_array, w100_array = np.array(cov100), np.array(w100)
    rows.append(("portfolio_volatility, 100 assets, arrays",
                 best(lambda: quorvel.portfolio_volatility(w100_array, cov100_array), number=2000),
                 best(lambda: float(np.sqrt(max(w100_array @ cov100_array @ w100_array, 0.0))),
                      number=2000)))

    cov10 = covariance(10, 2)
    w10 = quorvel.equal_weights(10)
    rows.append(("portfolio_volatility, 10 assets",
                 best(lambda: quorvel.portfolio_volatility(w10, cov10), number=20000),
                 best(lambda: numpy_volatility(w10, cov10), number=20000)))

    rows.append(("risk_contribution, 100 assets",
                 best(lambda: quorvel.risk_contribution(w100, cov100), number=200),
                 best(lambda: numpy_volatility(w100, cov100), number=200)))

    rng = random.Random(4)
    values = [rng.random() for _ in range(10_000)]
    rows.append(("rank_weights, 10,000 values",
                 best(lambda: quorvel.rank_weights(values, True), number=20),
                 best(lambda: numpy_rank(values), number=20)))

    signals = [rng.gauss(0.0, 1.0) for _ in range(1000)]
    rows.append(("signal_proportional_weights, 1,000",
                 best(lambda: quorvel.signal_proportional_weights(signals), number=2000),
                 best(lambda: (lambda a: (a / np.abs(a).sum()).tolist())(np.array(signals)),
                      number=2000)))

    print(f"{'case':<44}{'quorvel':>12}{'numpy':>12}{'ratio':>8}")
    for name, qt, nt in rows:
        print(f"{name:<44}{qt * 1e6:>10.1f}us{nt * 1e6:>10.1f}us{qt / nt:>8.2f}")


if __name__ == "__main__":
    main()
