"""Command line of the publisher: keygen, build, verify, upload."""

import argparse
import os
import sys
from typing import List, Optional

from . import formats, keys, release, upload, verify

PRIVATE_KEY_WARNING = (
    "Keep the private key secret and never commit it to a repository: anyone who has it can make\n"
    "every player's launcher install anything. Store it where the build runs (an encrypted CI\n"
    "secret, a protected folder) and keep a backup offline. The public key goes into the launcher\n"
    "build: -DVARNHOLD_PUBLIC_KEY_FILE=%s")


def _fail(text: str) -> int:
    print("publish: " + text, file=sys.stderr)
    return 1


def _read(path: str) -> str:
    with open(path, "r", encoding="ascii", errors="replace", newline="") as source:
        return source.read()


def _version(text: str) -> int:
    """144 or 1.44 (two decimals) both mean version 1.44."""
    whole, dot, decimals = text.partition(".")
    if whole.isdigit() and (not dot or (len(decimals) == 2 and decimals.isdigit())):
        value = int(whole) * (100 if dot else 1) + (int(decimals) if dot else 0)
        if value <= formats.INT32_MAX:
            return value
    raise argparse.ArgumentTypeError("%r is not a version: give 144 or 1.44" % text)


def _size(text: str) -> int:
    if text.isdigit():
        return int(text)
    raise argparse.ArgumentTypeError("%r is not a number of bytes" % text)


def keygen(args) -> int:
    for path in (args.private_key, args.public_key):
        if os.path.lexists(path):
            return _fail("%s already exists; a new key pair never replaces one (move the old files away "
                         "first if you really mean to change keys)" % path)
    for path in (args.private_key, args.public_key):
        folder = os.path.dirname(os.path.abspath(path))
        if not os.path.isdir(folder):
            return _fail("the folder %s does not exist" % folder)
    print("generating an RSA-2048 key pair...")
    key = keys.generate_private_key()
    # The private half is created readable by its owner only; on Windows that is up to the folder.
    flags = os.O_WRONLY | os.O_CREAT | os.O_EXCL | getattr(os, "O_BINARY", 0)
    handle = os.open(args.private_key, flags, 0o600)
    with os.fdopen(handle, "wb") as private:
        private.write(key.pem().encode("ascii"))
    with open(args.public_key, "xb") as public:
        public.write(key.public().pem().encode("ascii"))
    print("private key: %s\npublic key:  %s (fingerprint %s)\n" % (
        args.private_key, args.public_key, key.public().fingerprint()))
    print(PRIVATE_KEY_WARNING % os.path.abspath(args.public_key))
    return 0


def _load_private(args) -> keys.PrivateKey:
    if args.private_key_env:
        text = os.environ.get(args.private_key_env)
        if not text:
            raise keys.KeyFileError("the environment variable %s is empty" % args.private_key_env)
        return keys.load_private_key(text)
    return keys.load_private_key(_read(args.private_key))


def build(args) -> int:
    try:
        key = _load_private(args)
        if args.public_key:
            public = keys.load_public_key(_read(args.public_key))
            if public.n != key.n:
                return _fail("the private key does not belong to the public key %s (the launcher would "
                             "refuse every signature)" % args.public_key)
    except (OSError, keys.KeyFileError) as error:
        return _fail("the private key cannot be used: %s" % error)
    options = release.Options(
        source=args.source, out=args.out, version=args.version, key=key,
        display_version=args.display_version, launcher=args.launcher, launcher_version=args.launcher_version,
        news_v2=args.news_v2, news=args.news,
        bundle_max_size=args.bundle_max_size, bundle_min_files=0 if args.no_bundle else args.bundle_min_files,
        update_servers=args.update_servers, excludes=args.exclude, force=args.force,
        change_key=args.change_key)
    try:
        result = release.build(options)
    except release.Refused as refused:
        print("publish: refused, nothing was written:", file=sys.stderr)
        for reason in refused.reasons:
            print("  " + reason, file=sys.stderr)
        return 1
    except (OSError, RuntimeError) as error:
        return _fail("the build stopped and published nothing: %s" % error)
    bundle = ("a bundle of %d small files (%d bytes)" % (result.bundle_files, result.pack_size)
              if result.pack else "no bundle")
    shared = ("; %d objects are hard links to release %d's" % (result.shared, result.previous_release)
              if result.shared else "")
    print("published release %d (%s) in %s: %d files, %d bytes, %d compressed; %s%s; signed with key %s"
          % (result.version, formats.format_version(result.version), args.out, result.files, result.bytes,
             result.packed_bytes, bundle, shared, key.public().fingerprint()))
    return 0


def verify_command(args) -> int:
    try:
        key = keys.load_public_key(_read(args.public_key))
        problem = keys.public_key_text_problem(_read(args.public_key))
        if problem:
            print("note: the public key file is not in the form the launcher build takes: " + problem)
        if os.path.isdir(args.base):
            source = verify.FolderSource(args.base)
        else:
            source = verify.HttpsSource(args.base, args.ca_file, args.timeout)
    except (OSError, ValueError, keys.KeyFileError) as error:
        return _fail(str(error))
    print("checking %s with key %s" % (source.label, key.fingerprint()))
    report = verify.verify(source, key, args.jobs, release=args.release)
    for line in report.summary:
        print("  " + line)
    for warning in report.warnings:
        print("warning: " + warning)
    if report.problems:
        print("%d problem%s:" % (len(report.problems), "s" if len(report.problems) > 1 else ""))
        for problem in sorted(report.problems):
            print("  " + problem)
        return 1
    print("no problems found")
    return 0


