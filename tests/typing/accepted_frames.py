"""Typed caller code on pandas objects and a 2-D memoryview: must pass
`mypy --strict` (with pandas-stubs) and pyright's strict mode with no error."""

import array
from typing import assert_type

import pandas as pd

import quorvel


def main() -> None:
    returns = pd.DataFrame(
        {"equities": [0.01, -0.02, 0.03, 0.00], "bonds": [0.002, 0.004, -0.001, 0.003],
         "gold": [0.005, 0.01, -0.02, 0.004]})
    cov = returns.cov()
    volatility = returns.std()
    weights = pd.Series(quorvel.target_volatility_weights(volatility), index=volatility.index)
    assert_type(quorvel.minimum_variance_weights(cov), list[float])
    assert_type(quorvel.risk_parity_weights(cov, 500, 0.0), list[float])
    # Matched by position: select the covariance in the weights' order first.
    reordered = weights[["gold", "equities", "bonds"]]
    assert_type(quorvel.portfolio_volatility(reordered, cov.loc[reordered.index, reordered.index]), float)
    assert_type(quorvel.risk_contribution(weights, cov.to_numpy()), tuple[list[float], list[float], list[float]])
    assert_type(quorvel.rank_weights(returns.mean(), True), list[float])
    assert_type(quorvel.factor_return_decomposition(weights, returns.iloc[-1]), tuple[list[float], float])


def memoryview_matrix() -> None:
    square = memoryview(array.array("d", [0.04, 0.01, 0.01, 0.09])).cast("B").cast("d", (2, 2))
    assert_type(quorvel.minimum_variance_weights(square), list[float])
    assert_type(quorvel.portfolio_variance([0.5, 0.5], square), float)


if __name__ == "__main__":
    main()
    memoryview_matrix()
