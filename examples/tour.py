"""A short tour of quorvel on a small built-in universe of four assets."""

import quorvel

ASSETS = ["equities", "credit", "rates", "gold"]
VOLATILITY = [0.18, 0.09, 0.06, 0.15]
CORRELATION = [
    [1.00, 0.55, -0.20, 0.05],
    [0.55, 1.00, 0.10, 0.00],
    [-0.20, 0.10, 1.00, 0.25],
    [0.05, 0.00, 0.25, 1.00],
]
# The product of the two volatilities first: it is the same double either
# way round, so entry (i, j) equals entry (j, i) to the bit. Written as
# corr * vol_i * vol_j instead, the two would differ in their last bits,
# and quorvel would warn that the covariance is not symmetric.
COVARIANCE = [
    [CORRELATION[i][j] * (VOLATILITY[i] * VOLATILITY[j]) for j in range(4)] for i in range(4)
]
EXPECTED_RETURNS = [0.065, 0.040, 0.025, 0.035]
SIGNALS = [1.4, 0.3, -0.8, 0.6]


def show(title, weights):
    cells = "  ".join(f"{name} {w:+.4f}" for name, w in zip(ASSETS, weights))
    print(f"{title:<34}{cells}")


def main():
    print("Weighting schemes (each sums to one; signals: gross exposure one)")
    show("equal_weights", quorvel.equal_weights(len(ASSETS)))
    show("signal_proportional_weights", quorvel.signal_proportional_weights(SIGNALS))
    show("rank_weights (ascending)", quorvel.rank_weights(SIGNALS, True))
    show("target_volatility_weights", quorvel.target_volatility_weights(VOLATILITY))
    show("hierarchical_risk_parity_weights", quorvel.hierarchical_risk_parity_weights(COVARIANCE))
    show("minimum_variance_weights", quorvel.minimum_variance_weights(COVARIANCE))
    show("mean_variance_weights", quorvel.mean_variance_weights(EXPECTED_RETURNS, COVARIANCE, 3.0))
    parity = quorvel.risk_parity_weights(COVARIANCE, 500, 1e-12)
    show("risk_parity_weights", parity)

    print("\nRisk of the risk-parity portfolio")
    print(f"  variance   {quorvel.portfolio_variance(parity, COVARIANCE):.6e}")
    print(f"  volatility {quorvel.portfolio_volatility(parity, COVARIANCE):.6f}")
    marginal, contribution, share = quorvel.risk_contribution(parity, COVARIANCE)
    show("  share of risk", share)

    benchmark = quorvel.equal_weights(len(ASSETS))
    active = [p - b for p, b in zip(parity, benchmark)]
    print("\nAgainst an equal-weight benchmark")
    print(f"  tracking error {quorvel.tracking_error(active, COVARIANCE):.6f}")
    print(f"  active share   {quorvel.active_share(active):.6f}")
    portfolio_returns = [0.024, 0.007, -0.003, 0.015]
    benchmark_returns = [0.021, 0.008, -0.004, 0.012]
    allocation, selection, interaction, total = quorvel.brinson_attribution(
        parity, benchmark, portfolio_returns, benchmark_returns
    )
    print(f"  allocation {allocation:+.6f}  selection {selection:+.6f}  "
          f"interaction {interaction:+.6f}  total {total:+.6f}")

    contributions, total = quorvel.factor_return_decomposition([1.1, 0.4, -0.2], [0.012, 0.003, 0.007])
    print(f"\nFactor contributions {contributions}, total {total:.6f}")
    print(f"\n{quorvel.Example('quorvel')!r}")


if __name__ == "__main__":
    main()
