"""The scale-out example's chunked computation gives the plain loop's results
bit for bit, on a dask cluster and on a thread pool."""

import sys
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

import pytest

pytest.importorskip("numpy", reason="the scale-out example needs numpy")
sys.path.insert(0, str(Path(__file__).parent.parent / "examples"))
import scale_out  # noqa: E402

WINDOW = 48


@pytest.fixture(scope="module")
def returns():
    return scale_out.synthetic_returns(months=150, assets=12, seed=3)


@pytest.fixture(scope="module")
def starts(returns):
    return list(range(0, len(returns) - WINDOW, 4))


@pytest.fixture(scope="module")
def expected(returns, starts):
    results = scale_out.plain_loop(returns, starts, WINDOW)
    assert [r.start for r in results] == starts
    for r in results:
        for weights in (r.minimum_variance, r.risk_parity, r.inverse_variance):
            assert len(weights) == 12 and abs(sum(weights) - 1.0) < 1e-9
    return results


@pytest.mark.parametrize("chunk", [1, 5, 100])
def test_dask_cluster_gives_the_loops_bits(returns, starts, expected, chunk):
    distributed = pytest.importorskip("distributed", reason="dask.distributed is not installed (pip install '.[examples]')")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=False,
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as client:
        got = scale_out.with_dask(client, returns, starts, WINDOW, chunk)
    assert [r.start for r in got] == starts
    assert scale_out.bits(got) == scale_out.bits(expected)


def test_threads_give_the_loops_bits(returns, starts, expected):
    pieces = scale_out.chunks(starts, 3)
    with ThreadPoolExecutor(max_workers=4) as pool:
        parts = list(pool.map(lambda piece: scale_out.compute_chunk(piece, returns, WINDOW), pieces))
    got = [r for part in parts for r in part]
    assert scale_out.bits(got) == scale_out.bits(expected)


def test_bits_tell_apart_what_equality_would_not():
    assert scale_out.bits([[0.0, 1.0]]) != scale_out.bits([[-0.0, 1.0]])
    assert scale_out.bits([[1.0, 2.0]]) != scale_out.bits([[2.0, 1.0]])
