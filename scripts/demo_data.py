#!/usr/bin/env python3
"""Data of the demo setup (scripts/demo.sh), the same on every machine and every run.

  demo_data.py release DIR SITE the game files of the demo release (a few hundred files of several
                                sizes in the game's data folders) and its news, linking to SITE
  demo_data.py game SOURCE DIR [--exe FILE]
                                a game folder that needs updating: the base game's own files (stand-
                                ins; FILE, when given, as Tharnvl2.exe), most release files current,
                                some changed, some missing, and an older installed version
  demo_data.py base DIR [--exe FILE]
                                a game folder with the base game's own files only (stand-ins; FILE,
                                when given, as Tharnvl2.exe), as before the mod's first install
  demo_data.py ports HEADER     the ports of the addresses compiled into a build (its
                                generated/deployment_values.h) as shell assignments
  demo_data.py site DIR HEADER RULES
                                the web pages the window links to (rating page, client download
                                pages, news pages) and the test server's rules that serve them
"""

import json
import os
import random
import re
import shutil
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

# The base game the mod is installed on: the launcher only tests that these are there, never
# updates them. (path, size) of each stand-in; Tharnvl2.exe may be a real program instead.
BASE_GAME = (
    ("Tharnvl2.exe", 40000),
    ("binkw32.dll", 12000),
    ("Mss23.dll", 20000),
    ("gameinfo.dat", 600),
    ("Imgs/base_interface.png", 30000),
    ("ImgData/base_sprites.dat", 25000),
    ("Music/theme.ogg", 50000),
    ("Sounds/click.wav", 4000),
    ("Video/intro.bik", 60000),
    ("Scens/campaign01.scn", 9000),
    ("ScenData/base_terrain.dat", 20000),
    ("Campaign/campaign.cmp", 3000),
    ("Briefing/briefing01.txt", 1500),
)

# The news cards: link paths below the site's address.
NEWS = (
    {"title_en": "Demo|release 1.44", "title_ru": "Выпуск|1.44 демо",
     "text_en": "Served by nginx on this machine.",
     "text_ru": "Раздается nginx на этом компьютере.",
     "date": "2026-12-08", "path": "/news/1.44"},
    {"title_en": "Season 3|rating", "title_ru": "Рейтинг|3 сезона",
     "text_en": "From the demo's own rating service.",
     "text_ru": "От рейтинговой службы демо.",
     "date": "2026-12-01", "path": "/news/season-3"},
    {"title_en": "Two|branches", "title_ru": "Две|ветки",
     "text_en": "KORDAN TVX needs its own folder.",
     "text_ru": "Для KORDAN TVX нужна своя папка.",
     "date": "2026-11-20", "path": "/news/branches"},
)

PAGE = ("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>%s</title></head>\n"
        "<body><h1>%s</h1><p>%s</p></body></html>\n")


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
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    with open(path, "wb") as target:
        target.write(data)


def news_text(site: str) -> str:
    lines = []
    for item in NEWS:
        lines.append("[news]")
        for key in ("title_en", "title_ru", "text_en", "text_ru", "date"):
            lines.append("%s=%s" % (key, item[key]))
        lines.append("url_en=%s%s" % (site, item["path"]))
        lines.append("url_ru=%s%s?lang=ru" % (site, item["path"]))
    return "\n".join(lines) + "\n"


def release(folder: str, site: str) -> None:
    generator = random.Random(144)
    for name, count, smallest, largest, extension in RELEASE_LAYOUT:
        text = extension in ("lua", "txt", "ini", "tpl")
        for index in range(count):
            # Sizes spread evenly on a log scale between the smallest and the largest.
            size = int(smallest * (largest / smallest) ** generator.random())
            _write(os.path.join(folder, "files", name, "%s_%03d.%s" % (name.lower(), index, extension)),
                   _content(generator, size, text))
    _write(os.path.join(folder, "files", "mss32.dll"), b"MZ" + generator.randbytes(20000))
    _write(os.path.join(folder, "news_v2.txt"), news_text(site).encode("utf-8"))


