"""Bit-exact portfolio construction and portfolio analytics.

Every function is a plain module-level function whose parameters are all
required and may be passed by position or by keyword. Results are new lists,
floats or tuples, identical to the last bit on every machine: each sum runs
in a fixed order (first item to last), every division is a true division
and no multiply-add is fused.

Inputs
------
vector
    Any sequence of real numbers: list, tuple, range, ``array.array``,
    ``memoryview``, ``bytes``, a 1-D numpy array of any real numeric dtype,
    a pandas ``Series``. Items may be any object with ``__float__`` or
    ``__index__``. A ``str`` is never a vector.
matrix
    A sequence of rows (each a vector), a 2-D numeric numpy array (any order
    or strides, ``numpy.matrix`` too), a 2-D ``memoryview``, or a pandas
    ``DataFrame`` (read by its values, as ``to_numpy()`` gives them).

pandas objects of nullable extension dtypes (``Float64``, ``Int64``,
``boolean``, ...) are read by value, ``pd.NA`` as NaN. Complex arrays are
refused, never silently cut to their real parts.

Labels are not aligned: weights and covariance are matched by position. To
match a weight ``Series`` with a covariance ``DataFrame`` by label, select
first: ``portfolio_variance(w, cov.loc[w.index, w.index])``.

NaN and infinities are accepted and flow through the arithmetic.

Errors common to every function
-------------------------------
Binding (``TypeError``, no note), with the function's own name, e.g.::

    equal_weights() missing 1 required positional argument: 'count'
    rank_weights() missing 2 required positional arguments: 'values' and 'ascending'
    equal_weights() takes 1 positional arguments but 2 were given
    equal_weights() got an unexpected keyword argument 'n'
    equal_weights() got multiple values for argument 'count'

Conversion (the first failing argument, in parameter order, stops the call;
later arguments are not read). The exception carries the note
``while processing '<parameter>'``:

- vector or matrix (or a matrix row) given a str:
  ``TypeError("Can't extract `str` to `Vec`")``;
- given something that is not a sequence:
  ``TypeError("'int' object is not an instance of 'Sequence'")`` (with the
  type's name; ``'None' is not an instance of 'Sequence'`` for None);
- an item that is not a real number:
  ``TypeError("must be real number, not str")`` (with the item's type);
- an array, ``memoryview`` or ``array.array`` with the wrong number of
  dimensions: ``TypeError("expected a 1-D array of numbers, got a 3-D
  array of shape (2, 2, 2)")`` (``2-D`` for a matrix; ``numpy.matrix``,
  ``memoryview`` or ``array.array`` in place of ``array``);
- a complex array: ``TypeError("expected real numbers, got a complex128
  array; pass its .real (or abs()) to drop the imaginary parts")``, and a
  complex numpy scalar where a number is expected: ``TypeError("expected a
  real number, got a complex128 scalar; pass its .real (or abs()) to drop
  the imaginary part")``;
- a pandas ``DataFrame`` holding non-numeric values:
  ``TypeError("DataFrame values must be real numbers, not dtype 'object'")``
  (the dtype of the first non-numeric extension column, when there is one);
- a count (``int`` >= 0): ``TypeError("'float' object cannot be
  interpreted as an integer")``, ``OverflowError("can't convert negative
  int to unsigned")``, ``OverflowError("int too big to convert")``;
- a float: ``TypeError("must be real number, not str")``,
  ``OverflowError("int too large to convert to float")``;
- a flag (``bool`` or numpy boolean only):
  ``TypeError("'int' object is not an instance of 'bool'")``.

An exception raised by the caller's own objects (their ``__float__``,
``__index__``, ``__iter__``, ``__len__``) comes out unchanged, with the note
added. ``MemoryError`` is raised for results too large to allocate.

Failures of the inputs' content raise ``ValueError`` with the fixed
messages listed in each function's documentation. When the sizes of the
arguments do not fit (``matrix rows must have equal length``, ``matrix
must be square``, and the messages about lengths that must match), the
message stays as it is and a note gives the sizes seen, e.g.
``weights has 3 values; covariance is 4 x 4``.

Warnings
--------
Some inputs give a result that is exactly what the formula says but is not
what the caller meant. The result is returned unchanged, and a
``RuntimeWarning`` names the function, what was degenerate and what was
returned instead:

- ``portfolio_volatility``, ``tracking_error`` and ``risk_contribution``,
  when the portfolio variance is NaN (naming the first NaN input, such as
  a weight left NaN by ``reindex``), or negative by more than the rounding
  error bound of its computation, ``4 n u |w|'|S||w|`` with
  ``u = 2**-53`` (then the covariance is certainly not positive
  semi-definite), since the volatility is then reported as 0.0. A
  variance of +0.0 or -0.0 is silent, and so is a negative one within the
  bound: the weights of a singular covariance give such rounding noise
  around zero, and 0.0 is then the honest answer;
- ``hierarchical_risk_parity_weights`` and ``risk_parity_weights``, when a
  diagonal variance is NaN or negative and is counted as 1e-18, so that
  asset takes nearly the whole portfolio (a zero variance is silent);
- ``risk_parity_weights``, when asked to converge it stops short, saying
  whether the portfolio variance was NaN, zero or negative, or how far the
  shares were from equal;
- ``minimum_variance_weights`` and ``mean_variance_weights``, when the
  first inversion found a pivot below 1e-14 and the weights are those of
  the covariance with 1e-12 added to its diagonal (naming the pivot step),
  and when the matrix inverted is numerically singular: its reciprocal
  1-norm condition number ``1/(|S|_1 |S^-1|_1)`` is below the unit
  roundoff ``2**-53`` (the test scipy's solvers warn on), so rounding
  decides the weights. A sample covariance of fewer observations than
  assets gives one or the other;
- ``minimum_variance_weights``, ``mean_variance_weights`` and
  ``risk_parity_weights``, when the covariance is not exactly symmetric
  (naming the first pair of entries that differ; two NaNs count as
  equal);
- ``rank_weights``, when a value is NaN (naming the first), since NaN
  compares equal to every value and the ranks around it do not follow the
  values;
- every function given a covariance as a pandas ``DataFrame`` whose index
  and columns are not the same labels in the same order, or weights
  (expected returns) as a ``Series`` whose index is not the frame's columns
  in the same order, naming the first position that differs, since values
  are matched by position: ``portfolio_volatility: the index of weights and
  the columns of covariance differ at position 0 ('a' and 'c'); values are
  matched by position, not by label``. The default index (the
  ``RangeIndex`` 0 to n - 1 pandas gives an object made without labels)
  counts as none.

To turn them into errors (raised from the call, which then returns
nothing)::

    import warnings
    warnings.simplefilter("error", RuntimeWarning)
"""

