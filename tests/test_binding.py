import pytest

import quorvel as q

RW, MV, BA = "rank_weights()", "mean_variance_weights()", "brinson_attribution()"
MISSING = "missing {} required positional argument{}: "


@pytest.mark.parametrize("func, args, kwargs, message", [
    (q.equal_weights, (), {}, "equal_weights() " + MISSING.format(1, "") + "'count'"),
    (q.equal_weights, ("x", "y"), {}, "equal_weights() takes 1 positional arguments but 2 were given"),
    (q.equal_weights, (1, 2, 3), {"n": 1}, "equal_weights() takes 1 positional arguments but 3 were given"),
    (q.rank_weights, ("x", "y", "z"), {}, f"{RW} takes 2 positional arguments but 3 were given"),
    (q.brinson_attribution, tuple("abcde"), {}, f"{BA} takes 4 positional arguments but 5 were given"),
    (q.equal_weights, ("x",), {"count": "y"}, "equal_weights() got multiple values for argument 'count'"),
    (q.equal_weights, (), {"n": "x"}, "equal_weights() got an unexpected keyword argument 'n'"),
    (q.equal_weights, (), {"coun": 1}, "equal_weights() got an unexpected keyword argument 'coun'"),
    (q.equal_weights, (), {"counts": 1}, "equal_weights() got an unexpected keyword argument 'counts'"),
    (q.equal_weights, (), {"count\0": 1}, "equal_weights() got an unexpected keyword argument 'count\0'"),
    (q.equal_weights, (), {"\udc80": 1}, "equal_weights() got an unexpected keyword argument '\udc80'"),
    (q.rank_weights, ("x",), {"zz": 1, "values": "y"}, f"{RW} got an unexpected keyword argument 'zz'"),
    (q.rank_weights, ("x",), {"values": "y", "zz": 1}, f"{RW} got multiple values for argument 'values'"),
    (q.rank_weights, (), {"zz": 1}, f"{RW} got an unexpected keyword argument 'zz'"),
    (q.rank_weights, (), {}, f"{RW} " + MISSING.format(2, "s") + "'values' and 'ascending'"),
    (q.rank_weights, ("x",), {}, f"{RW} " + MISSING.format(1, "") + "'ascending'"),
    (q.rank_weights, (), {"ascending": "x"}, f"{RW} " + MISSING.format(1, "") + "'values'"),
    (q.mean_variance_weights, (), {},
     f"{MV} " + MISSING.format(3, "s") + "'expected_returns', 'covariance', and 'risk_aversion'"),
    (q.mean_variance_weights, ("x",), {}, f"{MV} " + MISSING.format(2, "s") + "'covariance' and 'risk_aversion'"),
    (q.mean_variance_weights, (), {"covariance": "x"},
     f"{MV} " + MISSING.format(2, "s") + "'expected_returns' and 'risk_aversion'"),
    (q.brinson_attribution, (), {}, f"{BA} " + MISSING.format(4, "s")
     + "'portfolio_weights', 'benchmark_weights', 'portfolio_returns', and 'benchmark_returns'"),
    (q.brinson_attribution, ("x",), {"benchmark_returns": "y"},
     f"{BA} " + MISSING.format(2, "s") + "'benchmark_weights' and 'portfolio_returns'"),
    (q.risk_parity_weights, (), {"covariance": "x", "max_iter": "y", "tolerance": "z", "extra": 1},
     "risk_parity_weights() got an unexpected keyword argument 'extra'"),
    (q.Example, ("a", "b"), {}, "Example.__new__() takes 1 positional arguments but 2 were given"),
    (q.Example, (1, 2), {}, "Example.__new__() takes 1 positional arguments but 2 were given"),
    (q.Example, (), {"x": "a"}, "Example.__new__() got an unexpected keyword argument 'x'"),
    (q.Example, (), {"value": "a", "x": 1}, "Example.__new__() got an unexpected keyword argument 'x'"),
    (q.Example, (), {"\udc80": "a"}, "Example.__new__() got an unexpected keyword argument '\udc80'"),
    (q.Example, ("a",), {"value": "b"}, "Example.__new__() got multiple values for argument 'value'"),
    (q.Example, (), {}, "Example.__new__() " + MISSING.format(1, "") + "'value'"),
])
def test_binding_failures(func, args, kwargs, message):
    with pytest.raises(TypeError) as info:
        func(*args, **kwargs)
    assert (type(info.value), info.value.args) == (TypeError, (message,))
    assert not hasattr(info.value, "__notes__")


def test_keywords_bind_by_name_in_any_order():
    cov = [[0.04, 0.01], [0.01, 0.09]]
    assert q.risk_parity_weights(tolerance=1e-8, max_iter=100, covariance=[[1.0]]) == [1.0]
    assert q.risk_parity_weights(tolerance=1e-10, max_iter=100, covariance=cov) == q.risk_parity_weights(cov, 100, 1e-10)
    assert q.mean_variance_weights([0.1, 0.2], risk_aversion=3.0, covariance=cov) == q.mean_variance_weights(
        [0.1, 0.2], cov, 3.0)
    assert q.rank_weights(ascending=False, values=[1.0, 2.0]) == [0.6666666666666666, 0.3333333333333333]
    assert q.brinson_attribution(benchmark_returns=[0.08, 0.03], portfolio_returns=[0.10, 0.02],
                                 benchmark_weights=[0.5, 0.5], portfolio_weights=[0.6, 0.4]) == (
        0.004999999999999999, 0.005000000000000003, 0.0029999999999999996, 0.013000000000000001)
    assert q.factor_return_decomposition(factor_returns=[0.02, -0.01], exposures=[1.2, 0.5]) == ([0.024, -0.005], 0.019)
    assert str(q.Example(value="abc")) == "abc"
