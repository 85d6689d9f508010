"""The child processes: the loop each child runs over its block of cases,
and the parent that hands out blocks, watches the children, and records how
each one ended."""

from __future__ import annotations

import collections
import json
import os
import selectors
import signal
import subprocess
import sys
import tempfile
import time
import warnings

from . import imports
from .checks import Runner, signature

# Children run the script, as the user did.
LAUNCHER = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "fuzz.py")


def child_main(options):
    out = os.fdopen(options.report_fd, "w", buffering=1) if options.report_fd is not None else sys.stdout

    def report(kind, payload):
        out.write(kind + " " + json.dumps(payload) + "\n")
        out.flush()

    imports.load_optional(not options.no_numpy, not options.no_pandas)
    warnings.simplefilter("ignore")
    runner = Runner(options, report)
    report("ready", {"module": runner.module.__file__, "numpy": imports.np is not None, "pandas": imports.pd is not None})
    last = options.first - 1
    deadline = options.until
    fd = out.fileno()

    def calling(name):
        os.write(fd, b"e %s\n" % name.encode())

    for number in range(options.first, options.first + options.count):
        if deadline and time.time() > deadline:
            break
        os.write(fd, b"c %d\n" % number)
        runner.run(number, calling)
        last = number
    report("done", {"last": last, "stats": {k: dict(v) for k, v in runner.stats.items()},
                    "features": dict(runner.features)})
    out.flush()
    os._exit(0)  # no teardown: hostile objects may still be about


class Child:
    def __init__(self, first, count, proc, log, reader):
        self.first, self.count, self.proc, self.log, self.reader = first, count, proc, log, reader
        self.current = None
        self.entry = "?"  # the current case's entry point, once the child names it
        self.last_progress = time.monotonic()
        self.buffer = b""
        self.done = None
        self.hung = False


def child_environment(options):
    env = dict(os.environ)
    env.setdefault("PYTHONFAULTHANDLER", "1")
    return env


def uses_asan(env):
    return "asan" in env.get("LD_PRELOAD", "") or "ASAN_OPTIONS" in env


def child_command(options, first, count, until, fd, verbose=False):
    cmd = [sys.executable, LAUNCHER, "--child", "--seed", str(options.seed), "--first", str(first),
           "--count", str(count), "--until", repr(until), "--report-fd", str(fd),
           "--oracle", options.oracle]
    cmd += common_flags(options)
    if verbose:
        cmd.append("--verbose")
    return cmd


def common_flags(options):
    flags = []
    if options.module_path:
        flags += ["--module-path", options.module_path]
    if options.plant:
        flags += ["--plant", options.plant]
    if not options.big_alloc:
        flags.append("--no-big-alloc")
    if options.no_numpy:
        flags.append("--no-numpy")
    if options.no_pandas:
        flags.append("--no-pandas")
    return flags


def reproducer(options, number):
    base = [os.path.relpath(LAUNCHER) if not os.path.isabs(sys.argv[0]) else LAUNCHER, "--seed", str(options.seed),
            "--case", str(number)] + common_flags(options)
    return "python " + " ".join(base)


def start_child(options, first, count, until, verbose=False):
    read_fd, write_fd = os.pipe()
    log = tempfile.TemporaryFile()
    cmd = child_command(options, first, count, until, write_fd, verbose)
    proc = subprocess.Popen(cmd, stdin=subprocess.DEVNULL, stdout=log if not verbose else None,
                            stderr=log if not verbose else None, pass_fds=(write_fd,),
                            env=child_environment(options))
    os.close(write_fd)
    os.set_blocking(read_fd, False)
    return Child(first, count, proc, log, read_fd)


def signal_name(code):
    try:
        return signal.Signals(-code).name
    except ValueError:
        return f"signal {-code}"


def log_tail(child, lines=40):
    try:
        child.log.seek(0)
        text = child.log.read().decode("utf-8", "replace")
    except Exception:
        return ""
    kept = text.strip().splitlines()[-lines:]
    return "\n".join("    | " + line for line in kept)


SANITIZER_MARKS = ("ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:",
                   "ERROR: UndefinedBehaviorSanitizer")


def sanitizer_report(child, lines=30):
    """The start of the first sanitizer report in the child's output, if any."""
    try:
        child.log.seek(0)
        text = child.log.read().decode("utf-8", "replace").splitlines()
    except Exception:
        return ""
    for i, line in enumerate(text):
        if any(mark in line for mark in SANITIZER_MARKS):
            return "\n".join("    | " + x for x in text[i:i + lines])
    return ""


