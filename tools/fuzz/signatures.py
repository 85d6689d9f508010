"""The entry points: parameter names and the kind of value each one takes,
and the shape of a successful result."""

from __future__ import annotations


SIGNATURES = {
    "equal_weights": (("count", "count"),),
    "rank_weights": (("values", "vector"), ("ascending", "flag")),
    "signal_proportional_weights": (("values", "vector"),),
    "target_volatility_weights": (("volatility", "vector"),),
    "minimum_variance_weights": (("covariance", "matrix"),),
    "mean_variance_weights": (("expected_returns", "vector"), ("covariance", "matrix"),
                              ("risk_aversion", "float")),
    "risk_parity_weights": (("covariance", "matrix"), ("max_iter", "iterations"),
                            ("tolerance", "float")),
    "hierarchical_risk_parity_weights": (("covariance", "matrix"),),
    "portfolio_variance": (("weights", "vector"), ("covariance", "matrix")),
    "portfolio_volatility": (("weights", "vector"), ("covariance", "matrix")),
    "risk_contribution": (("weights", "vector"), ("covariance", "matrix")),
    "tracking_error": (("active_weights", "vector"), ("covariance", "matrix")),
    "active_share": (("active_weights", "vector"),),
    "brinson_attribution": (("portfolio_weights", "vector"), ("benchmark_weights", "vector"),
                            ("portfolio_returns", "vector"), ("benchmark_returns", "vector")),
    "factor_return_decomposition": (("exposures", "vector"), ("factor_returns", "vector")),
    "Example": (("value", "text"),),
}
ENTRY_POINTS = tuple(SIGNATURES)
# The shape of a successful result.
RESULT_SHAPES = {
    "equal_weights": "floats", "rank_weights": "floats", "signal_proportional_weights": "floats",
    "target_volatility_weights": "floats", "minimum_variance_weights": "floats",
    "mean_variance_weights": "floats", "risk_parity_weights": "floats",
    "hierarchical_risk_parity_weights": "floats", "portfolio_variance": "float",
    "portfolio_volatility": "float", "risk_contribution": "floats3", "tracking_error": "float",
    "active_share": "float", "brinson_attribution": "float4",
    "factor_return_decomposition": "floats+float", "Example": "example",
}