from collections.abc import Sequence
from typing import Any, Protocol, Self, SupportsFloat, SupportsIndex, TypeAlias, final, type_check_only

__all__ = [
    "Example",
    "equal_weights",
    "rank_weights",
    "signal_proportional_weights",
    "target_volatility_weights",
    "minimum_variance_weights",
    "mean_variance_weights",
    "risk_parity_weights",
    "hierarchical_risk_parity_weights",
    "portfolio_variance",
    "portfolio_volatility",
    "risk_contribution",
    "tracking_error",
    "active_share",
    "brinson_attribution",
    "factor_return_decomposition",
]

__version__: str
"""The version of the installed quorvel distribution, e.g. ``"0.1.0"``."""

@type_check_only
class _ArrayLike(Protocol):
    """An array with a length: numpy arrays, pandas Series and DataFrames.

    Matched by shape of the interface, so the stub needs neither numpy nor
    pandas. Scalars (numpy scalars have ``__array__`` too) have no length.
    """

    def __array__(self) -> object: ...
    def __len__(self) -> int: ...

@type_check_only
class _NumpyBool(Protocol):
    """A numpy boolean scalar (``numpy.True_``, ``numpy.bool_(x)``)."""

    def item(self) -> bool: ...
    def __bool__(self) -> bool: ...

_Real: TypeAlias = SupportsFloat | SupportsIndex
_Vector: TypeAlias = Sequence[_Real] | _ArrayLike
_Matrix: TypeAlias = Sequence[Sequence[_Real] | _ArrayLike] | _ArrayLike | memoryview[Any]
_Flag: TypeAlias = bool | _NumpyBool

@final
class Example:
    """A small immutable value wrapping one text.

    ``str(example)`` is the text and ``repr(example)`` is ``Example<text>``.
    The class cannot be subclassed; instances take no attributes and no weak
    references.

    Args:
        value: the text (a ``str`` or a subclass; its characters are kept,
            the subclass's ``__str__`` is not called).

    Raises:
        TypeError: ``'int' object is not an instance of 'str'`` (with the
            given type's name; ``'None' is not an instance of 'str'`` for
            None), with the note ``while processing 'value'``.
        UnicodeEncodeError: for a text holding a lone surrogate, with the
            same note.
        TypeError: binding, e.g. ``Example.__new__() missing 1 required
            positional argument: 'value'``, ``Example.__new__() takes 1
            positional arguments but 2 were given``,
            ``Example.__new__() got an unexpected keyword argument 'x'``,
            ``Example.__new__() got multiple values for argument 'value'``.

    Example:
        >>> Example("abc")
        Example<abc>
        >>> str(Example(value="abc"))
        'abc'
    """

    def __new__(cls, value: str) -> Self: ...

