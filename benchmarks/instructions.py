"""Counts the instructions one small call takes, for two builds of quorvel,
with valgrind's callgrind: steadier than timings for calls of a microsecond,
and the same whatever else the machine is doing.

    python benchmarks/instructions.py --before DIR [--after DIR] [--calls 2000]

DIR is a folder holding a built quorvel extension (a CMake build folder,
say, of the commit before a change); --after defaults to the quorvel that
`import quorvel` finds. For each of the fifteen functions at n = 10 from
lists (the calls of bench.py's small-call section), a Python loop makes
--calls calls under callgrind; the count of a run with no calls is taken
away and the rest divided by --calls. The loop's own instructions are in
both builds' figures alike.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

CASES = {
    "equal_weights": "q.equal_weights(n)",
    "rank_weights": "q.rank_weights(v, True)",
    "signal_proportional_weights": "q.signal_proportional_weights(v)",
    "target_volatility_weights": "q.target_volatility_weights(vols)",
    "minimum_variance_weights": "q.minimum_variance_weights(cov)",
    "mean_variance_weights": "q.mean_variance_weights(v, cov, 3.0)",
    "risk_parity_weights": "q.risk_parity_weights(cov, 50, 0.0)",
    "hierarchical_risk_parity_weights": "q.hierarchical_risk_parity_weights(cov)",
    "portfolio_variance": "q.portfolio_variance(w, cov)",
    "portfolio_volatility": "q.portfolio_volatility(w, cov)",
    "risk_contribution": "q.risk_contribution(w, cov)",
    "tracking_error": "q.tracking_error(v, cov)",
    "active_share": "q.active_share(v)",
    "brinson_attribution": "q.brinson_attribution(w, vols, v, w)",
    "factor_return_decomposition": "q.factor_return_decomposition(v, w)",
}

SCRIPT = """
import random, sys
sys.meta_path[:] = [f for f in sys.meta_path if "editable" not in type(f).__module__.lower()]
sys.path.insert(0, sys.argv[1])
import quorvel as q
assert q.__file__.startswith(sys.argv[1]), q.__file__
n, calls = 10, int(sys.argv[2])
rng = random.Random(3)
a = [[rng.gauss(0.0, 1.0) for _ in range(2 * n)] for _ in range(n)]
cov = [[sum(x * y for x, y in zip(a[i], a[j])) / (2 * n) + (0.01 if i == j else 0.0) for j in range(n)]
       for i in range(n)]
w = [rng.random() for _ in range(n)]
v = [rng.gauss(0.0, 1.0) for _ in range(n)]
vols = [abs(x) + 0.05 for x in v]
call = lambda: {call}
call()
for _ in range(calls):
    call()
"""


def module_dir(path):
    path = Path(path).resolve()
    if not any(path.glob("quorvel*.so")) and not any(path.glob("quorvel*.pyd")):
        sys.exit(f"no quorvel extension in {path}")
    return path


def instructions(build, call, calls, scratch):
    out = Path(scratch) / "callgrind.out"
    command = ["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}", sys.executable, "-c",
               SCRIPT.replace("{call}", call), str(build), str(calls)]
    env = dict(os.environ, PYTHONHASHSEED="0", QUORVEL_KERNELS=os.environ.get("QUORVEL_KERNELS", ""))
    subprocess.run(command, check=True, capture_output=True, env=env)
    total = re.search(r"^summary:\s+(\d+)", out.read_text(), re.M)
    return int(total.group(1))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--before", required=True)
    parser.add_argument("--after")
    parser.add_argument("--calls", type=int, default=2000)
    args = parser.parse_args()
    if shutil.which("valgrind") is None:
        sys.exit("valgrind is needed (Debian: apt-get install valgrind)")
    before = module_dir(args.before)
    if args.after:
        after = module_dir(args.after)
    else:
        import quorvel
        after = Path(quorvel.__file__).resolve().parent
    print(f"instructions per call at n = 10 from lists ({args.calls} calls each)")
    print(f"  {'function':<34}{'before':>10}{'after':>10}{'after/before':>14}")
    ratios = []
    with tempfile.TemporaryDirectory() as scratch:
        for name, call in CASES.items():
            per_call = []
            for build in (before, after):
                empty = instructions(build, call, 0, scratch)
                full = instructions(build, call, args.calls, scratch)
                per_call.append((full - empty) / args.calls)
            ratios.append(per_call[1] / per_call[0])
            print(f"  {name:<34}{per_call[0]:>10.0f}{per_call[1]:>10.0f}{ratios[-1]:>14.3f}", flush=True)
    ratios.sort()
    print(f"  {'median after/before':<54}{ratios[len(ratios) // 2]:>14.3f}")


if __name__ == "__main__":
    main()
