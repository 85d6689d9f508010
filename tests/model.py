"""Pure-Python reference model of quorvel's numeric routines.

Python floats are IEEE doubles and CPython never fuses a multiply with an
add, so following the documented order of operations step by step gives the
same bits as the native core. Errors are raised as ValueError with the same
message that the module raises.
"""

import math
import struct

ZERO_DENOMINATOR = "weights cannot be normalized when the denominator is zero"


def fail(message):
    raise ValueError(message)


def total(values):
    s = -0.0
    for v in values:
        s += v
    return s


def dot(a, b):
    s = -0.0
    for x, y in zip(a, b):
        s += x * y
    return s


def floor_at(value, floor):
    return value if value > floor else floor


def clamp(value):
    return value if value > 0.0 else 0.0


def check_square_matrix(matrix):
    if len(matrix) == 0:
        fail("matrix must not be empty")
    width = len(matrix[0])
    if width == 0:
        fail("matrix rows must not be empty")
    for row in matrix:
        if len(row) != width:
            fail("matrix rows must have equal length")
    if len(matrix) != width:
        fail("matrix must be square")
    return width


def normalize(values, absolute=False):
    if not values:
        fail(ZERO_DENOMINATOR)
    denominator = total(abs(v) for v in values) if absolute else total(values)
    if denominator == 0.0:
        fail(ZERO_DENOMINATOR)
    return [v / denominator for v in values]


def matvec(rows, vector):
    return [dot(row, vector) for row in rows]


def equal_weights(count):
    if count == 0:
        fail("assets must not be empty")
    return [1.0 / float(count)] * count


def signal_proportional_weights(values):
    if not values:
        fail("signals must not be empty")
    return normalize([float(v) for v in values], absolute=True)


def target_volatility_weights(volatility):
    if not volatility:
        fail("volatility must not be empty")
    for v in volatility:
        if v <= 0.0:
            fail("all volatility values must be positive")
    return normalize([1.0 / v for v in volatility])


def rank_weights(values, ascending):
    if not values:
        fail("signals must not be empty")

    def before(a, b):
        return a[1] < b[1] if ascending else a[1] > b[1]

    records = [(i, float(v)) for i, v in enumerate(values)]
    for i in range(1, len(records)):  # straight insertion, stable
        x = records[i]
        j = i
        while j > 0 and before(x, records[j - 1]):
            records[j] = records[j - 1]
            j -= 1
        records[j] = x
    ranks = [0.0] * len(records)
    for k, (position, _) in enumerate(records):
        ranks[position] = float(k) + 1.0
    return normalize(ranks)


def invert_matrix(matrix):
    n = len(matrix)
    width = 2 * n
    a = []
    for i in range(n):
        row = [0.0] * width
        for j in range(n):
            row[j] = matrix[i][j]
        row[n + i] = 1.0
        a.append(row)
    for c in range(n):
        p = c
        for k in range(c + 1, n):
            if abs(a[k][c]) > abs(a[p][c]):
                p = k
        if abs(a[p][c]) < 1e-14:
            return None
        a[c], a[p] = a[p], a[c]
        v = a[c][c]
        pivot = [x / v for x in a[c]]
        a[c] = pivot
        for r in range(n):
            if r != c:
                f = a[r][c]
                a[r] = [x - (y * f) for x, y in zip(a[r], pivot)]
    return [row[n:] for row in a]


def regularized_inverse(covariance):
    inverse = invert_matrix(covariance)
    if inverse is not None:
        return inverse
    ridged = [list(row) for row in covariance]
    for i in range(len(ridged)):
        ridged[i][i] = ridged[i][i] + 1e-12
    inverse = invert_matrix(ridged)
    if inverse is None:
        fail("covariance matrix is singular")
    return inverse


def minimum_variance_weights(covariance):
    n = check_square_matrix(covariance)
    inverse = regularized_inverse(covariance)
    return normalize(matvec(inverse, [1.0] * n))