def equal_weights(count: SupportsIndex) -> list[float]:
    """Equal weights: ``count`` copies of ``1 / count``.

    Args:
        count: the number of assets, an ``int`` >= 1 (or any object with
            ``__index__``; ``True`` counts as 1). A float is refused.

    Returns:
        A list of ``count`` floats, each ``1.0 / count``.

    Raises:
        ValueError: ``assets must not be empty`` when ``count`` is 0.
        MemoryError: when ``count`` is too large to allocate.
        TypeError: ``'float' object cannot be interpreted as an integer``,
            with the note ``while processing 'count'``.
        OverflowError: ``can't convert negative int to unsigned``,
            ``int too big to convert`` (beyond 2**64 - 1), with the same note.
        TypeError: binding: ``equal_weights() missing 1 required positional
            argument: 'count'``, ``equal_weights() takes 1 positional
            arguments but 2 were given``, ``equal_weights() got an
            unexpected keyword argument 'n'``, ``equal_weights() got
            multiple values for argument 'count'``.

    Example:
        >>> equal_weights(4)
        [0.25, 0.25, 0.25, 0.25]
    """

def rank_weights(values: _Vector, ascending: _Flag) -> list[float]:
    """Rank weights: ``w_i = r_i / sum(r)``, where ``r_i`` is the rank (1..n).

    Ranks come from a stable sort: ties get distinct ranks in input order
    (the earlier value ranks lower in both directions), so with ties the
    descending result is not the mirror image of the ascending one. NaN
    compares equal to everything.

    Args:
        values: vector of n scores (any units).
        ascending: ``True`` gives the largest value the largest weight;
            ``False`` gives the smallest value the largest weight. Only a
            ``bool`` or a numpy boolean is accepted.

    Returns:
        A list of n weights summing to one, ``rank / (n (n + 1) / 2)``.

    Raises:
        ValueError: ``signals must not be empty``.
        TypeError: ``'int' object is not an instance of 'bool'`` (with the
            type's name) for ``ascending``, with the note
            ``while processing 'ascending'``; vector conversion failures
            (see the module documentation) with the note
            ``while processing 'values'``.
        TypeError: binding: ``rank_weights() missing 2 required positional
            arguments: 'values' and 'ascending'``, ``rank_weights() takes 2
            positional arguments but 3 were given``, ``rank_weights() got an
            unexpected keyword argument 'x'``, ``rank_weights() got multiple
            values for argument 'values'``.

    Warns:
        RuntimeWarning: when a value is NaN, e.g. for ``[3.0, nan, 1.0]``
            (whose weights are ``[1/6, 1/3, 1/2]``: 3.0 ranks below 1.0)
            ``rank_weights: values[1] is NaN; NaN compares equal to every
            value, so it is given a rank of its own and the other values may
            not be ranked in their order; drop or fill NaN values first``.

    Example:
        >>> rank_weights([0.3, 0.1, 0.2], True)
        [0.5, 0.16666666666666666, 0.3333333333333333]
    """

def signal_proportional_weights(values: _Vector) -> list[float]:
    """Signal-proportional weights: ``w_i = s_i / sum(|s_j|)``.

    A long/short book with gross exposure one; signs are kept.

    Args:
        values: vector of n signals (any units).

    Returns:
        A list of n weights whose absolute values sum to one.

    Raises:
        ValueError: ``signals must not be empty``;
            ``weights cannot be normalized when the denominator is zero``
            when every signal is zero.
        TypeError: vector conversion failures with the note
            ``while processing 'values'``.
        TypeError: binding: ``signal_proportional_weights() missing 1
            required positional argument: 'values'``,
            ``signal_proportional_weights() takes 1 positional arguments but
            2 were given``, ``signal_proportional_weights() got an
            unexpected keyword argument 'x'``,
            ``signal_proportional_weights() got multiple values for argument
            'values'``.

    Example:
        >>> signal_proportional_weights([2.0, -1.0, 1.0])
        [0.5, -0.25, 0.25]
    """

