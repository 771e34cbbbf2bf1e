#!/usr/bin/env python3
"""Compares a game folder with a published release, byte for byte (scripts/try-release.sh).

usage: compare_release.py --served URL [--ca-file PEM] --folder DIR [--source DIR]
  The release is the one the branch at URL (or a branch folder) announces in its latest.txt. Every
  file of its manifest must be in DIR with the bytes it has in the source folder or, without one,
  in the served release (its object, unpacked). Exit code 0 when all are the same.
"""

import argparse
import filecmp
import os
import sys
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools", "publish"))
from publisher import formats, verify  # noqa: E402


def _same_as_object(source, path: str, local: str) -> bool:
    """Whether the local file holds what the gzip object at `path` unpacks to, read piece by piece."""
    unpack = zlib.decompressobj(16 + zlib.MAX_WBITS)
    same = True
    with open(local, "rb") as game_file:
        def consume(piece: bytes) -> None:
            nonlocal same
            data = unpack.decompress(piece)
            same = same and game_file.read(len(data)) == data
        status, _ = source.fetch(path, consume)
        return status == 200 and same and unpack.eof and not game_file.read(1)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--served", required=True)
    parser.add_argument("--ca-file")
    parser.add_argument("--folder", required=True)
    parser.add_argument("--source")
    args = parser.parse_args()
    try:
        source = (verify.FolderSource(args.served) if os.path.isdir(args.served) else
                  verify.HttpsSource(args.served, args.ca_file))
        status, descriptor = source.fetch("latest.txt")
        release = formats.read_c_int(formats.parse_ini_root(descriptor).get("game_version", "")) if status == 200 else 0
        status, manifest = source.fetch("%d/checksums.txt" % release) if release > 0 else (404, b"")
        entries, problem = formats.parse_manifest(manifest) if status == 200 else ([], "it is not served")
        if problem:
            print("compare: the manifest of %s cannot be read: %s" % (args.served, problem))
            return 1
        differing = []
        for entry in entries:
            local = os.path.join(args.folder, *entry.path.split("/"))
            if not os.path.isfile(local):
                differing.append(entry.path + ": missing")
            elif args.source and not filecmp.cmp(os.path.join(args.source, *entry.path.split("/")), local, False):
                differing.append(entry.path + ": differs from the source folder's")
            elif not args.source and not _same_as_object(source, "%d/files/%s.gz" % (release, entry.sha256), local):
                differing.append(entry.path + ": differs from the served release's")
    except (OSError, ValueError, verify.FetchError, formats.IniError, zlib.error) as error:
        print("compare: %s" % error)
        return 1
    against = "the source folder %s" % args.source if args.source else "the served release"
    if differing:
        print("%d of the %d files of release %d differ from %s:" % (len(differing), len(entries), release, against))
        print("\n".join("  " + line for line in differing[:50]))
        return 1
    print("the game folder holds the %d files of release %d as %s has them, byte for byte"
          % (len(entries), release, against))
    return 0


if __name__ == "__main__":
    sys.exit(main())
