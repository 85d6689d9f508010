"""Runs bench.py and kernels.py against two builds of quorvel in one run and
prints every figure of both side by side, so that a change can be judged by
how its ratios moved, measured on the same machine at the same time.

    python benchmarks/compare.py --before DIR [--after DIR] [--rounds 2] [--quick]

DIR is a folder holding a built quorvel extension (a CMake build folder, say,
of the commit before the change). --after defaults to the quorvel that
`import quorvel` finds. The builds take turns, round after round, and each
figure is the median over the rounds. Every figure is itself a ratio of two
timings taken in the same process, so the two builds are compared ratio
against ratio, never time against time.
"""

import argparse
import importlib.util
import os
import re
import statistics
import subprocess
import sys
import tempfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
ROW = re.compile(r"^  (?P<label>.{68})(?P<value>[ \d.inf-]{10})  ?(?P<goal>.*)$")

# Makes `import quorvel` find the build in QUORVEL_BENCH_DIR, in this process
# and in every child it starts, ahead of an installed or editable copy.
SITECUSTOMIZE = """
import os, sys
build = os.environ["QUORVEL_BENCH_DIR"]
sys.meta_path[:] = [f for f in sys.meta_path if "editable" not in type(f).__module__.lower()]
sys.path.insert(0, build)
"""


def module_dir(path):
    path = Path(path).resolve()
    if not any(path.glob("quorvel*.so")) and not any(path.glob("quorvel*.pyd")):
        sys.exit(f"no quorvel extension in {path}")
    return path


def environment(build, hook):
    env = dict(os.environ)
    env["QUORVEL_BENCH_DIR"] = str(build)
    env["PYTHONPATH"] = os.pathsep.join([hook, *filter(None, [env.get("PYTHONPATH")])])
    env.pop("QUORVEL_KERNELS", None)
    return env


def bench_figures(env, quick):
    """{label: (value, goal)} of one bench.py run."""
    command = [sys.executable, str(HERE / "bench.py")] + (["--quick"] if quick else [])
    out = subprocess.run(command, env=env, capture_output=True, text=True, check=True).stdout
    figures = {}
    for line in out.splitlines():
        match = ROW.match(line)
        if match:
            label = re.sub(r"\s+\(.*us vs .*us\)", "", match["label"].strip())
            figures[label] = (float(match["value"]), match["goal"].strip())
    return figures


def kernel_figures(env, quick, sizes):
    """{label: (value, goal)} of kernels.py, once per kernel build this
    processor runs."""
    import json

    figures = {}
    command = [sys.executable, str(HERE / "kernels.py"), "--json", "--sizes", sizes]
    command += ["--quick"] if quick else []
    top = json.loads(subprocess.run(command, env=env, capture_output=True, text=True,
                                    check=True).stdout)
    levels = ["portable", "avx2", "avx512"]
    for level in levels[: levels.index(top["kernels"]) + 1]:
        run = json.loads(subprocess.run(command, env={**env, "QUORVEL_KERNELS": level},
                                        capture_output=True, text=True, check=True).stdout)
        for row in run["rows"]:
            n = row["n"]
            figures[f"{level} n={n} minimum_variance_weights / numpy.linalg.inv"] = (row["inv"], "lower")
            figures[f"{level} n={n} portfolio_variance / w @ S @ w"] = (row["var"], "lower")
    return figures


def better_when_higher(label, goal):
    if ">=" in goal:
        return True
    if "<" in goal or goal == "lower" or "/ numpy" in label:
        return False
    return True  # the small calls: numpy's time over quorvel's


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--before", required=True, help="folder with the build before the change")
    parser.add_argument("--after", help="folder with the build after it (default: the importable one)")
    parser.add_argument("--rounds", type=int, default=2)
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--sizes", default="100,250,500,1000")
    args = parser.parse_args()

    before = module_dir(args.before)
    if args.after:
        after = module_dir(args.after)
    else:
        spec = importlib.util.find_spec("quorvel")
        if spec is None or spec.origin is None:
            sys.exit("no quorvel to import; give --after")
        after = module_dir(Path(spec.origin).parent)

    with tempfile.TemporaryDirectory() as hook:
        Path(hook, "sitecustomize.py").write_text(SITECUSTOMIZE)
        samples = {"before": {}, "after": {}}
        for round_number in range(args.rounds):
            order = [("before", before), ("after", after)]
            if round_number % 2:
                order.reverse()
            for name, build in order:
                env = environment(build, hook)
                print(f"round {round_number + 1}: {name} ({build})", file=sys.stderr, flush=True)
                for figures in (bench_figures(env, args.quick),
                                kernel_figures(env, args.quick, args.sizes)):
                    for label, (value, goal) in figures.items():
                        samples[name].setdefault(label, ([], goal))[0].append(value)

    print(f"{'figure':<78}{'before':>9}{'after':>9}{'change':>9}")
    worse = []
    for label, (values, goal) in samples["after"].items():
        if label not in samples["before"]:
            continue
        b = statistics.median(samples["before"][label][0])
        a = statistics.median(values)
        change = (a - b) / b * 100 if b not in (0.0, float("inf")) else 0.0
        higher = better_when_higher(label, goal)
        flag = ""
        if (change < -3 and higher) or (change > 3 and not higher):
            flag = "  worse"
            worse.append(label)
        print(f"{label[:77]:<78}{b:>9.2f}{a:>9.2f}{change:>+8.1f}%{flag}")
    print(f"{len(worse)} figures worse by more than 3%")


if __name__ == "__main__":
    main()
