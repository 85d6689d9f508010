"""The README's main example runs against the installed module and prints
the figures it should: the ones below agree with numpy's solve and a plain
risk-parity fixed-point loop to the digits shown."""

import subprocess
import sys
from pathlib import Path

TOUR = Path(__file__).parent.parent / "examples" / "tour.py"

LINES = [
    "rank_weights (ascending)          equities +0.4000  credit +0.2000  rates +0.1000  gold +0.3000",
    "minimum_variance_weights          equities +0.0716  credit +0.1899  rates +0.6992  gold +0.0393",
    "mean_variance_weights             equities +0.1443  credit +0.2075  rates +0.5880  gold +0.0603",
    "risk_parity_weights               equities +0.1399  credit +0.2408  rates +0.4523  gold +0.1670",
    "  variance   3.314908e-03",
    "  volatility 0.057575",
    "  share of risk                   equities +0.2500  credit +0.2500  rates +0.2500  gold +0.2500",
    "  tracking error 0.027525",
    "  active share   0.202344",
    "  allocation -0.004192  selection +0.001500  interaction -0.000368  total -0.003060",
    "Factor contributions [0.013200000000000002, 0.0012000000000000001, -0.0014000000000000002], total 0.013000",
    "Example<quorvel>",
]


def test_tour_prints_its_figures(tmp_path):
    # Run from an empty folder, so that nothing but the installed module can be imported.
    done = subprocess.run([sys.executable, str(TOUR)], cwd=tmp_path, capture_output=True, text=True,
                          timeout=120)
    assert (done.returncode, done.stderr) == (0, "")
    printed = done.stdout.splitlines()
    assert [line for line in LINES if line not in printed] == []
