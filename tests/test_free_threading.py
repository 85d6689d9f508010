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


SHARED_LABELS = """
import sys, threading, time, warnings
import importlib.util
located = importlib.util.spec_from_file_location("quorvel", sys.argv[1])
q = importlib.util.module_from_spec(located)
located.loader.exec_module(q)
import numpy as np, pandas as pd
mode, n = sys.argv[2], 48
labels = [str(i) * 3 for i in range(n)]
shared = list(labels)
frame = pd.DataFrame(np.eye(n) * 0.04, index=pd.Index(list(labels)), columns=pd.Index(list(labels)))
frame.columns.tolist = lambda: shared  # a list that the writer keeps changing
said, problems = [], []
warnings.simplefilter("always")
warnings.showwarning = lambda message, *args, **kwargs: said.append(str(message))
stop = threading.Event()

def writer():
    k = 0
    while not stop.is_set():
        k += 1
        if mode == "replace":
            shared[k % n] = "".join([str(k % n)] * 3)  # a new string, equal to the old
        elif len(shared) > n // 2 and k % 2:
            shared.pop()
        else:
            shared.append("".join([str(len(shared) % n)] * 3))

def reader():
    while not stop.is_set():
        try:
            if q.portfolio_variance([1.0 / n] * n, frame) != q.portfolio_variance([1.0 / n] * n, np.eye(n) * 0.04):
                problems.append("value")
        except Exception as error:
            problems.append(repr(error))

threads = [threading.Thread(target=writer)] + [threading.Thread(target=reader) for _ in range(3)]
for thread in threads:
    thread.start()
time.sleep(1.5)
stop.set()
for thread in threads:
    thread.join()
named = [part.strip("'") for m in said for part in m.split(" (")[1].split(")")[0].split(" and ")]
print(repr((len(said), sorted(set(named) - set(labels)), problems[:3])))
"""


@pytest.mark.skipif(not FREE_THREADED, reason="a GIL build reads such labels in place, never through tolist()")
@pytest.mark.parametrize("mode", ["replace", "resize"])
def test_labels_from_a_list_another_thread_changes_are_the_calls_own(mode):
    pytest.importorskip("pandas")
    done = subprocess.run([sys.executable, "-c", SHARED_LABELS, q.__file__, mode], capture_output=True,
                          text=True, timeout=120)
    assert (done.returncode, done.stderr) == (0, ""), done.stdout + done.stderr
    warned, never_stored, problems = eval(done.stdout)
    assert (never_stored, problems) == ([], [])
    if mode == "replace":
        assert warned == 0  # every label the writer stores equals the one it replaces
