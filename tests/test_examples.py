"""Every example runs clean: no warning of any kind, in the process or in
the worker processes it starts, except the risk-parity ones the backtest
counts and reports."""

import importlib.util
import os
import re
import subprocess
import sys
import warnings
from pathlib import Path

import pytest

EXAMPLES = Path(__file__).parent.parent / "examples"
EXTRA = "needs the examples extra: pip install '.[examples]'"

# Each example: its arguments, the modules it needs, and a line its output must hold.
RUNS = {
    "tour.py": ([], [], r"^Example<quorvel>$"),
    "backtest.py": (["--plot", "backtest.png"], ["arch", "matplotlib", "pandas"],
                    r"^\(risk parity: equal risk shares within 1e-08 in \d+ windows; RuntimeWarning in \d+\)$"),
    "scale_out.py": (["--assets", "12", "--repeat", "1"], ["distributed"],
                     r"^  2 threads .* identical to the loop: True$"),
}


def test_every_example_is_run():
    assert sorted(RUNS) == sorted(p.name for p in EXAMPLES.glob("*.py"))


@pytest.mark.parametrize("name", sorted(RUNS))
def test_examples_run_without_a_warning(name, tmp_path):
    arguments, needs, line = RUNS[name]
    for module in needs:
        if importlib.util.find_spec(module) is None:
            pytest.skip(EXTRA)
    # Every warning is an error, here and in any process the example starts.
    env = dict(os.environ, PYTHONWARNINGS="error")
    done = subprocess.run([sys.executable, str(EXAMPLES / name), *arguments], cwd=tmp_path, env=env,
                          capture_output=True, text=True, timeout=900)
    assert done.returncode == 0, done.stderr
    assert "Warning" not in done.stderr, done.stderr
    assert re.search(line, done.stdout, re.MULTILINE), done.stdout


def test_the_scale_out_windows_are_clean_at_full_size():
    """The example's own universe (200 assets, 120-month windows): a sample covariance of rank 119 would warn at
    minimum_variance_weights; the shrinkage covariance the example uses does not, nor does anything else."""
    pytest.importorskip("numpy")
    sys.path.insert(0, str(EXAMPLES))
    import scale_out
    returns = scale_out.synthetic_returns(months=300, assets=200)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        results = scale_out.plain_loop(returns, list(range(0, 180, 30)), 120)
    assert len(results) == 6
