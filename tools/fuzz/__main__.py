"""`python -m fuzz` (with tools/ on sys.path) is `python tools/fuzz.py`."""

import sys

from .cli import main

sys.exit(main())