def target_volatility_weights(volatility: _Vector) -> list[float]:
    """Inverse-volatility weights: ``w_i = (1 / sigma_i) / sum(1 / sigma_j)``.

    Takes no target level: it only apportions by 1/sigma (not 1/sigma**2).

    Args:
        volatility: vector of n volatilities, each > 0 (any one unit, e.g.
            annualised standard deviations).

    Returns:
        A list of n weights summing to one.

    Raises:
        ValueError: ``volatility must not be empty``;
            ``all volatility values must be positive`` when a value is zero,
            -0.0 or negative (NaN passes and gives NaN weights);
            ``weights cannot be normalized when the denominator is zero``
            (every volatility infinite).
        TypeError: vector conversion failures with the note
            ``while processing 'volatility'``.
        TypeError: binding: ``target_volatility_weights() missing 1
            required positional argument: 'volatility'``,
            ``target_volatility_weights() takes 1 positional arguments but 2
            were given``, ``target_volatility_weights() got an unexpected
            keyword argument 'x'``, ``target_volatility_weights() got
            multiple values for argument 'volatility'``.

    Example:
        >>> target_volatility_weights([0.1, 0.2, 0.4])
        [0.5714285714285714, 0.2857142857142857, 0.14285714285714285]
    """

def minimum_variance_weights(covariance: _Matrix) -> list[float]:
    """Minimum-variance weights: ``w = S^-1 1 / (1' S^-1 1)``.

    The row sums of the inverse covariance over their sum. Unconstrained:
    shorts and leverage come out as the arithmetic gives them.

    The inverse comes from Gauss-Jordan elimination with partial pivoting.
    When a pivot's magnitude falls below 1e-14 the inversion is retried
    once with 1e-12 added to the diagonal. That threshold is absolute: a
    covariance in tiny units (variances near 1e-15) gets the ridge and
    different weights than the same matrix scaled up, so express
    covariances in units where variances are well above 1e-14.

    Args:
        covariance: n x n matrix (any one unit).

    Returns:
        A list of n weights summing to one.

    Raises:
        ValueError: ``matrix must not be empty``; ``matrix rows must not be
            empty`` (the first row is empty); ``matrix rows must have equal
            length``; ``matrix must be square``; ``covariance matrix is
            singular`` (still singular after the ridge); ``weights cannot be
            normalized when the denominator is zero`` (``1' S^-1 1`` is zero).
        TypeError: matrix conversion failures with the note
            ``while processing 'covariance'``.
        TypeError: binding: ``minimum_variance_weights() missing 1 required
            positional argument: 'covariance'``,
            ``minimum_variance_weights() takes 1 positional arguments but 2
            were given``, ``minimum_variance_weights() got an unexpected
            keyword argument 'x'``, ``minimum_variance_weights() got multiple
            values for argument 'covariance'``.

    Warns:
        RuntimeWarning: when the ridge was needed, e.g. for
            ``[[1, 1], [1, 1]]`` (weights ``[0.5, 0.5]``):
            ``minimum_variance_weights: covariance is singular to working
            precision: inverting it found no pivot of magnitude 1e-14 or more
            at pivot step 2 of 2 (column 1), so it was inverted with 1e-12
            added to its diagonal, and the weights are those of that ridged
            matrix; use more observations than assets, a shrinkage
            covariance, or units in which the variances are well above
            1e-14``.
        RuntimeWarning: when the matrix inverted is numerically singular,
            e.g. for ``[[1e15, 1e15 + 0.125], [1e15 + 0.125, 1e15]]``:
            ``minimum_variance_weights: covariance is numerically singular: its
            reciprocal condition number 1/(norm1(S) * norm1(inverse(S))) is
            6.25e-17, below the unit roundoff 2**-53
            (1.1102230246251565e-16), so rounding decides the inverse and the
            weights built on it; use more observations than assets, or a
            shrinkage covariance``.
        RuntimeWarning: when the covariance is not exactly symmetric, e.g.
            ``minimum_variance_weights: covariance is not symmetric:
            covariance[0][1] is 5.0 but covariance[1][0] is -5.0; the weights
            are those of the matrix as given (average it with its transpose
            if a covariance was meant)``.

    Example:
        >>> minimum_variance_weights([[0.04, 0.01], [0.01, 0.09]])
        [0.7272727272727273, 0.2727272727272727]
    """

