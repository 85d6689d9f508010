"""The type stub: checked against the built module, against typed caller code
by mypy and pyright, and its documented examples run against the module.

The checkers read the stub of this checkout (copied as `quorvel.pyi` into a
folder put first on their search path), so an edited stub is tested without
reinstalling; one test checks that the installed distribution ships the
same stub where both checkers look for it.
"""

import ast
import doctest
import importlib.metadata
import importlib.util
import json
import os
import re
import runpy
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

import quorvel

HERE = Path(__file__).parent
STUB = HERE.parent / "quorvel-stubs" / "__init__.pyi"
CASES = HERE / "typing"
# Each file of typed caller code, with the modules it needs to run, and
# those it needs besides to be type-checked.
FILES = {
    "accepted_plain.py": ((), ()),
    "accepted_numpy.py": (("numpy",), ()),
    "accepted_frames.py": (("pandas",), ("pandas-stubs",)),
    "refused.py": (("numpy",), ()),
}
# The extra that brings in each module the tests may need.
EXTRAS = {"numpy": "test", "pandas": "test", "mypy": "typing", "basedpyright": "typing",
          "pandas-stubs": "typing", "arch": "examples", "matplotlib": "examples", "distributed": "examples"}
REFUSED = re.compile(r"#\s*refused$")


def installed(name):
    if name.endswith("-stubs"):
        try:
            importlib.metadata.distribution(name)
        except importlib.metadata.PackageNotFoundError:
            return False
        return True
    return importlib.util.find_spec(name) is not None


def require(*modules):
    """Skips the test, naming the extras to install, unless every module is installed."""
    missing = [m for m in modules if not installed(m)]
    if missing:
        extras = sorted({EXTRAS[m] for m in missing})
        pytest.skip(f"needs the {' and '.join(extras)} extra{'s' if len(extras) > 1 else ''}: "
                    f"pip install '.[{','.join(extras)}]' ({', '.join(missing)} not installed)")


def checked(name):
    """Whether the checkers can read this file: everything it imports, typed."""
    return all(installed(m) for m in FILES[name][0] + FILES[name][1])


def checkable(name):
    require(*FILES[name][0], *FILES[name][1])
    return CASES / name


def refused_lines(path):
    return {n for n, line in enumerate(path.read_text().splitlines(), 1) if REFUSED.search(line.rstrip())}


@pytest.fixture(scope="session")
def stub_path(tmp_path_factory):
    folder = tmp_path_factory.mktemp("stub")
    shutil.copyfile(STUB, folder / "quorvel.pyi")
    return folder


def run(args, cwd, env=None):
    done = subprocess.run(args, cwd=cwd, env={**os.environ, **(env or {})}, capture_output=True, text=True,
                          timeout=600)
    return done.returncode, done.stdout + done.stderr


@pytest.fixture(scope="session")
def mypy_errors(stub_path, tmp_path_factory):
    """{file name: {line: [messages]}} of one `mypy --strict` run over every checkable file."""
    require("mypy")
    names = [n for n in FILES if checked(n)]
    cache = tmp_path_factory.mktemp("mypy-cache")
    code, out = run([sys.executable, "-m", "mypy", "--strict", "--no-error-summary", "--show-absolute-path",
                     "--cache-dir", str(cache), *[str(CASES / n) for n in names]],
                    cwd=stub_path, env={"MYPYPATH": str(stub_path)})
    assert code in (0, 1), out
    errors = {n: {} for n in names}
    for line in out.splitlines():
        found = re.match(r"(.+?):(\d+): error: (.*)", line)
        if found:
            errors[Path(found[1]).name].setdefault(int(found[2]), []).append(found[3])
    return errors


@pytest.fixture(scope="session")
def pyright_errors(stub_path):
    """{file name: {line: [messages]}} of one pyright run (strict mode) over every checkable file."""
    require("basedpyright")
    names = [n for n in FILES if checked(n)]
    config = stub_path / "pyrightconfig.json"
    config.write_text(json.dumps({"stubPath": str(stub_path), "typeCheckingMode": "strict",
                                  "pythonVersion": "3.11"}))
    code, out = run([sys.executable, "-m", "basedpyright", "-p", str(config), "--pythonpath", sys.executable,
                     "--outputjson", *[str(CASES / n) for n in names]], cwd=stub_path)
    assert code in (0, 1), out
    errors = {n: {} for n in names}
    for diagnostic in json.loads(out)["generalDiagnostics"]:
        if diagnostic["severity"] == "error":
            line = diagnostic["range"]["start"]["line"] + 1
            errors[Path(diagnostic["file"]).name].setdefault(line, []).append(diagnostic["message"])
    return errors


