#!/usr/bin/env python3
"""Game files for the update benchmark (bench/update_bench.sh), the same bytes on every run.

    update_bench_data.py small DIR     1,000 files of 1 to 16 KiB in 20 folders
    update_bench_data.py large DIR     20 files of 5 to 20 MiB

Half of the small files are random bytes and half are text-like (they compress to about a
third); of the large files, two in three are random and one in three is text-like, so the gzip
copies are a mix of stored and well-compressed data, as a real release is.
"""

import os
import random
import sys

WORDS = [w.encode() for w in (
    "texture model sound script level quest dialog effect shader terrain unit building "
    "weapon armour spell faction river forest castle village bridge tower gate road").split()]


def text_like(rng: random.Random, size: int) -> bytes:
    """Lines of words and numbers: compresses well, but not to nothing."""
    out = bytearray()
    while len(out) < size:
        words = b" ".join(rng.choice(WORDS) for _ in range(rng.randint(3, 9)))
        out += b"%s = %d, %d;\n" % (words, rng.randint(0, 1 << 20), rng.randint(0, 999))
    return bytes(out[:size])


def write(path: str, data: bytes) -> None:
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def small(folder: str) -> None:
    rng = random.Random(20261208)
    for i in range(1000):
        size = rng.randint(1024, 16 * 1024)
        data = rng.randbytes(size) if i % 2 == 0 else text_like(rng, size)
        write(os.path.join(folder, "Scripts", "set%02d" % (i % 20), "item%04d.dat" % i), data)


def large(folder: str) -> None:
    rng = random.Random(20261209)
    for i in range(20):
        size = rng.randint(5 * 1024 * 1024, 20 * 1024 * 1024)
        data = text_like(rng, size) if i % 3 == 2 else rng.randbytes(size)
        write(os.path.join(folder, "Imgs", "pack%02d.big" % i), data)


def main() -> int:
    if len(sys.argv) != 3 or sys.argv[1] not in ("small", "large"):
        print(__doc__, file=sys.stderr)
        return 2
    (small if sys.argv[1] == "small" else large)(sys.argv[2])
    return 0


if __name__ == "__main__":
    sys.exit(main())
