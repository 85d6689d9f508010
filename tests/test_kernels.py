"""The kernels give the same bits on every processor, and the blocked
elimination gives the bits of the column-by-column loop.

Each kernel build runs in its own process (QUORVEL_KERNELS), over the same
seeded inputs, and its outputs are compared byte for byte with the portable
build's. The build this process gets is compared with a numpy model of the
column-by-column loop, on sizes on both sides of every blocking threshold.
"""

import functools
import os
import pickle
import subprocess
import sys

import numpy as np
import pytest

import kernel_cases as kc
import model
import quorvel

LEVELS = ["portable", "avx2", "avx512"]
HERE = os.path.dirname(os.path.abspath(__file__))

LOAD = """
import importlib.util, pickle, sys
located = importlib.util.spec_from_file_location("quorvel", sys.argv[1])
quorvel = importlib.util.module_from_spec(located)
sys.modules["quorvel"] = quorvel
located.loader.exec_module(quorvel)
"""
OUTPUTS = LOAD + """
sys.path.insert(0, sys.argv[2])
import warnings
import numpy as np
import kernel_cases as kc
warnings.simplefilter("ignore")  # degenerate inputs warn; only the bytes matter here
results = []
for kind, s, w, er, ra in kc.inversion_cases():
    inverse = quorvel._invert(s)
    try:
        facts = kc.raw(quorvel._inversion_facts(s))
    except ValueError as exc:
        facts = str(exc)
    results.append((None if inverse is None else kc.raw(np.frombuffer(inverse)),
                    kc.outcome(quorvel.minimum_variance_weights, s),
                    kc.outcome(quorvel.mean_variance_weights, er, s, ra),
                    kc.outcome(quorvel.risk_contribution, w, s),
                    kc.outcome(quorvel.portfolio_variance, w, s), facts))
vectors = [kc.raw(np.frombuffer(quorvel._matvec(*case))) for case in kc.matvec_cases()]
sys.stdout.buffer.write(pickle.dumps((quorvel._kernels, results, vectors)))
"""


def child(code, requested):
    env = {k: v for k, v in os.environ.items() if k != "QUORVEL_KERNELS"}
    if requested is not None:
        env["QUORVEL_KERNELS"] = requested
    done = subprocess.run([sys.executable, "-c", code, quorvel.__file__, HERE], env=env,
                          capture_output=True, timeout=600)
    assert done.returncode == 0, done.stderr.decode()
    return done.stdout


@functools.cache
def best():
    return child(LOAD + "print(quorvel._kernels)", None).decode().strip()


@functools.cache
def outputs(level):
    kernels, results, vectors = pickle.loads(child(OUTPUTS, level))
    assert kernels == level  # the comparison would prove nothing otherwise
    return results, vectors


def processor_level():
    try:
        with open("/proc/cpuinfo") as info:
            flags = next((line.split() for line in info if line.startswith("flags")), [])
    except OSError:
        return len(LEVELS) - 1
    if {"avx512f", "avx512dq", "avx512bw", "avx512vl"} <= set(flags):
        return 2
    return 1 if "avx2" in flags else 0


@pytest.mark.parametrize("requested", [None, "portable", "avx2", "avx512", "AVX512", "sse9"])
def test_requested_kernels_only_lower_the_choice(requested):
    top = LEVELS.index(best())
    assert top <= processor_level()
    got = child(LOAD + "print(quorvel._kernels)", requested).decode().strip()
    want = LEVELS[min(LEVELS.index(requested), top)] if requested in LEVELS else LEVELS[top]
    assert got == want


def test_the_widest_kernels_the_processor_runs_are_chosen():
    built = quorvel._kernel_builds.split()
    assert built in (["portable"], LEVELS)
    assert best() == built[min(processor_level(), len(built) - 1)]


@pytest.mark.parametrize("level", ["avx2", "avx512"])
def test_kernels_give_the_portable_bits(level):
    if LEVELS.index(level) > LEVELS.index(best()):
        pytest.skip(f"this processor or build has no {level} kernels")
    (want, want_vectors), (got, got_vectors) = outputs("portable"), outputs(level)
    cases = kc.inversion_cases()
    bad = [(i, cases[i][0], cases[i][1].shape[0]) for i in range(len(cases)) if got[i] != want[i]]
    assert not bad, f"{len(bad)} inversion cases differ, first (index, kind, n): {bad[:5]}"
    bad = [i for i, (g, w) in enumerate(zip(got_vectors, want_vectors)) if g != w]
    assert not bad, f"matrix-vector cases {bad[:10]} differ"
    # The inputs must reach both outcomes of the elimination and the retry.
    singular = sum(r[0] is None for r in want)
    refused = sum(r[1] == "error: covariance matrix is singular" for r in want)
    assert 0 < refused < singular < len(want) // 2


def test_random_inversions_match_the_model():
    for index, (kind, s, _, _, _) in enumerate(kc.inversion_cases()):
        if s.shape[0] > 130:
            continue
        want, got = kc.textbook_inverse(s), quorvel._invert(s)
        assert (got is None) == (want is None), (index, kind, s.shape)
        if got is not None:
            assert kc.raw(np.frombuffer(got)) == kc.canonical(want), (index, kind, s.shape)


