#!/usr/bin/env python3
"""Game files for the network benchmark (bench/network_bench.sh), the same bytes on every run.

    network_bench_data.py small DIR COUNT    COUNT files of 1 to 16 KiB, half random, half text
    network_bench_data.py large DIR COUNT    COUNT random files of 64 MiB / COUNT each (they do
                                             not compress: the copies are as large as the files)
"""

import os
import random
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from update_bench_data import text_like, write  # noqa: E402


def small(folder: str, count: int) -> None:
    rng = random.Random(20261210 + count)
    for i in range(count):
        size = rng.randint(1024, 16 * 1024)
        data = rng.randbytes(size) if i % 2 == 0 else text_like(rng, size)
        write(os.path.join(folder, "Scripts", "set%02d" % (i % 10), "item%04d.dat" % i), data)


def large(folder: str, count: int) -> None:
    rng = random.Random(20261211)
    for i in range(count):
        write(os.path.join(folder, "Imgs", "pack%02d.big" % i), rng.randbytes(64 * 1024 * 1024 // count))


def main() -> int:
    if len(sys.argv) != 4 or sys.argv[1] not in ("small", "large") or not sys.argv[3].isdigit():
        print(__doc__, file=sys.stderr)
        return 2
    (small if sys.argv[1] == "small" else large)(sys.argv[2], int(sys.argv[3]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
