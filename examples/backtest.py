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
within 1e-8. Nothing is downloaded.

It saves a plot to PATH (default `backtest.png` in the current folder), titled
with the data, the window and the out-of-sample months, with, top to bottom:

- growth of 1 for each scheme, on a log axis;
- each scheme's drawdown in percent (the fall of that curve from its running
  peak), on the same time axis;
- growth of 1 at matched volatility: each scheme's monthly returns times one
  constant so that every scheme has 10% annualised volatility, then
  compounded. The constant comes from the whole sample's volatility, so the
  panel compares the curves at equal risk after the fact; it is not a
  strategy one could have traded;
- the ex-ante risk shares (`risk_contribution` on the window's covariance)
  of the three factors through time for equal weights, inverse volatility,
  minimum variance and risk parity.

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
from typing import TYPE_CHECKING, Any

import numpy as np
import numpy.typing as npt
import pandas as pd
from arch.data import frenchdata

import quorvel

if TYPE_CHECKING:
    from matplotlib.axes import Axes

ASSETS = ["Mkt-RF", "SMB", "HML"]
SCHEMES = ["equal", "inverse volatility", "minimum variance", "risk parity", "inverse variance"]
RISK_PARITY_PASSES, RISK_PARITY_TOLERANCE = 1000, 1e-10
EQUAL_SHARES_WITHIN = 1e-8
# The plot: the annualised volatility every scheme is scaled to in the
# matched-volatility panel, one colour per scheme and per factor, and the
# schemes whose risk shares get a panel.
MATCHED_VOLATILITY = 0.10
SCHEME_COLOURS = dict(zip(SCHEMES, ["tab:blue", "tab:orange", "tab:green", "tab:red", "tab:purple"]))
ASSET_COLOURS = dict(zip(ASSETS, ["#1b9e77", "#d95f02", "#7570b3"]))
SHARE_PANELS = ["equal", "inverse volatility", "minimum variance", "risk parity"]


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


NOT_CONVERGED = "risk_parity_weights did not converge"


def risk_parity(cov: pd.DataFrame) -> tuple[list[float], bool]:
    """Risk-parity weights, and whether the iteration said it stopped short
    of equal risk shares (a RuntimeWarning, counted rather than shown). Any
    other warning goes on to the caller's filters."""
    with warnings.catch_warnings(record=True) as caught:
        warnings.filterwarnings("always", message=NOT_CONVERGED, category=RuntimeWarning)
        weights = quorvel.risk_parity_weights(cov, RISK_PARITY_PASSES, RISK_PARITY_TOLERANCE)
    stopped_short = False
    for w in caught:
        if issubclass(w.category, RuntimeWarning) and str(w.message).startswith(NOT_CONVERGED):
            stopped_short = True
        else:
            warnings.warn_explicit(w.message, w.category, w.filename, w.lineno)
    return weights, stopped_short


def fit(window: pd.DataFrame) -> tuple[dict[str, list[float]], pd.DataFrame, bool]:
    """Each scheme's weights for one window, the window's covariance (a
    labelled DataFrame, read by its values in column order), and whether
    risk parity stopped short."""
    cov = window.cov()
    parity, stopped_short = risk_parity(cov)
    return {
        "equal": quorvel.equal_weights(window.shape[1]),
        "inverse volatility": quorvel.target_volatility_weights(window.std()),
        "minimum variance": quorvel.minimum_variance_weights(cov),
        "risk parity": parity,
        "inverse variance": quorvel.hierarchical_risk_parity_weights(cov),
    }, cov, stopped_short


def run(returns: pd.DataFrame, window: int) -> Backtest:
    tracks = {name: Track() for name in SCHEMES}
    months: list[pd.Period] = []
    equal_shares = warned = 0
    for t in range(window, len(returns)):
        weights, cov, stopped_short = fit(returns.iloc[t - window:t])
        warned += stopped_short
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


def plain_number(value: float, _position: float | None = None) -> str:
    """Tick label for a log axis: 0.5, 1, 20, 100 rather than powers of ten."""
    return f"{value:g}"


def plain_number_at_2_and_5(value: float, _position: float | None = None) -> str:
    """Minor tick label on a log axis: only at 2 and 5 times a power of ten."""
    if value <= 0.0:
        return ""
    leading = round(value / 10.0 ** math.floor(math.log10(value)))
    return f"{value:g}" if leading in (2, 5) else ""


def log_growth_axis(axes: Axes) -> None:
    """Log scale with decades labelled and 2s and 5s labelled smaller in between."""
    from matplotlib.ticker import FuncFormatter, LogLocator

    axes.set_yscale("log")
    axes.yaxis.set_major_locator(LogLocator(base=10.0, subs=(1.0,)))
    axes.yaxis.set_major_formatter(FuncFormatter(plain_number))
    axes.yaxis.set_minor_locator(LogLocator(base=10.0, subs=tuple(float(k) for k in range(2, 10))))
    axes.yaxis.set_minor_formatter(FuncFormatter(plain_number_at_2_and_5))
    axes.tick_params(axis="y", which="minor", labelsize="small")
    axes.grid(True, which="major", axis="y", linewidth=0.6, alpha=0.5)
    axes.grid(True, which="minor", axis="y", linewidth=0.4, alpha=0.25)
    axes.grid(True, which="major", axis="x", linewidth=0.4, alpha=0.3)


def month_name(month: pd.Period) -> str:
    return month.strftime("%B %Y")


def plot(result: Backtest, path: Path, window: int) -> None:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from matplotlib.ticker import AutoMinorLocator, MultipleLocator, PercentFormatter

    dates = pd.PeriodIndex(result.months).to_timestamp().to_numpy()
    returns = {name: np.asarray(result.tracks[name].returns, dtype=np.float64) for name in SCHEMES}
    falls_of = {name: drawdown(compounded(r)) for name, r in returns.items()}
    first, last = result.months[0], result.months[-1]

    figure = plt.figure(figsize=(12, 14), layout="constrained")
    figure.suptitle(
        f"Rolling {window}-month backtest of five weighting schemes, out of sample "
        f"{month_name(first)} to {month_name(last)} ({len(result.months)} months)\n"
        f"Data: monthly Fama\u2013French factors {', '.join(ASSETS)}, from Kenneth R. French's Data Library "
        "(via the arch package)\n"
        f"Each month's weights are fitted on the previous {window} months and held for that month; "
        "no transaction costs",
        fontsize="large")
    grid = figure.add_gridspec(5, 2, height_ratios=[3.0, 1.7, 3.0, 2.2, 2.2])

    curves = figure.add_subplot(grid[0, :])
    for name in SCHEMES:
        curves.plot(dates, compounded(returns[name]), label=name, color=SCHEME_COLOURS[name], linewidth=1)
    log_growth_axis(curves)
    curves.set_title("Growth of 1, out of sample, rebalanced monthly", fontsize="medium")
    curves.set_ylabel("value of 1 invested (log scale)")
    curves.legend(loc="upper left", fontsize="small")

    falls = figure.add_subplot(grid[1, :], sharex=curves)
    for name in SCHEMES:
        falls.plot(dates, 100.0 * falls_of[name], label=name, color=SCHEME_COLOURS[name], linewidth=0.8)
    falls.axhline(0.0, color="grey", linewidth=0.5)
    deepest = min(float(f.min()) for f in falls_of.values())
    # Room under the deepest fall for the legend.
    falls.set_ylim(5.0 * math.floor(20.0 * deepest) - 10.0, 2.0)
    falls.yaxis.set_major_locator(MultipleLocator(10.0))
    falls.yaxis.set_major_formatter(PercentFormatter(xmax=100.0, decimals=0))
    falls.set_title("Drawdown: fall of each curve above from its running peak", fontsize="medium")
    falls.set_ylabel("drawdown (%)")
    falls.grid(True, linewidth=0.4, alpha=0.3)
    falls.legend(loc="lower right", fontsize="x-small", ncol=len(SCHEMES))

    matched = figure.add_subplot(grid[2, :], sharex=curves, sharey=curves)
    for name in SCHEMES:
        scale = MATCHED_VOLATILITY / annualised_volatility(returns[name])
        matched.plot(dates, compounded(scale * returns[name]), label=f"{name} (returns x {scale:.2f})",
                     color=SCHEME_COLOURS[name], linewidth=1)
    log_growth_axis(matched)
    matched.set_title(
        f"Growth of 1 at matched volatility: each scheme's monthly returns times one constant, so that every "
        f"scheme has {MATCHED_VOLATILITY:.0%} annualised volatility\n"
        "Ex post: the constant uses the whole sample's volatility, so this is a comparison device, "
        "not a tradable strategy", fontsize="medium")
    matched.set_ylabel(f"value of 1 at {MATCHED_VOLATILITY:.0%} volatility (log scale)")
    matched.legend(loc="upper left", fontsize="small")

    for axes in (curves, falls, matched):
        axes.xaxis.set_minor_locator(AutoMinorLocator(2))
        axes.set_xlabel("year")
        axes.margins(x=0.01)

    # One y range for all share panels, so that their swings compare at a glance.
    first_share: Axes | None = None
    for k, name in enumerate(SHARE_PANELS):
        axes = figure.add_subplot(grid[3 + k // 2, k % 2], sharex=curves, sharey=first_share)
        first_share = first_share or axes
        shares = np.asarray(result.tracks[name].shares)
        for j, asset in enumerate(ASSETS):
            axes.plot(dates, shares[:, j], label=asset, color=ASSET_COLOURS[asset], linewidth=0.8)
        axes.axhline(1.0 / len(ASSETS), color="grey", linewidth=0.7, linestyle="--",
                     label=f"equal share (1/{len(ASSETS)})")
        axes.axhline(0.0, color="grey", linewidth=0.4)
        axes.yaxis.set_major_formatter(PercentFormatter(xmax=1.0, decimals=0))
        axes.set_title(f"Ex-ante risk shares (window covariance): {name}", fontsize="medium")
        axes.set_ylabel("share of portfolio volatility")
        axes.set_xlabel("year")
        axes.grid(True, linewidth=0.4, alpha=0.3)
        axes.legend(loc="upper left", fontsize="x-small", ncol=len(ASSETS) + 1)
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
    plot(result, options.plot, options.window)
    print(f"plot saved to {options.plot}")


if __name__ == "__main__":
    main()