def base(folder: str, exe: str = "") -> random.Random:
    """The base game's stand-ins; returns the generator that made them, to go on with."""
    generator = random.Random(143)
    for path, size in BASE_GAME:
        _write(os.path.join(folder, path), b"MZ" + generator.randbytes(size))
    if exe:
        shutil.copyfile(exe, os.path.join(folder, "Tharnvl2.exe"))
    return generator


def game(source: str, folder: str, exe: str = "") -> None:
    """The base game's stand-ins, then the release with every fifth small file changed and every
    seventh file missing."""
    generator = base(folder, exe)
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


def deployment(header: str) -> dict:
    """The addresses compiled into a build: {name: (port, path)} from its deployment_values.h. The
    demo serves them on this machine, so each must be https://localhost:PORT."""
    with open(header, encoding="utf-8") as source:
        text = source.read()
    addresses = {}
    for name, url in re.findall(r'kDeploy(\w+)\[\] = "(\w+://[^"]*)"', text):
        name = name.replace("Url", "")
        match = re.fullmatch(r"https://localhost:(\d+)(/[^#]*)?(#.*)?", url)
        if not match:
            raise ValueError("%s: %s is %s, not an address on this machine" % (header, name, url))
        addresses[name] = (int(match.group(1)), match.group(2) or "/")
    missing = {"PrimaryServer", "FallbackServer", "RatingQuery", "RatingPage"} - set(addresses)
    if missing:
        raise ValueError("%s: no %s address" % (header, ", ".join(sorted(missing))))
    return addresses


def ports(header: str) -> None:
    """Shell assignments of the update servers' and the rating service's ports."""
    addresses = deployment(header)
    print("primary_port=%d fallback_port=%d rating_port=%d" % (
        addresses["PrimaryServer"][0], addresses["FallbackServer"][0], addresses["RatingQuery"][0]))


def site(folder: str, header: str, rules: str) -> None:
    """The pages the window links to that the rating service's server answers: the rating page,
    the client download pages, the news. A path ending in "/" is served from its index.html, through
    a rule of the test server."""
    addresses = deployment(header)
    port = addresses["RatingQuery"][0]
    pages = {"RatingPage": ("Season rating", "The full rating of the demo's season would be here.")}
    for name, label in (("ClientPageLurra", "LURRA 1.44"), ("ClientPageKtvx", "KORDAN TVX")):
        pages[name] = ("%s client" % label, "The %s client download would be here." % label)
    files = {}
    for name, page in pages.items():
        if name in addresses and addresses[name][0] == port:
            files[addresses[name][1]] = page
    for item in NEWS:
        files[item["path"]] = (item["title_en"].replace("|", " "), item["text_en"])
    folder_rules = []
    for path, (title, text) in files.items():
        file = path.lstrip("/")
        if path.endswith("/"):
            file += "index.html"
            folder_rules.append({"path": path, "action": "file", "file": file})
        _write(os.path.join(folder, file), (PAGE % (title, title, text)).encode("utf-8"))
    _write(rules, (json.dumps(folder_rules) + "\n").encode("utf-8"))


def main() -> int:
    args = sys.argv[1:]
    try:
        if len(args) == 3 and args[0] == "release":
            release(args[1], args[2])
        elif len(args) in (3, 5) and args[0] == "game" and (len(args) == 3 or args[3] == "--exe"):
            game(args[1], args[2], args[4] if len(args) == 5 else "")
        elif len(args) in (2, 4) and args[0] == "base" and (len(args) == 2 or args[2] == "--exe"):
            base(args[1], args[3] if len(args) == 4 else "")
        elif len(args) == 2 and args[0] == "ports":
            ports(args[1])
        elif len(args) == 4 and args[0] == "site":
            site(args[1], args[2], args[3])
        else:
            sys.stderr.write(__doc__)
            return 2
    except (OSError, ValueError) as error:
        sys.stderr.write("demo_data.py: %s\n" % error)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