def mean_variance_weights(
    expected_returns: _Vector, covariance: _Matrix, risk_aversion: _Real
) -> list[float]:
    """Mean-variance weights: ``u = S^-1 mu / lambda``, ``w = u / sum(u)``.

    ``lambda`` is ``risk_aversion`` floored at 1e-12 (NaN counts as
    1e-12). Because the weights are normalised to sum to one,
    ``risk_aversion`` cancels: it changes only rounding and the range of
    doubles, never the allocation. When ``sum(u)`` is exactly zero the
    result is equal weights. The inversion is the one of
    ``minimum_variance_weights`` (absolute 1e-14 pivot threshold, one retry
    with 1e-12 on the diagonal).

    Args:
        expected_returns: vector of n expected returns (the covariance's
            period and unit).
        covariance: n x n matrix.
        risk_aversion: a real number (any object with ``__float__``).

    Returns:
        A list of n weights summing to one.

    Raises:
        ValueError: ``matrix must not be empty``, ``matrix rows must not be
            empty``, ``matrix rows must have equal length``, ``matrix must be
            square`` (the matrix is checked first);
            ``expected_returns length must match covariance dimensions``;
            ``covariance matrix is singular``.
        TypeError: conversion failures with the note ``while processing
            'expected_returns'``, ``... 'covariance'`` or ``...
            'risk_aversion'`` (``must be real number, not str``).
        OverflowError: ``int too large to convert to float`` for
            ``risk_aversion``, with its note.
        TypeError: binding: ``mean_variance_weights() missing 3 required
            positional arguments: 'expected_returns', 'covariance', and
            'risk_aversion'``, ``mean_variance_weights() takes 3 positional
            arguments but 4 were given``, ``mean_variance_weights() got an
            unexpected keyword argument 'x'``, ``mean_variance_weights() got
            multiple values for argument 'covariance'``.

    Warns:
        RuntimeWarning: when the ridge was needed, e.g. for
            ``[[1, 1], [1, 1]]`` (weights ``[0.5, 0.5]``):
            ``mean_variance_weights: covariance is singular to working
            precision: inverting it found no pivot of magnitude 1e-14 or more
            at pivot step 2 of 2 (column 1), so it was inverted with 1e-12
            added to its diagonal, and the weights are those of that ridged
            matrix; use more observations than assets, a shrinkage
            covariance, or units in which the variances are well above
            1e-14``.
        RuntimeWarning: when the matrix inverted is numerically singular,
            e.g. for ``[[1e15, 1e15 + 0.125], [1e15 + 0.125, 1e15]]``:
            ``mean_variance_weights: covariance is numerically singular: its
            reciprocal condition number 1/(norm1(S) * norm1(inverse(S))) is
            6.25e-17, below the unit roundoff 2**-53
            (1.1102230246251565e-16), so rounding decides the inverse and the
            weights built on it; use more observations than assets, or a
            shrinkage covariance``.
        RuntimeWarning: when the covariance is not exactly symmetric, e.g.
            ``mean_variance_weights: covariance is not symmetric:
            covariance[0][1] is 5.0 but covariance[1][0] is -5.0; the weights
            are those of the matrix as given (average it with its transpose
            if a covariance was meant)``.

    Example:
        >>> mean_variance_weights([0.05, 0.08], [[0.04, 0.01], [0.01, 0.09]], 3.0)
        [0.578125, 0.421875]
    """

def risk_parity_weights(
    covariance: _Matrix, max_iter: SupportsIndex, tolerance: _Real
) -> list[float]:
    """Risk-parity weights by a simultaneous multiplicative fixed point.

    Starts from ``w_i = 1 / sqrt(max(S_ii, 1e-18))`` normalised to sum one
    (a NaN, zero or negative variance counts as 1e-18, so such an asset
    starts with nearly the whole portfolio). Each of at most ``max_iter``
    passes computes ``m = S w``, ``v = w' m`` and returns ``w`` at once if
    ``v`` is not positive; otherwise for every asset
    ``share_i = m_i w_i / v``, multiplies ``w_i`` by
    ``sqrt((1/n) / share_i)`` when ``share_i > 0``, floors ``w_i`` at 1e-12
    and renormalises; it stops when ``max |share_i - 1/n| < tolerance``
    (measured before that pass's update).

    It converges on ordinary covariances; with negative risk contributions
    (hedges) it can oscillate and stop at ``max_iter`` short of equal
    shares. When ``max_iter >= 1`` and ``tolerance > 0`` and it returns
    without converging (the passes ran out, or the portfolio variance was
    not positive) it issues a ``RuntimeWarning``; the weights returned are
    the same either way, and it says whether the variance was NaN, zero or
    negative. No such warning for ``tolerance <= 0`` or NaN (which simply
    run ``max_iter`` passes) or ``max_iter == 0`` (the starting weights).
    Check shares with ``risk_contribution``.

    Args:
        covariance: n x n matrix.
        max_iter: the most passes to run, an ``int`` >= 0.
        tolerance: the largest accepted deviation of a share from 1/n.

    Returns:
        A list of n weights summing to one.

    Raises:
        ValueError: ``matrix must not be empty``, ``matrix rows must not be
            empty``, ``matrix rows must have equal length``, ``matrix must be
            square``; ``weights cannot be normalized when the denominator is
            zero`` (e.g. every variance infinite).
        TypeError: conversion failures with the note ``while processing
            'covariance'``, ``... 'max_iter'`` (``'float' object cannot be
            interpreted as an integer``) or ``... 'tolerance'`` (``must be
            real number, not str``).
        OverflowError: ``can't convert negative int to unsigned``, ``int too
            big to convert`` for ``max_iter``; ``int too large to convert to
            float`` for ``tolerance``; each with its note.
        TypeError: binding: ``risk_parity_weights() missing 2 required
            positional arguments: 'max_iter' and 'tolerance'``,
            ``risk_parity_weights() takes 3 positional arguments but 4 were
            given``, ``risk_parity_weights() got an unexpected keyword
            argument 'x'``, ``risk_parity_weights() got multiple values for
            argument 'covariance'``.

    Warns:
        RuntimeWarning: when it stops without converging (see above), e.g.
            ``risk_parity_weights did not converge: after 0 passes the
            portfolio variance is NaN; check the shares with
            risk_contribution()``.
        RuntimeWarning: when a diagonal variance is NaN or negative, e.g.
            ``risk_parity_weights: the variance of asset 0 (covariance[0][0])
            is -1.0; it is counted as 1e-18, so that asset starts with nearly
            all the weight``.
        RuntimeWarning: when the covariance is not exactly symmetric, as
            for ``minimum_variance_weights``.

    Example:
        >>> risk_parity_weights([[0.04, 0.01], [0.01, 0.09]], 100, 1e-12)
        [0.6, 0.4000000000000001]
    """