def upload_command(args) -> int:
    try:
        key = keys.load_public_key(_read(args.public_key))
    except (OSError, keys.KeyFileError) as error:
        return _fail("the public key cannot be used: %s" % error)
    try:
        upload.upload(args.folder, args.remote, key, upload.Rclone(args.rclone, args.rclone_config),
                      args.force)
    except upload.UploadError as error:
        return _fail(str(error))
    print("uploaded %s to %s, latest.txt last" % (args.folder, args.remote))
    return 0


def parser() -> argparse.ArgumentParser:
    top = argparse.ArgumentParser(description="Publishes releases of the Varnhold "
                                  "modification for the launcher. See tools/publish/README.md.")
    commands = top.add_subparsers(dest="command", required=True, metavar="keygen|build|verify|upload")

    command = commands.add_parser("keygen", help="make the update-signing key pair")
    command.add_argument("--private-key", required=True, metavar="FILE", help="private key to write (PEM)")
    command.add_argument("--public-key", required=True, metavar="FILE",
                         help="public key to write, in the 451-character form the launcher build takes")

    command = commands.add_parser("build", help="publish a release of a folder of game files")
    command.add_argument("--source", required=True, metavar="DIR",
                         help="the game files as they lie in the game folder (mss32.dll, Scripts/...)")
    command.add_argument("--out", required=True, metavar="DIR",
                         help="the branch folder on the server, e.g. www/patch/lurra")
    command.add_argument("--version", required=True, type=_version, help="the release: 144 or 1.44")
    private_keys = command.add_mutually_exclusive_group(required=True)
    private_keys.add_argument("--private-key", metavar="FILE", help="the update-signing private key (PEM)")
    private_keys.add_argument("--private-key-env", metavar="VAR",
                              help="an environment variable holding that key's PEM text (CI secrets)")
    command.add_argument("--public-key", metavar="FILE",
                         help="refuse to sign unless the private key belongs to this public key")
    command.add_argument("--display-version", metavar="TEXT", help="the version text the launcher shows")
    command.add_argument("--launcher", metavar="EXE", help="a launcher executable to publish")
    command.add_argument("--launcher-version", type=_version, metavar="N", help="its version (117 or 1.17)")
    command.add_argument("--news-v2", metavar="FILE", help="news in the sectioned format ([news] items)")
    command.add_argument("--news", metavar="FILE", help="news in the older four-line format")
    command.add_argument("--bundle-max-size", type=_size, default=release.DEFAULT_BUNDLE_MAX_SIZE,
                         metavar="BYTES", help="files up to this size go into the small-files bundle "
                         "(default %(default)s)")
    command.add_argument("--bundle-min-files", type=_size, default=formats.BUNDLE_MIN_FILES, metavar="N",
                         help="publish a bundle only when it holds at least N files (default %(default)s)")
    command.add_argument("--no-bundle", action="store_true", help="publish no bundle")
    command.add_argument("--update-servers", type=_size, default=2, metavar="N",
                         help="the update_servers value of latest.txt, which no launcher uses (default "
                         "%(default)s; leave it)")
    command.add_argument("--exclude", action="append", default=[], metavar="PATTERN",
                         help="leave out files or folders whose name or path matches (e.g. .git, '*.bak')")
    command.add_argument("--force", action="store_true",
                         help="publish even when the version is not above the one published now")
    command.add_argument("--change-key", action="store_true",
                         help="sign with a key other than the one the branch's releases are signed with, "
                         "and remember it for the next builds (only during a change of keys)")

    command = commands.add_parser("verify", help="check a published branch as launchers will read it")
    command.add_argument("--base", required=True, metavar="URL",
                         help="the branch's address (https://updates.example.org/patch/lurra) or folder")
    command.add_argument("--public-key", required=True, metavar="FILE",
                         help="the public key the launcher embeds")
    command.add_argument("--ca-file", metavar="PEM",
                         help="trust this CA instead of the system's (test servers)")
    command.add_argument("--release", type=_version, metavar="N",
                         help="check release N (145 or 1.45) instead of the one latest.txt names: one "
                         "uploaded but not switched to yet, or an older one")
    command.add_argument("--jobs", type=_size, default=4, metavar="N", help="parallel downloads (default 4)")
    command.add_argument("--timeout", type=float, default=60.0, metavar="SECONDS")

    command = commands.add_parser("upload", help="upload a built branch folder with rclone, latest.txt last")
    command.add_argument("--folder", required=True, metavar="DIR",
                         help="the branch folder that build wrote, e.g. www/patch/lurra")
    command.add_argument("--remote", required=True, metavar="REMOTE:PATH",
                         help="the same folder on the server as rclone names it, e.g. host:www/patch/lurra")
    command.add_argument("--public-key", required=True, metavar="FILE",
                         help="the key the launcher embeds: the folder must pass verify with it first")
    command.add_argument("--rclone", default="rclone", metavar="PROGRAM", help="rclone (default: from PATH)")
    command.add_argument("--rclone-config", metavar="FILE", help="rclone's configuration file")
    command.add_argument("--force", action="store_true",
                         help="upload even when the server announces a newer or another same release")
    return top


def main(argv: Optional[List[str]] = None) -> int:
    # Paths in messages may hold any letter; a Windows console must not fail on them.
    for stream in (sys.stdout, sys.stderr):
        if hasattr(stream, "reconfigure"):
            stream.reconfigure(errors="backslashreplace")
    args = parser().parse_args(argv)
    commands = {"keygen": keygen, "build": build, "verify": verify_command, "upload": upload_command}
    return commands[args.command](args)
