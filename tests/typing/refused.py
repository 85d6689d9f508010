"""Calls that a type checker must refuse: every line marked `# refused`
must be reported, and no other line."""

import array

import numpy as np

import quorvel

COV = [[0.04, 0.01], [0.01, 0.09]]

quorvel.portfolio_volatility("oops", COV)  # refused
quorvel.portfolio_volatility([0.5, 0.5], 3)  # refused
quorvel.active_share(5)  # refused
quorvel.active_share(None)  # refused
quorvel.active_share(np.float64(0.5))  # refused
quorvel.active_share(["0.1", "0.2"])  # refused
quorvel.active_share([0.1, None])  # refused
quorvel.active_share({0.1: 1.0})  # refused
quorvel.signal_proportional_weights(x for x in [1.0])  # refused
quorvel.minimum_variance_weights("ab")  # refused
quorvel.minimum_variance_weights([0.04, 0.09])  # refused
quorvel.minimum_variance_weights([[0.04], "a"])  # refused
quorvel.minimum_variance_weights(array.array("d", [0.04]))  # refused
quorvel.equal_weights(2.0)  # refused
quorvel.equal_weights("3")  # refused
quorvel.risk_parity_weights(COV, 1.5, 1e-8)  # refused
quorvel.risk_parity_weights(COV, 10, "1e-8")  # refused
quorvel.mean_variance_weights([0.1, 0.2], COV, None)  # refused
quorvel.rank_weights([1.0, 2.0], 1)  # refused
quorvel.rank_weights([1.0, 2.0], np.int64(1))  # refused
quorvel.rank_weights([1.0, 2.0], "yes")  # refused
quorvel.equal_weights()  # refused
quorvel.equal_weights(1, 2)  # refused
quorvel.equal_weights(n=3)  # refused
quorvel.Example(1)  # refused
quorvel.Example("a").value  # refused
weights: list[int] = quorvel.equal_weights(2)  # refused
variance: list[float] = quorvel.portfolio_variance([1.0], [[1.0]])  # refused
share: float = quorvel.risk_contribution([1.0], [[1.0]])[2]  # refused


class Derived(quorvel.Example):  # refused
    pass
