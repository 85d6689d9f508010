"""Long calls let other threads run, and Ctrl-C (any signal handler that
raises) ends them with that exception."""

import json
import signal
import subprocess
import sys
import time

import pytest

import quorvel as q

np = pytest.importorskip("numpy")


def covariance(n, seed=0):
    a = np.random.default_rng(seed).standard_normal((n, 2 * n))
    return a @ a.T / (2 * n)


PROGRESS = """
import importlib.util, json, signal, sys, threading
located = importlib.util.spec_from_file_location("quorvel", sys.argv[1])
quorvel = importlib.util.module_from_spec(located)
located.loader.exec_module(quorvel)

class Done(Exception):
    pass

events, started, stuck = [], threading.Event(), threading.Event()

def count():
    # Far more counting than fits in the few switch intervals before the
    # call begins: finishing it needs the lock while the call runs.
    started.wait()
    n = 0
    while n < 1_000_000:
        n += 1
    if not stuck.is_set():
        events.append("counted")
        signal.pthread_kill(threading.main_thread().ident, signal.SIGUSR1)

def on_usr1(signum, frame):
    events.append("signal")
    raise Done

def on_alarm(signum, frame):
    stuck.set()
    events.append("alarm")
    raise Done

def profile(frame, event, function):
    if function is quorvel.risk_parity_weights:
        events.append(event)
        if event == "c_call":
            started.set()

signal.signal(signal.SIGUSR1, on_usr1)
signal.signal(signal.SIGALRM, on_alarm)
counter = threading.Thread(target=count)
counter.start()
signal.alarm(int(sys.argv[2]))  # ends the call should the counter never get the lock
sys.setprofile(profile)
try:
    quorvel.risk_parity_weights([[0.04, 0.01], [0.01, 0.09]], 10**12, -1.0)  # endless
except Done:
    pass
finally:
    sys.setprofile(None)
    signal.alarm(0)
counter.join()
print(json.dumps(events))
"""


def test_another_thread_runs_during_a_long_call():
    # The call would take hours; another thread, started as it begins,
    # counts and then signals the main thread, whose handler ends the call.
    # That can only happen if the call lets the counter run meanwhile.
    done = subprocess.run([sys.executable, "-c", PROGRESS, q.__file__, "60"], capture_output=True, text=True,
                          timeout=180)
    assert (done.returncode, done.stderr) == (0, "")
    assert json.loads(done.stdout) == ["c_call", "counted", "signal", "c_exception"]


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
