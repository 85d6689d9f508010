"""Typed caller code on numpy inputs: must pass `mypy --strict` and pyright's
strict mode with no error, and run as it is."""

from typing import assert_type

import numpy as np
import numpy.typing as npt

import quorvel


def weights_of(cov: npt.NDArray[np.float64]) -> dict[str, list[float]]:
    return {
        "minimum variance": quorvel.minimum_variance_weights(cov),
        "risk parity": quorvel.risk_parity_weights(cov, np.int64(200), np.float64(1e-10)),
        "inverse variance": quorvel.hierarchical_risk_parity_weights(np.asfortranarray(cov)),
        "inverse volatility": quorvel.target_volatility_weights(np.sqrt(np.diag(cov))),
    }


def main() -> None:
    rng = np.random.default_rng(1)
    returns = rng.standard_normal((60, 4)) * 0.01
    cov = np.cov(returns, rowvar=False)
    for weights in weights_of(cov).values():
        assert_type(quorvel.portfolio_volatility(np.asarray(weights), cov), float)
    assert_type(quorvel.portfolio_variance(np.full(4, 0.25, dtype=np.float32), cov[::1, ::1]), float)
    assert_type(quorvel.rank_weights(np.arange(4), np.True_), list[float])
    assert_type(quorvel.rank_weights(np.array([3, 1, 2]), np.bool_(False)), list[float])
    assert_type(quorvel.minimum_variance_weights(list(cov)), list[float])
    assert_type(quorvel.mean_variance_weights(returns.mean(axis=0), cov, np.float32(2.0)), list[float])
    assert_type(quorvel.equal_weights(np.int8(4)), list[float])
    assert_type(quorvel.active_share([np.float32(0.1), np.float64(-0.1)]), float)


if __name__ == "__main__":
    main()
