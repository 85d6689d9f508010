#!/usr/bin/env python3
"""Hostile-input fuzzing of every quorvel entry point, in child processes.

    python tools/fuzz.py [--seconds 60] [--seed N] [--workers N] [--module-path DIR]
    python tools/fuzz.py --seed N --case K          # replay one case and show it
    python tools/fuzz.py --seed N --cases A-B       # replay a run of cases in one child

The fuzzer is the package tools/fuzz/ beside this script (its __init__ says
what each module does; tools/FUZZING.md how to run it). The children run
this script too.
"""

import sys

# tools/ is first on sys.path, and a package comes before a module of the
# same name: this imports tools/fuzz/, not this file.
from fuzz.cli import main

if __name__ == "__main__":
    sys.exit(main())