def mean_variance_weights(expected_returns, covariance, risk_aversion):
    n = check_square_matrix(covariance)
    if len(expected_returns) != n:
        fail("expected_returns length must match covariance dimensions")
    inverse = regularized_inverse(covariance)
    lam = floor_at(risk_aversion, 1e-12)
    u = [x / lam for x in matvec(inverse, expected_returns)]
    if total(u) == 0.0:
        return equal_weights(n)
    return normalize(u)


def risk_parity_weights(covariance, max_iter, tolerance):
    n = check_square_matrix(covariance)
    w = normalize([1.0 / math.sqrt(floor_at(covariance[i][i], 1e-18)) for i in range(n)])
    if max_iter == 0:
        return w
    target = 1.0 / float(n)
    for _ in range(max_iter):
        m = matvec(covariance, w)
        variance = dot(w, m)
        if not variance > 0.0:
            return w
        deviation = 0.0
        for i in range(n):
            share = (m[i] * w[i]) / variance
            if share > 0.0:
                w[i] = w[i] * math.sqrt(target / share)
            gap = abs(share - target)
            if gap > deviation:
                deviation = gap
            w[i] = floor_at(w[i], 1e-12)
        w = normalize(w)
        if deviation < tolerance:
            return w
    return w


def hierarchical_risk_parity_weights(covariance):
    n = check_square_matrix(covariance)
    return normalize([1.0 / floor_at(covariance[i][i], 1e-18) for i in range(n)])


def _validated(weights, covariance):
    n = check_square_matrix(covariance)
    if len(weights) != n:
        fail("covariance dimensions must match weights")
    return n


def portfolio_variance(weights, covariance):
    _validated(weights, covariance)
    return dot(weights, matvec(covariance, weights))


def portfolio_volatility(weights, covariance):
    return math.sqrt(clamp(portfolio_variance(weights, covariance)))


tracking_error = portfolio_volatility


def risk_contribution(weights, covariance):
    n = _validated(weights, covariance)
    sw = matvec(covariance, weights)
    c = clamp(dot(weights, sw))
    sigma = math.sqrt(c)
    marginal = [0.0] * n if c == 0.0 else [x / sigma for x in sw]
    contribution = [w * m for w, m in zip(weights, marginal)]
    share = [0.0] * n if c == 0.0 else [x / sigma for x in contribution]
    return marginal, contribution, share


def active_share(active_weights):
    return total(abs(a) for a in active_weights) * 0.5


def brinson_attribution(portfolio_weights, benchmark_weights, portfolio_returns, benchmark_returns):
    n = len(portfolio_weights)
    if any(len(v) != n for v in (benchmark_weights, portfolio_returns, benchmark_returns)):
        fail("all input vectors must have the same length")
    allocation = selection = interaction = 0.0
    if n:
        bench = dot(benchmark_weights, benchmark_returns)
        for wp, wb, rp, rb in zip(portfolio_weights, benchmark_weights,
                                  portfolio_returns, benchmark_returns):
            selection += wb * (rp - rb)
            allocation += (wp - wb) * (rb - bench)
            interaction += (rp - rb) * (wp - wb)
    return allocation, selection, interaction, (selection + allocation) + interaction


def factor_return_decomposition(exposures, factor_returns):
    if len(exposures) != len(factor_returns):
        fail("exposures and factor_returns must have the same length")
    contributions = [e * f for e, f in zip(exposures, factor_returns)]
    return contributions, total(contributions)


# ---------------------------------------------------------------- comparison

def same(a, b):
    """Bit-for-bit equality of floats (any NaN equals any NaN), recursively
    through lists and tuples, which must also agree in type and length."""
    if isinstance(a, float) and isinstance(b, float):
        if math.isnan(a) or math.isnan(b):
            return math.isnan(a) and math.isnan(b)
        return struct.pack("<d", a) == struct.pack("<d", b)
    if isinstance(a, (list, tuple)) and type(a) is type(b) and len(a) == len(b):
        return all(same(x, y) for x, y in zip(a, b))
    return False


def outcome(function, *args):
    """('ok', result) or ('error', message) of a call."""
    try:
        return ("ok", function(*args))
    except ValueError as error:
        return ("error", str(error))


def assert_same(got, want):
    assert same(got, want), f"got {got!r}, want {want!r}"
