"""Typed caller code on plain Python inputs: must pass `mypy --strict` and
pyright's strict mode with no error, and run as it is."""

import array
from typing import assert_type

import quorvel

COV = [[0.04, 0.01], [0.01, 0.09]]
COV_TUPLES = ((0.04, 0.01), (0.01, 0.09))


def vectors() -> None:
    assert_type(quorvel.equal_weights(3), list[float])
    assert_type(quorvel.equal_weights(True), list[float])
    assert_type(quorvel.rank_weights([3, 1, 2], True), list[float])
    assert_type(quorvel.rank_weights(range(3), ascending=False), list[float])
    assert_type(quorvel.signal_proportional_weights((1.0, -2.0)), list[float])
    assert_type(quorvel.signal_proportional_weights(b"\x01\x02"), list[float])
    assert_type(quorvel.target_volatility_weights(array.array("d", [0.1, 0.2])), list[float])
    assert_type(quorvel.active_share(memoryview(array.array("d", [0.1, -0.1]))), float)
    assert_type(quorvel.active_share([]), float)
    contributions, total = quorvel.factor_return_decomposition([1.2, 0.5], [0.02, -0.01])
    assert_type(contributions, list[float])
    assert_type(total, float)
    allocation, selection, interaction, whole = quorvel.brinson_attribution(
        [0.6, 0.4], [0.5, 0.5], [0.10, 0.02], [0.08, 0.03])
    assert_type((allocation, selection, interaction, whole), tuple[float, float, float, float])


def matrices() -> None:
    for cov in (COV, COV_TUPLES, [range(1, 3), (2.0, 5.0)], [array.array("d", [1.0, 0.5]), (0.5, 2.0)]):
        assert_type(quorvel.minimum_variance_weights(cov), list[float])
        assert_type(quorvel.hierarchical_risk_parity_weights(cov), list[float])
        assert_type(quorvel.risk_parity_weights(cov, 100, 1e-10), list[float])
        assert_type(quorvel.risk_parity_weights(cov, max_iter=0, tolerance=0), list[float])
        assert_type(quorvel.mean_variance_weights([0.05, 0.08], cov, 3), list[float])
        assert_type(quorvel.portfolio_variance([0.5, 0.5], cov), float)
        assert_type(quorvel.portfolio_volatility(weights=(0.5, 0.5), covariance=cov), float)
        assert_type(quorvel.tracking_error([0.1, -0.1], cov), float)
        marginal, contribution, share = quorvel.risk_contribution([0.6, 0.4], cov)
        assert_type((marginal, contribution, share), tuple[list[float], list[float], list[float]])


def example() -> str:
    value = quorvel.Example(value="abc")
    assert_type(value, quorvel.Example)
    return str(value) + repr(value) + quorvel.__all__[0]


if __name__ == "__main__":
    vectors()
    matrices()
    example()