CHECKERS = ["mypy_errors", "pyright_errors"]


@pytest.mark.parametrize("checker", CHECKERS)
@pytest.mark.parametrize("name", [n for n in FILES if n.startswith("accepted")])
def test_typed_callers_are_accepted(checker, name, request):
    checkable(name)
    assert request.getfixturevalue(checker)[name] == {}


@pytest.mark.parametrize("checker", CHECKERS)
def test_wrong_arguments_are_refused(checker, request):
    path = checkable("refused.py")
    expected = refused_lines(path)
    assert len(expected) > 20
    got = request.getfixturevalue(checker)["refused.py"]
    assert sorted(expected - got.keys()) == [], "calls the checker let through"
    assert {n: got[n] for n in got.keys() - expected} == {}, "errors on lines not marked as refused"


@pytest.mark.parametrize("name", ["accepted_plain.py", "accepted_numpy.py", "accepted_frames.py"])
def test_typed_callers_run(name):
    # What the stub accepts, the module accepts too.
    require(*FILES[name][0])
    runpy.run_path(str(CASES / name), run_name="__main__")


def test_stub_matches_the_module(stub_path):
    require("mypy")
    code, out = run([sys.executable, "-m", "mypy.stubtest", "quorvel"], cwd=stub_path,
                    env={"MYPYPATH": str(stub_path)})
    assert code == 0, out


def test_installed_distribution_ships_the_stub(tmp_path):
    files = importlib.metadata.files("quorvel") or []
    shipped = [f for f in files if f.as_posix() == "quorvel-stubs/__init__.pyi"]
    assert shipped, "the installed quorvel distribution has no quorvel-stubs/__init__.pyi"
    same = Path(shipped[0].locate()).read_bytes() == STUB.read_bytes()
    assert same, "the installed stub differs from this checkout's: reinstall"

    require("mypy")
    (tmp_path / "use.py").write_text("import quorvel\nreveal_type(quorvel.equal_weights(2))\n")
    code, out = run([sys.executable, "-m", "mypy", "--strict", "--no-incremental", "use.py"], cwd=tmp_path,
                    env={"MYPYPATH": ""})
    assert code == 0 and re.search(r'Revealed type is "(builtins\.)?list\[(builtins\.)?float\]"', out), out


def docstrings():
    tree = ast.parse(STUB.read_text())
    yield "quorvel", ast.get_docstring(tree, clean=False)
    for node in tree.body:
        if isinstance(node, (ast.FunctionDef, ast.ClassDef)) and not node.name.startswith("_"):
            yield node.name, ast.get_docstring(node, clean=True)


DOCSTRINGS = dict(docstrings())


def test_every_public_name_is_documented():
    assert sorted(n for n in DOCSTRINGS if n != "quorvel") == sorted(quorvel.__all__)
    for name in quorvel.__all__:
        text = DOCSTRINGS[name]
        assert ">>> " in text and "Raises:" in text, name
        if name != "Example":
            assert "Returns:" in text and f"{name}() missing" in text, name


@pytest.mark.parametrize("name", sorted(DOCSTRINGS))
def test_docstring_examples(name):
    test = doctest.DocTestParser().get_doctest(DOCSTRINGS[name], dict(vars(quorvel)), name, str(STUB), 0)
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    runner.run(test, out=lambda text: pytest.fail(text, pytrace=False))
    assert runner.failures == 0


EXAMPLES = HERE.parent / "examples"


@pytest.mark.parametrize("name, needs", [
    ("backtest.py", ("numpy", "pandas-stubs", "arch", "matplotlib")),
    ("scale_out.py", ("numpy", "distributed")),
])
def test_examples_pass_mypy_strict(name, needs, stub_path, tmp_path):
    require("mypy", *needs)
    code, out = run([sys.executable, "-m", "mypy", "--strict", "--cache-dir", str(tmp_path), str(EXAMPLES / name)],
                    cwd=stub_path, env={"MYPYPATH": str(stub_path)})
    assert code == 0, out