class Parent:
    def __init__(self, options):
        self.options = options
        self.failures = collections.OrderedDict()  # signature -> [record, repeats]
        self.stats = collections.defaultdict(collections.Counter)
        self.features = collections.Counter()
        self.children_started = 0
        self.ready_info = None
        self.oracle_mismatches = 0

    def record(self, record):
        if record["kind"] == "oracle" and self.options.oracle == "report":
            self.oracle_mismatches += 1
        if record.get("group"):
            key = (record["kind"], "*", record["group"])
        else:
            key = (record["kind"], record["entry"], signature(record["detail"]))
        if key in self.failures:
            self.failures[key][1] += 1
        else:
            self.failures[key] = [record, 1]

    def failing(self):
        return [r for r, _ in self.failures.values()
                if not (r["kind"] == "oracle" and self.options.oracle == "report")]

    def run(self, blocks, until, verbose=False):
        """Runs the given blocks of cases, or (blocks None) fresh blocks
        until the deadline. A crashed child's unfinished block goes on in a
        fresh child."""
        options = self.options
        selector = selectors.DefaultSelector()
        pending = collections.deque(blocks or ())
        fresh = blocks is None
        next_case = options.start
        running = []

        def next_block():
            nonlocal next_case
            if until and time.time() > until:
                return None
            if pending:
                return pending.popleft()
            if not fresh:
                return None
            first = next_case
            next_case += options.batch
            return first, options.batch

        while True:
            while len(running) < options.workers and len(self.failing()) < options.max_failures:
                block = next_block()
                if block is None:
                    break
                child = start_child(options, block[0], block[1], until, verbose)
                self.children_started += 1
                selector.register(child.reader, selectors.EVENT_READ, child)
                running.append(child)
            if not running:
                break
            for key, _ in selector.select(timeout=0.5):
                child = key.data
                try:
                    chunk = os.read(child.reader, 65536)
                except BlockingIOError:
                    continue
                if chunk:
                    child.buffer += chunk
                    child.last_progress = time.monotonic()
                    *lines, child.buffer = child.buffer.split(b"\n")
                    for line in lines:
                        self.message(child, line.decode())
                    continue
                selector.unregister(child.reader)
                os.close(child.reader)
                self.finish(child)
                running.remove(child)
                if child.done is None and child.current is not None:
                    rest = child.first + child.count - child.current - 1
                    if rest > 0 and fresh:
                        pending.append((child.current + 1, rest))
            now = time.monotonic()
            for child in running:
                if not child.hung and now - child.last_progress > options.timeout:
                    child.proc.kill()  # our own child, by its pid
                    child.hung = True

    def message(self, child, line):
        kind, _, payload = line.partition(" ")
        if kind == "c":
            child.current, child.entry = int(payload), "?"
            return
        if kind == "e":  # counted here, so that the calls of a child that crashes count too
            child.entry = payload
            self.stats[payload]["calls"] += 1
            return
        data = json.loads(payload)
        if kind == "ready":
            self.ready_info = self.ready_info or data
        elif kind == "fail":
            self.record(data)
        elif kind == "done":
            child.done = data
            for entry, counts in data["stats"].items():
                self.stats[entry].update(counts)
            self.features.update(data["features"])

    def finish(self, child):
        code = child.proc.wait()
        report = sanitizer_report(child)
        if child.done is not None and code == 0:
            if report:  # e.g. UBSan without halt_on_error carries on
                self.record({"case": child.done["last"], "entry": "?", "kind": "sanitizer report",
                             "detail": report.splitlines()[0].strip(" |"), "log": report,
                             "block": [child.first, child.done["last"]]})
            return
        if child.current is None:
            detail = f"child exited with {code} before running a case"
            self.record({"case": child.first, "entry": "?", "kind": "child failed", "detail": detail,
                         "log": log_tail(child)})
            return
        if child.hung:
            kind, detail = "hang", f"no progress for {self.options.timeout} s"
        elif report:
            kind, detail = "sanitizer report", report.splitlines()[0].strip(" |")
        elif code < 0:
            kind, detail = "crash", f"killed by {signal_name(code)}"
        else:
            kind, detail = "abnormal exit", f"exit status {code}"
        self.record({"case": child.current, "entry": child.entry, "kind": kind, "detail": detail,
                     "log": report or log_tail(child), "block": [child.first, child.current]})


def describe_cases(options, first, count):
    cmd = [sys.executable, LAUNCHER, "--describe", "--seed", str(options.seed), "--first", str(first),
           "--count", str(count)] + common_flags(options)
    try:
        done = subprocess.run(cmd, capture_output=True, text=True, timeout=120,
                              env=child_environment(options))
        return done.stdout.strip() or done.stderr.strip()[-2000:]
    except Exception as exc:
        return f"(could not describe: {exc})"
