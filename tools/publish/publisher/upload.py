"""Uploading a built branch folder with rclone, in an order that keeps every served state whole.

A launcher reads latest.txt first and follows it, so what it names must be on the server before
it is named: the objects (the gzip copies and bundles, named by their SHA-256) go first, then each
release's manifest and its signature, the launcher executable, the news pairs, and latest.sig with
latest.txt last. Each step is one rclone run that ends before the next begins. Nothing is ever
deleted: a player who read the previous descriptor a moment ago is still fetching its release, and
earlier releases stay where their descriptors put them.

The branch folder must pass the same checks as `verify` with the signing key before the first byte
leaves, and a server that announces a newer release is not switched back without --force.
"""

import os
import subprocess
from typing import Callable, Optional

from . import formats, verify
from .keys import PublicKey

NEWS_FILES = ("news_v2.txt", "news_v2.sig", "news.txt", "news.sig")
# rclone's exit code for a folder that does not exist (nothing published there yet).
RCLONE_DIRECTORY_NOT_FOUND = 3


class UploadError(Exception):
    """The upload was refused or stopped; the message says why and what the server serves now."""


class Rclone:
    def __init__(self, program: str = "rclone", config: Optional[str] = None):
        self.program = program
        self.config = config

    def run(self, *arguments: str) -> subprocess.CompletedProcess:
        command = [self.program] + (["--config", self.config] if self.config else []) + list(arguments)
        try:
            return subprocess.run(command, capture_output=True)
        except OSError as error:
            raise UploadError("rclone cannot be started (%s): install it (Debian: apt install rclone; "
                              "https://rclone.org/downloads/) or give --rclone PATH" % error) from None

    def must(self, what: str, *arguments: str) -> None:
        result = self.run(*arguments)
        if result.returncode != 0:
            raise UploadError("uploading %s failed (rclone exit code %d):\n%s"
                              % (what, result.returncode, result.stderr.decode("utf-8", "replace").strip()))


def _join(remote: str, name: str) -> str:
    """remote:folder/name, or remote:name for the remote's top."""
    return remote + name if remote.endswith(":") else remote.rstrip("/") + "/" + name


def remote_descriptor(rclone: Rclone, remote: str) -> Optional[bytes]:
    """The latest.txt the remote serves now, or None when it has none."""
    result = rclone.run("cat", _join(remote, "latest.txt"))
    if result.returncode == 0:
        return result.stdout
    listing = rclone.run("lsf", "--files-only", "--max-depth", "1", remote)
    if listing.returncode == RCLONE_DIRECTORY_NOT_FOUND or (
            listing.returncode == 0 and b"latest.txt" not in listing.stdout.splitlines()):
        return None
    raise UploadError("the remote's latest.txt cannot be read (rclone exit code %d):\n%s" % (
        result.returncode, result.stderr.decode("utf-8", "replace").strip()))


def _refuse_going_back(local: bytes, remote: Optional[bytes], force: bool) -> None:
    if remote is None or remote == local or force:
        return
    try:
        served = formats.parse_ini_root(remote)
    except formats.IniError:
        raise UploadError("the remote's latest.txt is not readable INI text; --force replaces it") from None
    ours = formats.parse_ini_root(local)
    for key in ("game_version", "launcher_version"):
        if formats.read_c_int(ours.get(key, "")) < formats.read_c_int(served.get(key, "")):
            raise UploadError("the remote announces %s %s, above this folder's %s: it holds a newer release "
                              "(--force uploads anyway)" % (key, served.get(key), ours.get(key, "0")))
    if formats.read_c_int(ours.get("game_version", "")) == formats.read_c_int(served.get("game_version", "")):
        raise UploadError("the remote announces release %s with another latest.txt; --force replaces it "
                          "(a release published again)" % served.get("game_version"))


def upload(folder: str, remote: str, key: PublicKey, rclone: Rclone, force: bool = False,
           log: Callable[[str], None] = print) -> None:
    report = verify.verify(verify.FolderSource(folder), key)
    if report.problems:
        raise UploadError("the branch folder %s does not pass its check, nothing was uploaded:\n  %s"
                          % (folder, "\n  ".join(sorted(report.problems))))
    with open(os.path.join(folder, "latest.txt"), "rb") as descriptor:
        local = descriptor.read()
    _refuse_going_back(local, remote_descriptor(rclone, remote), force)

    # The release latest.txt names; earlier ones are on the server from their own uploads.
    release = str(formats.read_c_int(formats.parse_ini_root(local).get("game_version", "")))
    # An object's name is its content's hash: one of the same name and size is the same file. The
    # other files may keep their size from one release to the next: they are always sent.
    steps = [("the objects of release " + release,
              ["copy", "--size-only", "--include", "/%s/files/*.gz" % release, folder, remote])]
    for name in [release + "/checksums.txt", release + "/checksums.sig", "latest_launcher.exe", *NEWS_FILES,
                 "latest.sig", "latest.txt"]:
        local_path = os.path.join(folder, *name.split("/"))
        if os.path.isfile(local_path):
            steps.append((name, ["copyto", "--ignore-times", local_path, _join(remote, name)]))
    for what, arguments in steps:
        log("uploading %s" % what)
        try:
            rclone.must(what, *arguments)
        except UploadError as error:
            if what == "latest.txt":
                state = ("latest.sig is already the new one: launchers refuse this server (and use the other) "
                         "until the upload is run again")
            else:
                state = "latest.txt still names the previous release; run the upload again"
            raise UploadError("%s\n%s" % (error, state)) from None