def hierarchical_risk_parity_weights(covariance: _Matrix) -> list[float]:
    """Inverse-variance weights: ``w_i = (1 / max(S_ii, 1e-18)) / sum_j(...)``.

    Plain inverse-variance weighting from the diagonal: no clustering, no
    reordering, no recursive bisection; off-diagonal entries (which must
    still be numbers) do not affect the result.
    A NaN, zero or negative variance counts as 1e-18, so such an asset takes
    nearly the whole portfolio; a NaN or negative one also warns.

    Args:
        covariance: n x n matrix.

    Returns:
        A list of n weights summing to one.

    Raises:
        ValueError: ``matrix must not be empty``, ``matrix rows must not be
            empty``, ``matrix rows must have equal length``, ``matrix must be
            square``; ``weights cannot be normalized when the denominator is
            zero`` (every variance infinite).
        TypeError: matrix conversion failures with the note
            ``while processing 'covariance'``.
        TypeError: binding: ``hierarchical_risk_parity_weights() missing 1
            required positional argument: 'covariance'``,
            ``hierarchical_risk_parity_weights() takes 1 positional arguments
            but 2 were given``, ``hierarchical_risk_parity_weights() got an
            unexpected keyword argument 'x'``,
            ``hierarchical_risk_parity_weights() got multiple values for
            argument 'covariance'``.

    Warns:
        RuntimeWarning: when a diagonal variance is NaN or negative, e.g.
            ``hierarchical_risk_parity_weights: the variance of asset 1
            (covariance[1][1]) is NaN; it is counted as 1e-18, so that asset
            takes nearly all the weight``.

    Example:
        >>> hierarchical_risk_parity_weights([[0.04, 0.01], [0.01, 0.09]])
        [0.6923076923076923, 0.30769230769230765]
        >>> hierarchical_risk_parity_weights([[0.0, 0.0], [0.0, 0.04]])
        [1.0, 2.5000000000000003e-17]
    """

def portfolio_variance(weights: _Vector, covariance: _Matrix) -> float:
    """Portfolio variance ``w' S w``, unclamped (can be negative or NaN).

    Computed as ``sum_i w_i (sum_j S_ij w_j)``.

    Args:
        weights: vector of n weights.
        covariance: n x n matrix.

    Returns:
        The variance, in the covariance's unit.

    Raises:
        ValueError: ``matrix must not be empty``, ``matrix rows must not be
            empty``, ``matrix rows must have equal length``, ``matrix must be
            square`` (the matrix is checked first);
            ``covariance dimensions must match weights``.
        TypeError: conversion failures with the note ``while processing
            'weights'`` or ``... 'covariance'``.
        TypeError: binding: ``portfolio_variance() missing 2 required
            positional arguments: 'weights' and 'covariance'``,
            ``portfolio_variance() takes 2 positional arguments but 3 were
            given``, ``portfolio_variance() got an unexpected keyword
            argument 'x'``, ``portfolio_variance() got multiple values for
            argument 'weights'``.

    Example:
        >>> portfolio_variance([0.5, 0.5], [[0.04, 0.01], [0.01, 0.09]])
        0.0375
    """

