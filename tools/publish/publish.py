#!/usr/bin/env python3
"""Publisher of releases for the launcher, run from a checkout: python3 publish.py COMMAND --help.
Installed with pip install ./tools/publish, the same is the command varnhold-publish."""

import os
import sys

if sys.version_info < (3, 8):
    sys.exit("publish.py needs Python 3.8 or newer")
try:
    import cryptography  # noqa: F401
except ImportError:
    sys.exit("publish.py needs the Python package cryptography: apt install python3-cryptography (Debian, "
             "Ubuntu), or pip install ./tools/publish, which brings it")
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from publisher.cli import main  # noqa: E402

if __name__ == "__main__":
    sys.exit(main())
