#!/usr/bin/env python3
"""Data of the demo setup (scripts/demo.sh), the same on every machine and every run.

  demo_data.py release DIR      the game files of the demo release (a few hundred files of several
                                sizes in the game's data folders) and its news text
  demo_data.py game SOURCE DIR  a game folder that needs updating: most files current, some
                                changed, some missing, and an older installed version
"""

import os
import random
import sys

# (folder, count, smallest size, largest size, extension) of the demo release.
RELEASE_LAYOUT = (
    ("Scripts", 120, 200, 6000, "lua"),
    ("Interf", 60, 100, 3000, "txt"),
    ("Globals", 20, 50, 2000, "ini"),
    ("Templates", 15, 1000, 12000, "tpl"),
    ("ScenData", 20, 40000, 300000, "dat"),
    ("Imgs", 40, 15000, 600000, "png"),
)

NEWS = ("[news]\n"
        "title_en=Demo release 1.44\n"
        "title_ru=Демо-выпуск 1.44\n"
        "text_en=Published by the demo's local update servers.\n"
        "text_ru=Опубликован локальными серверами демо.\n"
        "date=2026-12-08\n"
        "url_en=https://localhost/news/1.44\n"
        "url_ru=https://localhost/news/1.44\n")


def _content(generator: random.Random, size: int, text: bool) -> bytes:
    if text:
        words = [b"local", b"unit", b"= 1", b"end", b"value", b"-- note", b"\n", b"function", b"return"]
        chunks = []
        length = 0
        while length < size:
            word = generator.choice(words) + b" "
            chunks.append(word)
            length += len(word)
        return b"".join(chunks)[:size]
    return generator.randbytes(size)


def _write(path: str, data: bytes) -> None:
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as target:
        target.write(data)


def release(folder: str) -> None:
    generator = random.Random(144)
    for name, count, smallest, largest, extension in RELEASE_LAYOUT:
        text = extension in ("lua", "txt", "ini", "tpl")
        for index in range(count):
            # Sizes spread evenly on a log scale between the smallest and the largest.
            size = int(smallest * (largest / smallest) ** generator.random())
            _write(os.path.join(folder, "files", name, "%s_%03d.%s" % (name.lower(), index, extension)),
                   _content(generator, size, text))
    _write(os.path.join(folder, "files", "mss32.dll"), b"MZ" + generator.randbytes(20000))
    _write(os.path.join(folder, "news_v2.txt"), NEWS.encode("utf-8"))


def game(source: str, folder: str) -> None:
    """Copies the release, then changes every fifth small file and removes every seventh file."""
    generator = random.Random(143)
    paths = []
    for parent, _, names in os.walk(source):
        for name in names:
            paths.append(os.path.relpath(os.path.join(parent, name), source))
    changed = missing = 0
    for index, path in enumerate(sorted(paths)):
        with open(os.path.join(source, path), "rb") as original:
            data = original.read()
        if index % 7 == 3:
            missing += 1
            continue
        if index % 5 == 1 and len(data) < 20000:
            data = data[: len(data) // 2] + b"-- an older copy\n" + data[len(data) // 2:]
            changed += 1
        _write(os.path.join(folder, path), data)
    # A saved game: not listed in the release, so the launcher leaves it alone.
    _write(os.path.join(folder, "Saves", "slot1.sav"), generator.randbytes(3000))
    with open(os.path.join(folder, "VarnholdLauncher.ini"), "w", encoding="ascii") as version:
        version.write("143")
    print("demo game folder: %d files of the release, %d changed, %d missing, installed version 1.43"
          % (len(paths), changed, missing))


def main() -> int:
    if len(sys.argv) == 3 and sys.argv[1] == "release":
        release(sys.argv[2])
    elif len(sys.argv) == 4 and sys.argv[1] == "game":
        game(sys.argv[2], sys.argv[3])
    else:
        sys.stderr.write(__doc__)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main())