def test_matvec_matches_in_order_sums():
    for values, offset, rs, cs, rows, cols, x in kc.matvec_cases():
        view = values[offset + np.arange(rows)[:, None] * rs + np.arange(cols)[None, :] * cs]
        want = kc.in_order_matvec(view.reshape(rows, cols), x)
        got = np.frombuffer(quorvel._matvec(values, offset, rs, cs, rows, cols, x))
        assert kc.raw(got) == kc.canonical(want), (rows, cols, rs, cs)


def planted(n, plant, column):
    """Diagonal but for what `plant` puts at `column`, the first step that
    must (or, for the last three, need not) change identity columns that no
    pivot row has touched yet. Zeros everywhere keep the signs of zeros in
    the inverse at stake."""
    rng = np.random.default_rng(n + column)
    m = np.diag(rng.random(n) + 1.0)
    if plant == "negative_pivot":
        # Dividing row `column` by it turns its +0.0 in the untouched columns
        # into -0.0, and positive multipliers later keep that -0.0 to the end
        # in the column of the row 20 further down, where this row's own
        # entry is -0.0 / pivot = +0.0.
        m[column, column] = -1.5
        m[column, column + 1:] = -0.5
        m[column, min(column + 20, n - 1)] = -0.0 if column < n - 1 else -1.5
    elif plant == "infinite_multiplier":  # +inf wins the tie with -inf below it
        m[column, column] = np.inf
        m[min(column + 3, n - 1), column] = -np.inf
    elif plant == "nan_multiplier":  # a NaN never wins the pivot search
        m[min(column + 3, n - 1), column] = np.nan
    elif plant == "nan_pivot":
        m[column, column] = np.nan
    elif plant == "infinite_pivot":  # > 0: +0.0 / inf is +0.0
        m[column, column] = np.inf
    elif plant == "signed_zeros":  # multipliers of both zero signs
        m[column + 1:, column] = np.where(np.arange(n - column - 1) % 2, -0.0, 0.0)
        m[column, column + 1:] = np.where(np.arange(n - column - 1) % 3, -0.0, 0.25)
    return m


@pytest.mark.parametrize("n", [24, 100, 333, pytest.param(620, marks=pytest.mark.slow)])
@pytest.mark.parametrize("plant", ["negative_pivot", "infinite_multiplier", "nan_multiplier",
                                   "nan_pivot", "none", "infinite_pivot", "signed_zeros"])
def test_identity_columns_and_their_edges(plant, n):
    for column in sorted({0, 15, 16, n // 2, n - 2, n - 1}):
        m = planted(n, plant, column)
        want, got = kc.textbook_inverse(m), quorvel._invert(m)
        assert got is not None and want is not None
        assert kc.raw(np.frombuffer(got)) == kc.canonical(want), column


@pytest.mark.parametrize("n", [23, 24, 25, 48, 129, 250, 501,
                               pytest.param(640, marks=pytest.mark.slow),
                               pytest.param(777, marks=pytest.mark.slow)])
@pytest.mark.parametrize("kind", ["spd", "general", "late_negative", "ridge"])
@pytest.mark.filterwarnings("ignore::RuntimeWarning")  # asymmetric and ridged on purpose; the bits count
def test_weights_match_the_model(kind, n):
    rng = np.random.default_rng(n)
    s, er = kc.covariance(rng, kind, n), rng.standard_normal(n)
    rows, fast = s.tolist(), {"invert": kc.textbook_rows}
    assert kc.outcome(quorvel.minimum_variance_weights, s) == \
        kc.outcome(functools.partial(model.minimum_variance_weights, **fast), rows, model=True)
    assert kc.outcome(quorvel.mean_variance_weights, er, s, 2.0) == \
        kc.outcome(functools.partial(model.mean_variance_weights, **fast), er.tolist(), rows, 2.0, model=True)


def column_norm(rows):
    """The largest column sum of magnitudes, each column added in row order
    from +0.0, as the library adds it."""
    sums = [0.0] * len(rows[0])
    for row in rows:
        for j, value in enumerate(row):
            sums[j] += abs(value)
    return max(sums)


@pytest.mark.parametrize("n", [1, 3, 10, 37, 64])
def test_the_condition_estimate_is_the_two_norms_in_order(n):
    rng = np.random.default_rng(n)
    for s in (kc.spd(rng, n), rng.standard_normal((n, n))):
        ridged, column, condition = quorvel._inversion_facts(s)
        inverse = np.frombuffer(quorvel._invert(s)).reshape(n, n)
        assert (ridged, column) == (False, 0)
        assert condition == 1.0 / (column_norm(s.tolist()) * column_norm(inverse.tolist()))
    # With the ridge, the norms are those of the ridged matrix inverted.
    ones = np.ones((n, n))
    ridged, column, condition = quorvel._inversion_facts(ones)
    ridged_ones = ones + np.eye(n) * 1e-12
    assert (ridged, column) == (True, 0 if n == 1 else 1) or (n == 1 and not ridged)
    if ridged:
        inverse = np.frombuffer(quorvel._invert(ridged_ones)).reshape(n, n)
        assert condition == 1.0 / (column_norm(ridged_ones.tolist()) * column_norm(inverse.tolist()))
