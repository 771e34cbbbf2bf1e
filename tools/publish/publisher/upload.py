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

import contextlib
import json
import os
import subprocess
from typing import Callable, Optional

from . import formats, release as releases, verify
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

    def must(self, what: str, *arguments: str) -> subprocess.CompletedProcess:
        result = self.run(*arguments)
        if result.returncode != 0:
            # Without the line of each file that did arrive.
            lines = [line for line in result.stderr.decode("utf-8", "replace").splitlines()
                     if ": Copied (" not in line]
            raise UploadError("uploading %s failed (rclone exit code %d):\n%s"
                              % (what, result.returncode, "\n".join(lines).strip()))
        return result

    def features(self, remote: str) -> dict:
        """What the remote's storage can do ("Features": {"Copy": ...}, "Root"), or {} when unknown."""
        result = self.run("backend", "features", remote)
        try:
            return json.loads(result.stdout) if result.returncode == 0 else {}
        except ValueError:
            return {}


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


def _link_on_local_remote(folder: str, release: str, root: str, earlier: str) -> int:
    """On a remote that is a folder of this machine, the objects that the earlier release there
    holds become hard links to those files. Returns how many."""
    source, target = os.path.join(folder, release, "files"), os.path.join(root, release, "files")
    before = os.path.join(root, earlier, "files")
    if not os.path.isdir(before):
        return 0
    linked = 0
    for name in sorted(os.listdir(source)):
        size = os.path.getsize(os.path.join(source, name))
        there = os.path.join(target, name)
        if not (os.path.isfile(there) and os.path.getsize(there) == size):
            os.makedirs(target, exist_ok=True)
            linked += releases.link_object(os.path.join(before, name), there, size)
    return linked


def _objects_step(folder: str, remote: str, release: str, earlier: Optional[str], rclone: Rclone,
                  log: Callable[[str], None]) -> list:
    """The rclone arguments that send the release's objects. An object's name is its content's hash:
    one of the same name and size is the same file, on the server already (the upload of a stopped
    run) or in the release the server announces now, from which the server copies it itself where
    its storage can (S3-compatible stores, WebDAV and many others)."""
    arguments = ["copy", "-v", "--size-only"]
    if earlier is not None:
        features = rclone.features(remote)
        if features.get("Features", {}).get("Copy"):
            log("the objects that release %s on the server holds are copied there by the server" % earlier)
            return arguments + ["--copy-dest", _join(remote, earlier + "/files"),
                                os.path.join(folder, release, "files"), _join(remote, release + "/files")]
        if features.get("Features", {}).get("IsLocal") and features.get("Root"):
            try:
                linked = _link_on_local_remote(folder, release, features["Root"], earlier)
            except OSError as error:
                raise UploadError("the remote folder %s cannot be written: %s" % (features["Root"], error))
            log("%d objects are hard links to release %s's in the remote folder" % (linked, earlier))
    return arguments + ["--include", "/%s/files/*.gz" % release, folder, remote]


def upload(folder: str, remote: str, key: PublicKey, rclone: Rclone, force: bool = False,
           log: Callable[[str], None] = print) -> None:
    report = verify.verify(verify.FolderSource(folder), key)
    if report.problems:
        raise UploadError("the branch folder %s does not pass its check, nothing was uploaded:\n  %s"
                          % (folder, "\n  ".join(sorted(report.problems))))
    with open(os.path.join(folder, "latest.txt"), "rb") as descriptor:
        local = descriptor.read()
    served = remote_descriptor(rclone, remote)
    _refuse_going_back(local, served, force)

    # The release latest.txt names; earlier ones are on the server from their own uploads.
    release = str(formats.read_c_int(formats.parse_ini_root(local).get("game_version", "")))
    earlier = None
    if served is not None:
        # Whatever the server announces is there whole: its latest.txt was uploaded last.
        with contextlib.suppress(formats.IniError):
            announced = formats.read_c_int(formats.parse_ini_root(served).get("game_version", ""))
            earlier = str(announced) if 0 < announced and str(announced) != release else None
    # The other files may keep their size from one release to the next: they are always sent.
    objects = _objects_step(folder, remote, release, earlier, rclone, log)
    steps = [("the objects of release " + release, objects)]
    for name in [release + "/checksums.txt", release + "/checksums.sig", "latest_launcher.exe", *NEWS_FILES,
                 "latest.sig", "latest.txt"]:
        local_path = os.path.join(folder, *name.split("/"))
        if os.path.isfile(local_path):
            steps.append((name, ["copyto", "--ignore-times", local_path, _join(remote, name)]))
    for what, arguments in steps:
        log("uploading %s" % what)
        try:
            result = rclone.must(what, *arguments)
        except UploadError as error:
            if what == "latest.txt":
                state = ("latest.sig is already the new one: launchers refuse this server (and use the other) "
                         "until the upload is run again")
            else:
                state = "latest.txt still names the previous release; run the upload again"
            raise UploadError("%s\n%s" % (error, state)) from None
        if arguments is objects:
            text = result.stderr.decode("utf-8", "replace")
            copied = text.count("Copied (server-side copy)")
            log("  %d objects sent, %d copied by the server" % (text.count(": Copied (") - copied, copied))
