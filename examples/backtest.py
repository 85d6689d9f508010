"""Rolling-window backtest of five weighting schemes on 92 years of monthly returns.

    python -m pip install '.[examples]' && python examples/backtest.py [--plot PATH] [--window MONTHS]

Every month from July 1931 on, each scheme is fitted on the previous
`--window` months (60 by default) and held for the next month, so every
return in the table is out of sample:

- equal weights (`equal_weights`);
- inverse volatility (`target_volatility_weights` on the window's standard
  deviations, a pandas Series passed as it is);
- minimum variance (`minimum_variance_weights` on the window's covariance);
- risk parity (`risk_parity_weights`, 1000 passes, tolerance 1e-10);
- inverse variance (`hierarchical_risk_parity_weights`).

It prints annualised return (geometric), annualised volatility, Sharpe ratio
(the assets are excess returns, so the mean over the volatility, times
sqrt(12)), maximum drawdown of the compounded curve, turnover (the average
monthly half-sum of |change of the target weights|) and, for risk parity, in
how many windows the risk shares (`risk_contribution`) came out equal to
within 1e-8. It saves a plot of the equity curves and of each scheme's
ex-ante risk shares through time to PATH (default `backtest.png` in the
current folder). Nothing is downloaded.

The data: the monthly Fama-French factor returns, July 1926 to November 2018
(market excess return Mkt-RF, size SMB, value HML, and the risk-free rate RF,
in percent), from Kenneth R. French's Data Library, as shipped inside the
wheel of the `arch` package (`arch.data.frenchdata`). `arch` is distributed
under the University of Illinois/NCSA Open Source License (its dist-info
declares `License-Expression: NCSA`; LICENSE.md, Copyright (c) 2017 Kevin
Sheppard). The universe is the three factor portfolios Mkt-RF, SMB and HML,
each a zero-cost excess return; RF is not an asset here.

Weights are unconstrained, as every quorvel scheme is: minimum variance may
go short one factor to hedge another.
"""

from __future__ import annotations

import argparse
import math
import warnings
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any

import numpy as np
import numpy.typing as npt
import pandas as pd
from arch.data import frenchdata

import quorvel

ASSETS = ["Mkt-RF", "SMB", "HML"]
SCHEMES = ["equal", "inverse volatility", "minimum variance", "risk parity", "inverse variance"]
RISK_PARITY_PASSES, RISK_PARITY_TOLERANCE = 1000, 1e-10
EQUAL_SHARES_WITHIN = 1e-8


def load_returns() -> pd.DataFrame:
    """The three factors' monthly returns as fractions, on a monthly PeriodIndex.

    The loader's index holds the YYYYMM codes as nanoseconds since 1970, so
    the dates are rebuilt from those integers.
    """
    raw = frenchdata.load()
    codes = np.asarray(pd.DatetimeIndex(raw.index).as_unit("ns").asi8)
    years, months = codes // 100, codes % 100
    if not ((months >= 1) & (months <= 12) & (years > 1900) & (years < 2100)).all():
        raise ValueError("the factor data's index does not hold YYYYMM codes")
    index = pd.PeriodIndex([pd.Period(year=int(y), month=int(m), freq="M") for y, m in zip(years, months)],
                           name="month")
    returns = pd.DataFrame(raw[ASSETS].to_numpy() / 100.0, index=index, columns=ASSETS)
    return returns


@dataclass
class Track:
    """One scheme's out-of-sample history."""

    returns: list[float] = field(default_factory=list)
    weights: list[list[float]] = field(default_factory=list)
    shares: list[list[float]] = field(default_factory=list)


@dataclass
class Backtest:
    months: list[pd.Period]
    tracks: dict[str, Track]
    risk_parity_equal: int
    risk_parity_warned: int


def fit(window: pd.DataFrame) -> tuple[dict[str, list[float]], pd.DataFrame]:
    """Each scheme's weights for one window, and the window's covariance
    (a labelled DataFrame, read by its values in column order)."""
    cov = window.cov()
    return {
        "equal": quorvel.equal_weights(window.shape[1]),
        "inverse volatility": quorvel.target_volatility_weights(window.std()),
        "minimum variance": quorvel.minimum_variance_weights(cov),
        "risk parity": quorvel.risk_parity_weights(cov, RISK_PARITY_PASSES, RISK_PARITY_TOLERANCE),
        "inverse variance": quorvel.hierarchical_risk_parity_weights(cov),
    }, cov