def portfolio_volatility(weights: _Vector, covariance: _Matrix) -> float:
    """Portfolio volatility ``sqrt(max(w' S w, 0))``.

    Never negative and never NaN: a negative or NaN variance gives 0.0, so
    a NaN anywhere in the inputs can come out as a plain 0.0 here, with a
    ``RuntimeWarning``; ``portfolio_variance`` shows the variance itself. A
    negative variance within the rounding error bound of its computation
    (``4 n u |w|'|S||w|``, ``u = 2**-53``) is zero as far as the arithmetic
    can tell, and gives 0.0 without a warning: the minimum-variance weights
    of a singular covariance come out so.

    Args:
        weights: vector of n weights.
        covariance: n x n matrix.

    Returns:
        The volatility, in the square root of the covariance's unit.

    Raises:
        ValueError: ``matrix must not be empty``, ``matrix rows must not be
            empty``, ``matrix rows must have equal length``, ``matrix must be
            square``; ``covariance dimensions must match weights``.
        TypeError: conversion failures with the note ``while processing
            'weights'`` or ``... 'covariance'``.
        TypeError: binding: ``portfolio_volatility() missing 2 required
            positional arguments: 'weights' and 'covariance'``,
            ``portfolio_volatility() takes 2 positional arguments but 3 were
            given``, ``portfolio_volatility() got an unexpected keyword
            argument 'x'``, ``portfolio_volatility() got multiple values for
            argument 'weights'``.

    Warns:
        RuntimeWarning: when the variance is NaN, naming the first NaN
            input: ``portfolio_volatility: portfolio variance is NaN
            (weights[0] is NaN); volatility reported as 0.0``; or negative
            beyond rounding: ``portfolio_volatility: portfolio variance is
            negative (-1.0), more than the rounding error bound of its
            computation (4.440892098500626e-16), so the covariance matrix is
            not positive semi-definite; volatility reported as 0.0``.

    Example:
        >>> portfolio_volatility([0.5, 0.5], [[0.04, 0.01], [0.01, 0.09]])
        0.19364916731037085
    """

def risk_contribution(
    weights: _Vector, covariance: _Matrix
) -> tuple[list[float], list[float], list[float]]:
    """Marginal contributions, contributions and shares of risk.

    With ``sigma = portfolio_volatility(w, S)``: marginal
    ``m_i = (S w)_i / sigma``, contribution ``c_i = w_i m_i`` (summing to
    sigma, up to rounding), share ``c_i / sigma`` (summing to one). When sigma is 0
    (including a negative or NaN variance) marginals and shares are all 0.0
    and contributions are ``w_i * 0.0``; a NaN variance, or a negative one
    beyond rounding (as for ``portfolio_volatility``), also warns.

    Args:
        weights: vector of n weights.
        covariance: n x n matrix.

    Returns:
        ``(marginal, contribution, share)``, three lists of n floats.

    Raises:
        ValueError: ``matrix must not be empty``, ``matrix rows must not be
            empty``, ``matrix rows must have equal length``, ``matrix must be
            square``; ``covariance dimensions must match weights``.
        TypeError: conversion failures with the note ``while processing
            'weights'`` or ``... 'covariance'``.
        TypeError: binding: ``risk_contribution() missing 2 required
            positional arguments: 'weights' and 'covariance'``,
            ``risk_contribution() takes 2 positional arguments but 3 were
            given``, ``risk_contribution() got an unexpected keyword argument
            'x'``, ``risk_contribution() got multiple values for argument
            'weights'``.

    Warns:
        RuntimeWarning: when the variance is NaN or negative beyond
            rounding, as for ``portfolio_volatility``, ending ``marginal
            contributions and shares reported as 0.0``.

    Example:
        >>> marginal, contribution, share = risk_contribution(
        ...     [0.6, 0.4], [[0.04, 0.01], [0.01, 0.09]])
        >>> contribution, share
        ([0.0916515138991168, 0.0916515138991168], [0.5, 0.5])
    """

