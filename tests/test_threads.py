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
import signal, sys, importlib.util
# Python's own Ctrl-C handler, even when the suite was started where SIGINT
# is ignored (a background job of a shell), which the child would inherit.
signal.signal(signal.SIGINT, signal.default_int_handler)
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


# Python's main thread (the one that runs signal handlers) found however the
# process got there: `threading` imported first from another thread (whose
# main_thread() then names that thread on 3.11 and 3.12), or a
# sub-interpreter on another thread making the module's first long call.
# Run without site (-S), which may import threading itself.
FIRST_ELSEWHERE = """
import _thread, importlib.util, json, signal, sys
path, how = sys.argv[1], sys.argv[2]
assert "threading" not in sys.modules
SUB = '''
import importlib.util
located = importlib.util.spec_from_file_location("quorvel", %r)
quorvel = importlib.util.module_from_spec(located)
located.loader.exec_module(quorvel)
n = 60
quorvel.minimum_variance_weights([[float(i == j) * n + 1.0 for j in range(n)] for i in range(n)])  # long
''' % path

def sub_interpreter():
    try:
        import _interpreters as interpreters
        made = interpreters.create("legacy")
        interpreters.exec(made, SUB)
    except ImportError:
        import _xxsubinterpreters as interpreters
        try:
            made = interpreters.create(isolated=False)
        except TypeError:
            made = interpreters.create()
        interpreters.run_string(made, SUB)
    interpreters.destroy(made)

finished = _thread.allocate_lock()
finished.acquire()
def elsewhere():
    try:
        if how == "threading":
            import threading
        else:
            sub_interpreter()
    finally:
        finished.release()
_thread.start_new_thread(elsewhere, ())
finished.acquire()

located = importlib.util.spec_from_file_location("quorvel", path)
quorvel = importlib.util.module_from_spec(located)
located.loader.exec_module(quorvel)
quorvel.minimum_variance_weights([[float(i == j) * 60 + 1.0 for j in range(60)] for i in range(60)])  # long too
n = 1000
matrix = [[float(i == j) * n + 1.0 for j in range(n)] for i in range(n)]

class Stop(Exception):
    pass

events = []
def handler(signum, frame):
    events.append("signal")
    raise Stop

def profile(frame, event, function):
    if function is quorvel.minimum_variance_weights:
        events.append(event)

signal.signal(signal.SIGALRM, handler)
try:
    sys.setprofile(profile)
    signal.setitimer(signal.ITIMER_REAL, 0.002)
    quorvel.minimum_variance_weights(matrix)
    sys.setprofile(None)
    signal.setitimer(signal.ITIMER_REAL, 0.5)
    while True:  # the handler would run after the call
        pass
except Stop:
    sys.setprofile(None)
print(json.dumps(events))
"""


def interpreters():
    from test_process import other_interpreters
    return [sys.executable] + [i for i in other_interpreters() if isinstance(i, str)]


@pytest.mark.parametrize("interpreter", interpreters())
@pytest.mark.parametrize("first", ["threading", "sub-interpreter"])
def test_signal_handlers_run_inside_a_long_call_whatever_thread_came_first(first, interpreter):
    done = subprocess.run([interpreter, "-S", "-c", FIRST_ELSEWHERE, q.__file__, first], capture_output=True,
                          text=True, timeout=300)
    assert (done.returncode, done.stderr) == (0, "")
    assert json.loads(done.stdout) == ["c_call", "signal", "c_exception"]