def run(returns: pd.DataFrame, window: int) -> Backtest:
    tracks = {name: Track() for name in SCHEMES}
    months: list[pd.Period] = []
    equal_shares = warned = 0
    for t in range(window, len(returns)):
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always", RuntimeWarning)
            weights, cov = fit(returns.iloc[t - window:t])
        warned += any(issubclass(w.category, RuntimeWarning) for w in caught)
        realised = returns.iloc[t].to_numpy()
        months.append(returns.index[t])
        for name, w in weights.items():
            _, _, share = quorvel.risk_contribution(w, cov)
            track = tracks[name]
            track.returns.append(float(np.dot(w, realised)))
            track.weights.append(w)
            track.shares.append(share)
        target = 1.0 / len(ASSETS)
        equal_shares += max(abs(s - target) for s in tracks["risk parity"].shares[-1]) <= EQUAL_SHARES_WITHIN
    return Backtest(months, tracks, equal_shares, warned)


Series = npt.NDArray[np.floating[Any]]


def compounded(returns: Series) -> Series:
    """Growth of 1 invested at the start: the running product of 1 + r."""
    return np.cumprod(1.0 + returns)


def drawdown(equity: Series) -> Series:
    """Each month's fall from the highest value reached so far (0 or negative)."""
    return equity / np.maximum.accumulate(equity) - 1.0


def annualised_volatility(returns: Series) -> float:
    """Sample standard deviation of monthly returns, times sqrt(12)."""
    return float(returns.std(ddof=1)) * math.sqrt(12.0)


def summary(track: Track) -> dict[str, float]:
    r = np.asarray(track.returns, dtype=np.float64)
    equity = compounded(r)
    w = np.asarray(track.weights)
    volatility = annualised_volatility(r)
    return {
        "return": float(equity[-1] ** (12.0 / len(r)) - 1.0),
        "volatility": volatility,
        "sharpe": float(r.mean()) * 12.0 / volatility,
        "drawdown": float(drawdown(equity).min()),
        "turnover": float(0.5 * np.abs(np.diff(w, axis=0)).sum(axis=1).mean()),
    }


def table(result: Backtest) -> str:
    first, last = result.months[0], result.months[-1]
    lines = [
        f"Out of sample {first} to {last} ({len(result.months)} months), "
        f"universe {', '.join(ASSETS)}",
        f"{'scheme':<20}{'return':>9}{'volatility':>12}{'Sharpe':>8}{'max drawdown':>14}"
        f"{'turnover':>10}  risk parity reached",
    ]
    for name in SCHEMES:
        s = summary(result.tracks[name])
        reached = ""
        if name == "risk parity":
            reached = f"{result.risk_parity_equal} of {len(result.months)} windows"
        lines.append(
            f"{name:<20}{s['return']:>9.2%}{s['volatility']:>12.2%}{s['sharpe']:>8.2f}"
            f"{s['drawdown']:>14.2%}{s['turnover']:>10.2%}  {reached}")
    lines.append(
        f"(risk parity: equal risk shares within {EQUAL_SHARES_WITHIN:g} in "
        f"{result.risk_parity_equal} windows; RuntimeWarning in {result.risk_parity_warned})")
    return "\n".join(lines)


def plot(result: Backtest, path: Path) -> None:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    dates = pd.PeriodIndex(result.months).to_timestamp().to_numpy()
    figure = plt.figure(figsize=(11, 9), layout="constrained")
    grid = figure.add_gridspec(3, 2)
    curves = figure.add_subplot(grid[0, :])
    for name in SCHEMES:
        curves.plot(dates, np.cumprod(1.0 + np.asarray(result.tracks[name].returns)), label=name, linewidth=1)
    curves.set_yscale("log")
    curves.set_title("Growth of 1 (out of sample, monthly rebalancing)")
    curves.legend(loc="upper left", fontsize="small")
    for k, name in enumerate(["equal", "inverse volatility", "minimum variance", "risk parity"]):
        axes = figure.add_subplot(grid[1 + k // 2, k % 2])
        shares = np.asarray(result.tracks[name].shares)
        for j, asset in enumerate(ASSETS):
            axes.plot(dates, shares[:, j], label=asset, linewidth=0.8)
        axes.set_title(f"Risk shares: {name}", fontsize="medium")
        axes.axhline(1.0 / len(ASSETS), color="grey", linewidth=0.5, linestyle="--")
        axes.legend(loc="upper left", fontsize="x-small")
    figure.savefig(path, dpi=110)
    plt.close(figure)


def main(argv: list[str] | None = None) -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0] if __doc__ else None)
    parser.add_argument("--plot", type=Path, default=Path("backtest.png"), help="where to save the plot")
    parser.add_argument("--window", type=int, default=60, help="estimation window in months")
    options = parser.parse_args(argv)
    returns = load_returns()
    result = run(returns, options.window)
    print(table(result))
    plot(result, options.plot)
    print(f"plot saved to {options.plot}")


if __name__ == "__main__":
    main()
