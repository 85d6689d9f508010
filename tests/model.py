"""Pure-Python reference model of quorvel's numeric routines.

Python floats are IEEE doubles and CPython never fuses a multiply with an
add, so following the documented order of operations step by step gives the
same bits as the native core. Errors are ValueError with the module's message.
"""

import math
import struct
import warnings

ZERO_DEN = "weights cannot be normalized when the denominator is zero"


def total(values):
    s = -0.0
    for v in values:
        s += v
    return s


def dot(a, b):
    return total(x * y for x, y in zip(a, b))


def floor_at(value, floor):
    return value if value > floor else floor  # a NaN value gives the floor


def check_square_matrix(matrix):
    if not matrix:
        raise ValueError("matrix must not be empty")
    width = len(matrix[0])
    if width == 0:
        raise ValueError("matrix rows must not be empty")
    if any(len(row) != width for row in matrix):
        raise ValueError("matrix rows must have equal length")
    if len(matrix) != width:
        raise ValueError("matrix must be square")
    return width


def normalize(values, absolute=False):
    denominator = total(abs(v) for v in values) if absolute else total(values)
    if not values or denominator == 0.0:
        raise ValueError(ZERO_DEN)
    return [v / denominator for v in values]


def matvec(rows, vector):
    return [dot(row, vector) for row in rows]


def equal_weights(count):
    if count == 0:
        raise ValueError("assets must not be empty")
    return [1.0 / float(count)] * count


def signal_proportional_weights(values):
    if not values:
        raise ValueError("signals must not be empty")
    return normalize(values, absolute=True)


def target_volatility_weights(volatility):
    if not volatility:
        raise ValueError("volatility must not be empty")
    if any(v <= 0.0 for v in volatility):
        raise ValueError("all volatility values must be positive")
    return normalize([1.0 / v for v in volatility])


def rank_weights(values, ascending):
    """Straight insertion: each record moves left past every neighbour that
    compares greater than it (NaN compares equal to everything)."""
    if not values:
        raise ValueError("signals must not be empty")
    records = list(enumerate(values))
    for i in range(1, len(records)):
        x, j = records[i], i
        while j > 0 and (x[1] < records[j - 1][1] if ascending else x[1] > records[j - 1][1]):
            records[j] = records[j - 1]
            j -= 1
        records[j] = x
    ranks = [0.0] * len(records)
    for k, (position, _) in enumerate(records):
        ranks[position] = float(k) + 1.0
    return normalize(ranks)


def invert_matrix(matrix):
    """Gauss-Jordan on [M | I] with partial pivoting; None when a pivot is below 1e-14."""
    n = len(matrix)
    a = [list(matrix[i][:n]) + [1.0 if j == i else 0.0 for j in range(n)] for i in range(n)]
    for c in range(n):
        p = c
        for k in range(c + 1, n):
            if abs(a[k][c]) > abs(a[p][c]):
                p = k
        if abs(a[p][c]) < 1e-14:
            return None
        a[c], a[p] = a[p], a[c]
        v = a[c][c]
        pivot = a[c] = [x / v for x in a[c]]
        for r in range(n):
            if r != c:  # every other row, every column, zero factors included
                f = a[r][c]
                a[r] = [x - (y * f) for x, y in zip(a[r], pivot)]
    return [row[n:] for row in a]


def regularized_inverse(covariance, invert=invert_matrix):
    """The inverse, else the inverse with 1e-12 added to the diagonal (and
    nowhere else: an off-diagonal -0.0 stays -0.0). `invert` may be any
    elimination with invert_matrix's arithmetic that takes and returns
    lists of rows (kernel_cases has a faster one for large matrices)."""
    inverse = invert(covariance)
    if inverse is None:
        ridged = [list(row) for row in covariance]
        for i in range(len(ridged)):
            ridged[i][i] = ridged[i][i] + 1e-12
        inverse = invert(ridged)
    if inverse is None:
        raise ValueError("covariance matrix is singular")
    return inverse


def minimum_variance_weights(covariance, *, invert=invert_matrix):
    n = check_square_matrix(covariance)
    return normalize(matvec(regularized_inverse(covariance, invert), [1.0] * n))


