#!/usr/bin/env python3
"""Publisher of releases for the launcher: python3 publish.py keygen|build|verify --help"""

import os
import sys

if sys.version_info < (3, 8):
    sys.exit("publish.py needs Python 3.8 or newer")
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from publisher.cli import main  # noqa: E402

if __name__ == "__main__":
    sys.exit(main())
