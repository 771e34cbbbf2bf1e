#!/usr/bin/env python3
"""The picture check must catch each kind of fault it exists for.

Usage: check_art_test.py BUILD_DIR   (a Windows build with its pictures, e.g. build/win32)

Each case copies the build's pictures and executable into a scratch folder, spoils one thing
(a picture's size, its chunks, an icon size, a resource number, an embedded picture's header,
the icon group) and expects the check to name exactly that fault; the untouched copy must pass.
"""

import os
import shutil
import struct
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tools"))
import check_art  # noqa: E402

TABLE = os.path.join(ROOT, "resources", "art", "images.txt")


def convert(*arguments):
    subprocess.run(["convert", *arguments], check=True)


def patch(exe, kind, number, at, value):
    """Writes `value` into the executable: at the resource's directory entry (at None) or at `at`
    bytes into its data."""
    entry_at, data_at = check_art.PeResources(exe).places[kind][number]
    with open(exe, "r+b") as image:
        image.seek(entry_at if at is None else data_at + at)
        image.write(value)


PNG, GROUP, ICON = "PNG", check_art.RT_GROUP_ICON, check_art.ICON_ID
CASES = [
    ("untouched", None, []),
    ("picture built at a wrong size",
     lambda art, exe: convert(f"{art}/glow.png", "-resize", "112x110!", "-strip", f"{art}/glow.png"),
     ["picture 167 (ART/glow.png) is (112, 110), its role needs (112, 112)"]),
    ("picture written with ImageMagick's time and dates", lambda art, exe: convert(
        f"{art}/glow.png", f"{art}/glow.png"), ["picture 167 (ART/glow.png) carries tIME, tEXt, tEXt"]),
    ("icon without its 24 px image",
     lambda art, exe: convert(*(f"{art}/launcher.ico[{i}]" for i in (0, 2, 3, 4)), "-strip", f"{art}/launcher.ico"),
     ["ART/launcher.ico holds [16, 32, 48, 256] px, the window needs [16, 24, 32, 48, 256]"]),
    ("picture under another number", lambda art, exe: patch(exe, PNG, 174, None, struct.pack("<I", 999)),
     ["EXE has no PNG resource 174"]),
    ("embedded picture of another width", lambda art, exe: patch(exe, PNG, 189, 16, struct.pack(">I", 1851)),
     ["EXE: PNG resource 189 is (1851, 337), its role needs (1850, 337)"]),
    ("icon group listing four images", lambda art, exe: patch(exe, GROUP, ICON, 4, struct.pack("<H", 4)),
     ["EXE: icon 200 holds [16, 24, 32, 48] px, the window needs [16, 24, 32, 48, 256]"]),
]


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__.strip().splitlines()[2])
    build = sys.argv[1]
    failed = 0
    for name, spoil, expected in CASES:
        with tempfile.TemporaryDirectory() as scratch:
            art, exe = f"{scratch}/art", f"{scratch}/VarnholdLauncher.exe"
            shutil.copytree(f"{build}/art", art, ignore=shutil.ignore_patterns("svg"))
            shutil.copyfile(f"{build}/VarnholdLauncher.exe", exe)
            if spoil:
                spoil(art, exe)
            faults = check_art.check_built_files(TABLE, art) + check_art.check_executable(exe)
            faults = [text.replace(art, "ART").replace(exe, "EXE") for text in faults]
        if faults != expected:
            failed += 1
            print(f"FAILED {name}:\n  expected {expected}\n  got      {faults}")
    print(f"picture check: {len(CASES) - failed} of {len(CASES)} cases as expected")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
