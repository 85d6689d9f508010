"""Threads without the interpreter lock: on a free-threaded interpreter the
module keeps the lock off, and threads converting shared containers that
other threads change see old or new values, never freed ones (the stress
run of threads_stress.py, here briefly; CI runs it longer)."""

import os
import subprocess
import sys
import sysconfig

import pytest

import quorvel as q

STRESS = os.path.join(os.path.dirname(__file__), "threads_stress.py")
FREE_THREADED = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))


def stress(*args):
    return subprocess.run([sys.executable, STRESS, "--module-path", q.__file__, *args],
                          capture_output=True, text=True, timeout=600)


def test_threads_converting_changing_containers_see_only_stored_values():
    done = stress("--seconds", "2")
    assert (done.returncode, done.stderr) == (0, ""), done.stdout + done.stderr
    assert f"GIL {'off' if FREE_THREADED else 'on'};" in done.stdout


def test_stress_checks_see_a_value_that_no_writer_stores():
    done = stress("--seconds", "1", "--plant")
    assert done.returncode == 1, done.stdout + done.stderr
    assert "vector list: read " in done.stdout and "e+300" in done.stdout


@pytest.mark.skipif(not FREE_THREADED, reason="a GIL build always runs with the lock")
def test_import_leaves_the_lock_off():
    # A module that does not declare it needs no lock turns the lock on for
    # the whole process when imported, with a RuntimeWarning.
    code = ("import importlib.util, sys\n"
            "located = importlib.util.spec_from_file_location('quorvel', sys.argv[1])\n"
            "module = importlib.util.module_from_spec(located)\n"
            "located.loader.exec_module(module)\n"
            "print(sys._is_gil_enabled(), module.equal_weights(2))\n")
    env = {name: value for name, value in os.environ.items() if name != "PYTHON_GIL"}
    done = subprocess.run([sys.executable, "-W", "error", "-c", code, q.__file__],
                          capture_output=True, text=True, timeout=60, env=env)
    assert (done.returncode, done.stdout, done.stderr) == (0, "False [0.5, 0.5]\n", "")