def tracking_error(active_weights: _Vector, covariance: _Matrix) -> float:
    """Tracking error: the volatility of the active weights, ``sqrt(max(a' S a, 0))``.

    The same computation as ``portfolio_volatility`` (a NaN or negative
    variance gives 0.0, with a ``RuntimeWarning`` unless the negative one
    is within rounding), applied to active
    weights ``a = portfolio - benchmark``.

    Args:
        active_weights: vector of n active weights.
        covariance: n x n matrix.

    Returns:
        The tracking error, in the square root of the covariance's unit.

    Raises:
        ValueError: ``matrix must not be empty``, ``matrix rows must not be
            empty``, ``matrix rows must have equal length``, ``matrix must be
            square``; ``covariance dimensions must match weights``.
        TypeError: conversion failures with the note ``while processing
            'active_weights'`` or ``... 'covariance'``.
        TypeError: binding: ``tracking_error() missing 2 required positional
            arguments: 'active_weights' and 'covariance'``,
            ``tracking_error() takes 2 positional arguments but 3 were
            given``, ``tracking_error() got an unexpected keyword argument
            'x'``, ``tracking_error() got multiple values for argument
            'active_weights'``.

    Warns:
        RuntimeWarning: when the variance is NaN or negative beyond
            rounding, as for ``portfolio_volatility``, ending ``tracking
            error reported as 0.0``; the first NaN input is named as
            ``active_weights[i]``.

    Example:
        >>> tracking_error([0.1, -0.1], [[0.04, 0.01], [0.01, 0.09]])
        0.033166247903554
    """

def active_share(active_weights: _Vector) -> float:
    """Active share: ``0.5 * sum(|a_i|)``.

    Args:
        active_weights: vector of active weights (portfolio minus
            benchmark); may be empty (the result is then -0.0).

    Returns:
        Half the sum of the absolute active weights.

    Raises:
        TypeError: vector conversion failures with the note
            ``while processing 'active_weights'``.
        TypeError: binding: ``active_share() missing 1 required positional
            argument: 'active_weights'``, ``active_share() takes 1
            positional arguments but 2 were given``, ``active_share() got an
            unexpected keyword argument 'x'``, ``active_share() got multiple
            values for argument 'active_weights'``.

    Example:
        >>> active_share([0.1, -0.05, -0.05])
        0.1
    """

def brinson_attribution(
    portfolio_weights: _Vector,
    benchmark_weights: _Vector,
    portfolio_returns: _Vector,
    benchmark_returns: _Vector,
) -> tuple[float, float, float, float]:
    """Brinson-Fachler attribution over n segments.

    With ``R_b = sum(wb_i rb_i)``:
    allocation ``sum((wp_i - wb_i)(rb_i - R_b))``,
    selection ``sum(wb_i (rp_i - rb_i))``,
    interaction ``sum((rp_i - rb_i)(wp_i - wb_i))``,
    total ``(selection + allocation) + interaction``.

    Args:
        portfolio_weights: vector of n portfolio segment weights.
        benchmark_weights: vector of n benchmark segment weights.
        portfolio_returns: vector of n portfolio segment returns.
        benchmark_returns: vector of n benchmark segment returns.

    Returns:
        ``(allocation, selection, interaction, total)``; all 0.0 when the
        vectors are empty.

    Raises:
        ValueError: ``all input vectors must have the same length``.
        TypeError: vector conversion failures with the note
            ``while processing '<parameter>'`` for the first failing one.
        TypeError: binding: ``brinson_attribution() missing 4 required
            positional arguments: 'portfolio_weights', 'benchmark_weights',
            'portfolio_returns', and 'benchmark_returns'``,
            ``brinson_attribution() takes 4 positional arguments but 5 were
            given``, ``brinson_attribution() got an unexpected keyword
            argument 'x'``, ``brinson_attribution() got multiple values for
            argument 'portfolio_weights'``.

    Example:
        >>> brinson_attribution([0.6, 0.4], [0.5, 0.5], [0.10, 0.02], [0.08, 0.03])
        (0.004999999999999999, 0.005000000000000003, 0.0029999999999999996, 0.013000000000000001)
    """

def factor_return_decomposition(
    exposures: _Vector, factor_returns: _Vector
) -> tuple[list[float], float]:
    """Per-factor return contributions ``c_i = e_i f_i`` and their total.

    Args:
        exposures: vector of n factor exposures.
        factor_returns: vector of n factor returns.

    Returns:
        ``(contributions, total)``; for empty vectors ``([], -0.0)``.

    Raises:
        ValueError: ``exposures and factor_returns must have the same
            length``.
        TypeError: vector conversion failures with the note
            ``while processing 'exposures'`` or ``... 'factor_returns'``.
        TypeError: binding: ``factor_return_decomposition() missing 2
            required positional arguments: 'exposures' and
            'factor_returns'``, ``factor_return_decomposition() takes 2
            positional arguments but 3 were given``,
            ``factor_return_decomposition() got an unexpected keyword
            argument 'x'``, ``factor_return_decomposition() got multiple
            values for argument 'exposures'``.

    Example:
        >>> factor_return_decomposition([1.2, 0.5], [0.02, -0.01])
        ([0.024, -0.005], 0.019)
    """
