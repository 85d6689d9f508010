import importlib.util
import inspect
import pathlib
import tomllib

import pytest

import quorvel

SIGNATURES = [
    "equal_weights(count)",
    "rank_weights(values, ascending)",
    "signal_proportional_weights(values)",
    "target_volatility_weights(volatility)",
    "minimum_variance_weights(covariance)",
    "mean_variance_weights(expected_returns, covariance, risk_aversion)",
    "risk_parity_weights(covariance, max_iter, tolerance)",
    "hierarchical_risk_parity_weights(covariance)",
    "portfolio_variance(weights, covariance)",
    "portfolio_volatility(weights, covariance)",
    "risk_contribution(weights, covariance)",
    "tracking_error(active_weights, covariance)",
    "active_share(active_weights)",
    "brinson_attribution(portfolio_weights, benchmark_weights, portfolio_returns, benchmark_returns)",
    "factor_return_decomposition(exposures, factor_returns)",
]
NAMES = [signature.partition("(")[0] for signature in SIGNATURES]


def load(name="quorvel", preset_all=None, execute=True):
    located = importlib.util.spec_from_file_location(name, quorvel.__file__)
    module = importlib.util.module_from_spec(located)
    if preset_all is not None:
        module.__all__ = preset_all
    if execute:
        located.loader.exec_module(module)
    return module


def shape(value):
    if type(value) in (list, tuple):
        return type(value)(shape(item) for item in value)
    return type(value)


def test_module_attributes():
    assert (type(quorvel.__all__), quorvel.__all__, quorvel.__doc__) == (list, ["Example", *NAMES], "")


def test_version_is_the_package_version():
    with open(pathlib.Path(__file__).parents[1] / "pyproject.toml", "rb") as project:
        assert quorvel.__version__ == tomllib.load(project)["project"]["version"]
    assert "__version__" not in quorvel.__all__


@pytest.mark.parametrize("signature", SIGNATURES)
def test_function_objects(signature):
    name, _, parameters = signature.partition("(")
    func = getattr(quorvel, name)
    assert (func.__name__, func.__module__, func.__doc__) == (name, "quorvel", None)
    assert func.__self__ is quorvel
    assert func.__text_signature__ == str(inspect.signature(func)) == "(" + parameters


@pytest.mark.parametrize("call, expected", [
    (lambda: quorvel.equal_weights(2), [float] * 2),
    (lambda: quorvel.portfolio_variance([1.0], [[2.0]]), float),
    (lambda: quorvel.risk_contribution([0.5, 0.5], [[1.0, 0.0], [0.0, 1.0]]), ([float] * 2,) * 3),
    (lambda: quorvel.brinson_attribution([1.0], [1.0], [0.05], [0.03]), (float,) * 4),
    (lambda: quorvel.factor_return_decomposition([1.0, 2.0], [1.0, 1.0]), ([float] * 2, float)),
    (lambda: quorvel.factor_return_decomposition([], []), ([], float)),
])
def test_result_types(call, expected):
    assert shape(call()) == expected


@pytest.mark.parametrize("count, weight", [(1, 1.0), (3, 0.3333333333333333), (4, 0.25), (7, 0.14285714285714285)])
def test_equal_weights(count, weight):
    assert quorvel.equal_weights(count) == [weight] * count
    assert quorvel.equal_weights(count=count) == [weight] * count


def test_equal_weights_of_nothing():
    with pytest.raises(ValueError) as info:
        quorvel.equal_weights(0)
    assert (type(info.value), info.value.args) == (ValueError, ("assets must not be empty",))
    assert not hasattr(info.value, "__notes__")


@pytest.mark.parametrize("count", [2**60, 2**64 - 1])
def test_equal_weights_beyond_capacity(count):
    with pytest.raises(MemoryError):
        quorvel.equal_weights(count)


def test_every_execution_fills_its_own_module():
    first, second = load(), load("elsewhere.quorvel")
    assert first is not quorvel and second is not first and first.__all__ is not quorvel.__all__
    assert first.Example is second.Example is quorvel.Example
    assert first.__all__ == second.__all__ == quorvel.__all__
    assert second.equal_weights is not quorvel.equal_weights and second.equal_weights.__self__ is second
    assert second.equal_weights.__module__ == "elsewhere.quorvel"
    assert second.equal_weights(2) == [0.5, 0.5]


@pytest.mark.parametrize("preset", [["before"], type("Names", (list,), {})(["before"])])
def test_existing_all_is_extended(preset):
    module = load(preset_all=preset)
    assert module.__all__ is preset
    assert preset == ["before", *quorvel.__all__]


def test_all_of_the_wrong_type_stops_execution():
    module = load(preset_all=("before",), execute=False)
    with pytest.raises(TypeError) as info:
        module.__loader__.exec_module(module)
    assert str(info.value) == "'tuple' object is not an instance of 'list'"
    assert not hasattr(module, "Example") and not hasattr(module, "equal_weights")
