"""What the scale-out example shows: windows fitted as chunks on a dask
cluster, and inversions on a thread pool, give the plain loop's results bit
for bit."""

import struct
import subprocess
import sys
from pathlib import Path

import pytest

EXTRA = "needs the examples extra: pip install '.[examples]'"
distributed = pytest.importorskip("distributed", reason=EXTRA)
EXAMPLES = Path(__file__).parent.parent / "examples"
sys.path.insert(0, str(EXAMPLES))
import scale_out  # noqa: E402

WINDOW = 48


def bits(value):
    """Every float as its eight bytes, within brackets that keep the nesting."""
    if isinstance(value, float):
        return struct.pack("<d", value)
    if isinstance(value, (list, tuple)):
        return b"[" + b"".join(bits(v) for v in value) + b"]"
    return repr(value).encode()


@pytest.fixture(scope="module")
def client():
    # Workers in this process: worker processes cannot be spawned when pytest
    # runs from standard input, as tools/sanitize runs it. The example's own
    # run below has worker processes.
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=False,
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as client:
        yield client


@pytest.mark.parametrize("chunk", [1, 7, 1000])
def test_dask_chunks_give_the_loops_bits(client, chunk):
    returns = scale_out.synthetic_returns(months=150, assets=12, seed=3)
    starts = list(range(0, len(returns) - WINDOW, 4))
    want = scale_out.plain_loop(returns, starts, WINDOW)
    got = scale_out.with_dask(client, returns, starts, WINDOW, chunk)
    assert [r.start for r in got] == starts
    assert bits(got) == bits(want)


def test_example_finds_identical_results(tmp_path):
    done = subprocess.run([sys.executable, str(EXAMPLES / "scale_out.py"), "--assets", "12", "--repeat", "1"],
                          cwd=tmp_path, capture_output=True, text=True, timeout=600)
    assert done.returncode == 0, done.stderr
    verdicts = [line.rsplit(":", 1)[1] for line in done.stdout.splitlines() if "identical to the loop:" in line]
    assert verdicts == [" True", " True"], done.stdout  # dask, then the thread pool
