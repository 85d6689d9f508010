"""Long calls let other threads run, and Ctrl-C (any signal handler that
raises) ends them with that exception."""

import signal
import subprocess
import sys
import threading
import time

import pytest

import quorvel as q

np = pytest.importorskip("numpy")


def covariance(n, seed=0):
    a = np.random.default_rng(seed).standard_normal((n, 2 * n))
    return a @ a.T / (2 * n)


def test_another_thread_keeps_its_pace_during_long_work():
    cov = covariance(60)
    ticks, stop = [0], threading.Event()

    def spin():
        while not stop.is_set():
            ticks[0] += 1

    spinner = threading.Thread(target=spin)
    spinner.start()
    try:
        time.sleep(0.2)  # the spinner alone
        start, began = ticks[0], time.perf_counter()
        time.sleep(0.2)
        alone = (ticks[0] - start) / (time.perf_counter() - began)
        passes = 200
        while True:  # long enough to dwarf the interpreter's 5 ms switch interval
            start, began = ticks[0], time.perf_counter()
            q.risk_parity_weights(cov, passes, -1.0)
            took = time.perf_counter() - began
            if took > 0.3:
                break
            passes *= 4
        during = (ticks[0] - start) / took
    finally:
        stop.set()
        spinner.join()
    # Holding the lock throughout would leave the spinner a few switch
    # intervals at most: a pace near zero.
    assert during / alone > 0.1


def test_long_inversion_ends_with_the_signal_handlers_exception():
    class Stop(Exception):
        pass

    where = []

    def profile(frame, event, function):
        if function is q.minimum_variance_weights:
            where.append(event)

    def handler(signum, frame):
        where.append("signal")
        raise Stop

    cov = covariance(1000)
    previous = signal.signal(signal.SIGALRM, handler)
    sys.setprofile(profile)
    try:
        signal.setitimer(signal.ITIMER_REAL, 0.002)
        with pytest.raises(Stop):
            q.minimum_variance_weights(cov)
    finally:
        sys.setprofile(None)
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
    # The handler ran inside the call, which then ended with its exception.
    assert where == ["c_call", "signal", "c_exception"]


CHILD = """
import sys, importlib.util
located = importlib.util.spec_from_file_location("quorvel", sys.argv[1])
quorvel = importlib.util.module_from_spec(located)
located.loader.exec_module(quorvel)
print("ready", flush=True)
try:
    quorvel.risk_parity_weights([[0.04, 0.01], [0.01, 0.09]], 10**12, -1.0)
except KeyboardInterrupt:
    print("interrupted", flush=True)
"""


def test_ctrl_c_ends_an_endless_risk_parity():
    child = subprocess.Popen([sys.executable, "-c", CHILD, q.__file__], stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True)
    try:
        assert child.stdout.readline() == "ready\n"
        time.sleep(0.3)  # well inside the call (10**12 passes would take hours)
        child.send_signal(signal.SIGINT)
        out, err = child.communicate(timeout=60)
    finally:
        child.kill()
    assert (child.returncode, out, err) == (0, "interrupted\n", "")