def mean_variance_weights(expected_returns, covariance, risk_aversion, *, invert=invert_matrix):
    n = check_square_matrix(covariance)
    if len(expected_returns) != n:
        raise ValueError("expected_returns length must match covariance dimensions")
    lam = floor_at(risk_aversion, 1e-12)
    u = [x / lam for x in matvec(regularized_inverse(covariance, invert), expected_returns)]
    return equal_weights(n) if total(u) == 0.0 else normalize(u)


def risk_parity_weights(covariance, max_iter, tolerance):
    n = check_square_matrix(covariance)
    w = normalize([1.0 / math.sqrt(floor_at(covariance[i][i], 1e-18)) for i in range(n)])
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
            if abs(share - target) > deviation:
                deviation = abs(share - target)
            w[i] = floor_at(w[i], 1e-12)
        w = normalize(w)
        if deviation < tolerance:
            return w
    return w


def hierarchical_risk_parity_weights(covariance):
    n = check_square_matrix(covariance)
    return normalize([1.0 / floor_at(covariance[i][i], 1e-18) for i in range(n)])


def portfolio_variance(weights, covariance):
    if len(weights) != check_square_matrix(covariance):
        raise ValueError("covariance dimensions must match weights")
    return dot(weights, matvec(covariance, weights))


def portfolio_volatility(weights, covariance):
    v = portfolio_variance(weights, covariance)
    return math.sqrt(v if v > 0.0 else 0.0)


tracking_error = portfolio_volatility


def risk_contribution(weights, covariance):
    v = portfolio_variance(weights, covariance)
    c = v if v > 0.0 else 0.0
    sigma = math.sqrt(c)
    zeros = [0.0] * len(weights)
    marginal = zeros if c == 0.0 else [x / sigma for x in matvec(covariance, weights)]
    contribution = [w * m for w, m in zip(weights, marginal)]
    return marginal, contribution, zeros if c == 0.0 else [x / sigma for x in contribution]


def active_share(active_weights):
    return total(abs(a) for a in active_weights) * 0.5


def brinson_attribution(portfolio_weights, benchmark_weights, portfolio_returns, benchmark_returns):
    n = len(portfolio_weights)
    if any(len(v) != n for v in (benchmark_weights, portfolio_returns, benchmark_returns)):
        raise ValueError("all input vectors must have the same length")
    allocation = selection = interaction = 0.0
    if n:
        bench = dot(benchmark_weights, benchmark_returns)
        for wp, wb, rp, rb in zip(portfolio_weights, benchmark_weights, portfolio_returns, benchmark_returns):
            selection += wb * (rp - rb)
            allocation += (wp - wb) * (rb - bench)
            interaction += (rp - rb) * (wp - wb)
    return allocation, selection, interaction, (selection + allocation) + interaction


def factor_return_decomposition(exposures, factor_returns):
    if len(exposures) != len(factor_returns):
        raise ValueError("exposures and factor_returns must have the same length")
    contributions = [e * f for e, f in zip(exposures, factor_returns)]
    return contributions, total(contributions)


def same(a, b):
    """Bit-for-bit equality (any NaN equals any NaN), recursing through lists
    and tuples, which must agree in type and length; any other values (None,
    say) must be of one type and equal."""
    if isinstance(a, float) and isinstance(b, float):
        return math.isnan(a) and math.isnan(b) or struct.pack("<d", a) == struct.pack("<d", b)
    if isinstance(a, (list, tuple)) and type(a) is type(b) and len(a) == len(b):
        return all(same(x, y) for x, y in zip(a, b))
    return type(a) is type(b) and a == b


def outcome(function, *args):
    """('ok', result) or ('error', message) of a call. A RuntimeWarning (risk
    parity that stopped short of its tolerance) does not change the result."""
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", RuntimeWarning)
            return ("ok", function(*args))
    except ValueError as error:
        return ("error", str(error))


def check(function, args, want):
    """A str `want` is the expected ValueError message, anything else the result."""
    got = outcome(function, *args)
    if isinstance(want, str):
        assert got == ("error", want)
    else:
        assert got[0] == "ok" and same(got[1], want), f"got {got!r}, want {want!r}"
