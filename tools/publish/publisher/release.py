"""Building a release into a branch folder.

Everything the build could refuse is decided before the first byte is written. The release is then
written into a staging folder inside the branch folder, checked there as `verify` would check it,
and moved into place; the descriptor pair latest.txt / latest.sig is switched last, so a server
never announces a release that is not completely there.
"""

import contextlib
import dataclasses
import fnmatch
import hashlib
import os
import shutil
import stat
import time
from typing import Callable, Dict, Iterator, List, Optional, Tuple

from . import formats, keys, verify
from .keys import PrivateKey

STAGING = ".publish-staging"
LOCK = ".publish.lock"
# The public key that signs the branch's releases, written by the branch's first build. Like every
# name beginning with ".", never part of a release: upload does not send it, launchers never ask
# for it (and it holds nothing secret).
KEY_MEMORY = ".publish-key.pem"
DEFAULT_BUNDLE_MAX_SIZE = 65536


class Refused(Exception):
    """The build was refused before anything was written; `reasons` lists every cause."""

    def __init__(self, reasons: List[str]):
        super().__init__("\n".join(reasons))
        self.reasons = reasons


@dataclasses.dataclass
class Options:
    source: str                     # folder of game files, laid out as in the game folder
    out: str                        # branch folder on the server (the one holding latest.txt)
    version: int                    # game_version, in hundredths; also the release folder's name
    key: PrivateKey
    display_version: Optional[str] = None
    launcher: Optional[str] = None  # executable published as latest_launcher.exe
    launcher_version: Optional[int] = None
    news_v2: Optional[str] = None
    news: Optional[str] = None
    bundle_max_size: Optional[int] = DEFAULT_BUNDLE_MAX_SIZE  # None: every file
    bundle_min_files: int = formats.BUNDLE_MIN_FILES  # 0: never a bundle
    bundle_paths: Optional[List[str]] = None  # exactly these files, in this order (tests)
    update_servers: int = 2
    excludes: List[str] = dataclasses.field(default_factory=list)
    force: bool = False
    change_key: bool = False        # sign with a key other than the branch's (a key change)


@dataclasses.dataclass
class SourceFile:
    path: str   # manifest path
    full: str   # where it is read from
    size: int


@dataclasses.dataclass
class Result:
    version: int
    files: int
    bytes: int
    packed_bytes: int
    bundle_files: int
    pack: str
    pack_size: int
    descriptor: bytes
    manifest: bytes
    notes: List[str]
    shared: int = 0                 # objects that are hard links to the previous release's
    previous_release: int = 0


# --- checks before writing -------------------------------------------------------------------------

def _excluded(relative: str, patterns: List[str]) -> bool:
    name = relative.rsplit("/", 1)[-1]
    return any(fnmatch.fnmatchcase(name, p) or fnmatch.fnmatchcase(relative, p) for p in patterns)


def collect_source(source: str, excludes: List[str], reasons: List[str]) -> List[SourceFile]:
    """The files below `source` in the order of their UTF-8 bytes, the manifest's order."""
    found: List[SourceFile] = []
    if not os.path.isdir(source):
        reasons.append("the source folder %s does not exist" % source)
        return found
    for parent, folders, names in os.walk(source, onerror=lambda e: reasons.append(
            "cannot read %s: %s" % (e.filename, e.strerror))):
        relative_parent = os.path.relpath(parent, source).replace(os.sep, "/")
        relative_parent = "" if relative_parent == "." else relative_parent + "/"
        for name in list(folders):
            full = os.path.join(parent, name)
            if _excluded(relative_parent + name, excludes):
                folders.remove(name)
            elif os.path.islink(full):
                folders.remove(name)
                reasons.append("%s%s: is a link to a folder; publish a copy instead" % (
                    relative_parent, name))
        for name in names:
            relative = relative_parent + name
            if _excluded(relative, excludes):
                continue
            full = os.path.join(parent, name)
            try:
                info = os.stat(full)
            except OSError as error:
                reasons.append("%s: cannot be read (%s)" % (relative, error.strerror))
                continue
            if not stat.S_ISREG(info.st_mode):
                reasons.append("%s: is not a regular file" % relative)
                continue
            found.append(SourceFile(relative, full, info.st_size))
    found.sort(key=lambda f: f.path.encode("utf-8", "surrogateescape"))
    return found


def path_reasons(paths: List[str]) -> List[str]:
    """Every reason a set of manifest paths is refused, one line each."""
    reasons = []
    for path in paths:
        problem = formats.launcher_path_problem(path) or formats.windows_path_problem(path)
        if problem:
            reasons.append("%s: %s" % (_printable(path), problem))
    reasons += ["%s: %s" % (_printable(path), problem) for path, problem in formats.path_set_problems(paths)]
    return reasons


def _printable(path: str) -> str:
    """The path as a message shows it: quoted with escapes when it holds what a terminal cannot show."""
    if path and all(ord(c) >= 0x20 and not 0xD800 <= ord(c) <= 0xDFFF for c in path):
        return path
    return ascii(path)


def published_descriptor(out: str) -> Tuple[Optional[Dict[str, str]], Optional[str]]:
    """The branch's current latest.txt as the launcher reads it, or why it cannot be read."""
    path = os.path.join(out, "latest.txt")
    if not os.path.exists(path):
        return None, None
    try:
        with open(path, "rb") as descriptor:
            return formats.parse_ini_root(descriptor.read()), None
    except (OSError, formats.IniError) as error:
        return None, "the published latest.txt cannot be read (%s)" % error


def _read_text_file(path: str, what: str, reasons: List[str]) -> Optional[bytes]:
    try:
        with open(path, "rb") as source:
            return source.read()
    except OSError as error:
        reasons.append("%s %s cannot be read (%s)" % (what, path, error.strerror))
        return None


def check_news(path: str, name: str, reasons: List[str], notes: List[str]) -> Optional[bytes]:
    data = _read_text_file(path, "the news file", reasons)
    if data is None:
        return None
    if data.startswith(b"\xef\xbb\xbf"):
        # The mark would become part of the first line, and the launcher would no longer see the
        # "[news]" line: the file would be read in the other format.
        data = data[3:]
        notes.append("%s: removed the UTF-8 byte-order mark at its start" % name)
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError as error:
        reasons.append("the news file %s is not UTF-8 text (byte %d)" % (path, error.start))
        return None
    russian, english, warnings = formats.news_warnings(text)
    notes += ["%s: %s" % (name, warning) for warning in warnings]
    if text.strip() and russian == 0 and english == 0:
        notes.append("%s: shows no news item in either language" % name)
    return data


def plan(options: Options) -> Tuple[List[SourceFile], Dict[str, object], List[str]]:
    """Checks every input. Returns the files, the settled inputs and notes, or raises Refused."""
    reasons: List[str] = []
    notes: List[str] = []
    settled: Dict[str, object] = {}
    if not 1 <= options.version <= formats.INT32_MAX:
        reasons.append("the version must be a whole number from 1 (in hundredths: 144 is 1.44)")
    files = collect_source(options.source, options.excludes, reasons)
    if os.path.isdir(options.source) and not files:
        reasons.append("the source folder %s holds no file to publish" % options.source)
    reasons += path_reasons([f.path for f in files])
    for f in files:
        if f.size > formats.INT32_MAX - 1024:
            reasons.append("%s: is %d bytes; the launcher handles files below 2 GiB" % (f.path, f.size))
    if options.out and os.path.exists(options.out) and not os.path.isdir(options.out):
        reasons.append("the output %s is not a folder" % options.out)
    source, out = os.path.realpath(options.source), os.path.realpath(options.out or ".")
    if os.path.commonpath([source, out]) in (source, out):
        reasons.append("the source folder and the branch folder must lie apart, not one inside the other")

    previous, problem = published_descriptor(options.out)
    settled["previous"] = previous
    if problem and not options.force:
        reasons.append(problem + "; --force publishes over it")
    if previous is not None:
        last = formats.read_c_int(previous.get("game_version", ""))
        if options.version <= last and not options.force:
            reasons.append("version %d is not above %d, the version published now (--force publishes "
                           "it anyway)" % (options.version, last))

    _plan_key(options, previous, reasons, notes, settled)

    if options.display_version is not None:
        problem = formats.descriptor_value_problem(options.display_version)
        if problem:
            reasons.append("the display version %r %s" % (options.display_version, problem))

    _plan_launcher(options, previous, reasons, notes, settled)
    for path, name in ((options.news_v2, "news_v2.txt"), (options.news, "news.txt")):
        if path is not None:
            settled[name] = check_news(path, name, reasons, notes)
    if options.bundle_paths is not None:
        known = {f.path for f in files}
        reasons += ["the bundle names %s, which is not a file of the release" % p
                    for p in options.bundle_paths if p not in known]
    if reasons:
        raise Refused(reasons)
    return files, settled, notes


def _plan_key(options: Options, previous: Optional[Dict[str, str]], reasons: List[str], notes: List[str],
              settled: Dict[str, object]) -> None:
    """Every release of a branch is signed with the one key its players' launchers trust. The branch
    folder remembers it from its first build; a folder published before it did is judged by the key
    that signed its latest.txt. Signing with another key is refused unless a key change is asked for:
    a release signed with the wrong key, once switched, makes every launcher refuse the server."""
    given = options.key.public()
    path = os.path.join(options.out, KEY_MEMORY)
    settled["remember_key"] = None
    branch_key = None  # fingerprint of the branch's key, "" when only known not to be the given one
    if os.path.lexists(path):
        try:
            with open(path, "r", encoding="ascii", errors="replace") as memory:
                remembered = keys.load_public_key(memory.read())
        except (OSError, keys.KeyFileError) as error:
            reasons.append("%s, which holds the public key of the branch's releases, cannot be read (%s)"
                           % (path, error))
            return
        if remembered.n != given.n:
            branch_key = remembered.fingerprint()
    elif previous is not None:
        text = _read_text_file(os.path.join(options.out, "latest.txt"), "the published latest.txt", [])
        signature = _read_text_file(os.path.join(options.out, "latest.sig"), "latest.sig", [])
        if text is None or signature is None or not given.verify(text, signature):
            branch_key = ""
    if branch_key is None:
        if not os.path.lexists(path):
            settled["remember_key"] = given.pem()
        return
    known = ("key %s, remembered in %s" % (branch_key, path) if branch_key else
             "the key that signed its published latest.txt")
    if options.change_key:
        notes.append("the branch changes from %s to key %s: only launchers that trust the new key take "
                     "this release" % (known, given.fingerprint()))
        settled["remember_key"] = given.pem()
        return
    reasons.append("the private key (key %s) does not belong to the key this branch's releases are signed "
                   "with (%s): every player's launcher would refuse this release. Sign with that key's "
                   "private half; only during a change of keys, --change-key signs with the new one"
                   % (given.fingerprint(), known))


def _plan_launcher(options: Options, previous: Optional[Dict[str, str]], reasons: List[str],
                   notes: List[str], settled: Dict[str, object]) -> None:
    previous_version = formats.read_c_int((previous or {}).get("launcher_version", ""))
    if options.launcher is None:
        if options.launcher_version is not None:
            reasons.append("--launcher-version needs --launcher, the executable to publish")
            return
        published = os.path.join(options.out, "latest_launcher.exe")
        checksum = (previous or {}).get("launcher_checksum", "")
        if checksum and previous_version > formats.RUNNING_LAUNCHER_VERSION:
            # A game release keeps announcing the launcher published earlier.
            data = _read_text_file(published, "the published launcher", reasons)
            if data is not None and formats.sha256_hex(data) != checksum:
                reasons.append("the published latest_launcher.exe does not match the launcher_checksum "
                               "of latest.txt; publish the launcher again with --launcher")
            elif data is not None:
                settled["launcher"] = (None, previous_version, checksum, len(data))
        return
    if options.launcher_version is None:
        reasons.append("--launcher needs --launcher-version, the version of that executable (117 is 1.17)")
        return
    data = _read_text_file(options.launcher, "the launcher", reasons)
    if data is None:
        return
    if not data.startswith(b"MZ"):
        reasons.append("the launcher %s is not a Windows program" % options.launcher)
    if len(data) > formats.INT32_MAX:
        reasons.append("the launcher %s is too large" % options.launcher)
    if options.launcher_version < previous_version and not options.force:
        reasons.append("launcher version %d is below %d, the launcher published now (--force publishes "
                       "it anyway)" % (options.launcher_version, previous_version))
    if options.launcher_version <= formats.RUNNING_LAUNCHER_VERSION:
        notes.append("launcher version %d is not above %d: launchers %s never install it"
                     % (options.launcher_version, formats.RUNNING_LAUNCHER_VERSION,
                        formats.format_version(formats.RUNNING_LAUNCHER_VERSION)))
    settled["launcher"] = (data, options.launcher_version, formats.sha256_hex(data), len(data))


# --- writing ---------------------------------------------------------------------------------------

@contextlib.contextmanager
def _branch_lock(out: str) -> Iterator[None]:
    """Only one build at a time per branch folder. The lock goes with the process, so a build that
    was killed leaves nothing that blocks the next one."""
    path = os.path.join(out, LOCK)
    handle = open(path, "a+b")
    try:
        try:
            if os.name == "nt":
                import msvcrt
                msvcrt.locking(handle.fileno(), msvcrt.LK_NBLCK, 1)
            else:
                import fcntl
                fcntl.flock(handle.fileno(), fcntl.LOCK_EX | fcntl.LOCK_NB)
        except OSError:
            raise Refused(["another build is publishing into %s right now" % out]) from None
        yield
    finally:
        handle.close()


def _remove_tree(path: str) -> None:
    def writable(function, name, _):
        os.chmod(name, stat.S_IWRITE)
        function(name)
    if os.path.lexists(path):
        shutil.rmtree(path, onerror=writable)


def _replace(source: str, target: str) -> None:
    # A web server or virus scanner on Windows may hold the target for a moment.
    for attempt in range(20):
        try:
            os.replace(source, target)
            return
        except PermissionError:
            if attempt == 19:
                raise
            time.sleep(0.1)


def _write(path: str, data: bytes) -> None:
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as target:
        target.write(data)


def _sign_into(folder: str, name: str, text: bytes, key: PrivateKey) -> None:
    _write(os.path.join(folder, name + ".txt"), text)
    _write(os.path.join(folder, name + ".sig"), key.sign(text))


def _store_object(files_dir: str, writer_source: Callable[[formats.GzipWriter], None]) -> formats.GzipWriter:
    """Writes one gzip copy under the name of its own SHA-256."""
    temporary = os.path.join(files_dir, "object.tmp")
    with open(temporary, "wb") as out:
        writer = formats.GzipWriter(out)
        writer_source(writer)
        writer.close()
    final = os.path.join(files_dir, writer.sha256.hexdigest() + ".gz")
    os.replace(temporary, final)
    return writer


def link_object(earlier: str, target: str, size: int) -> bool:
    """Makes `target` a hard link to `earlier` when that is the same object (`size` bytes whose SHA-256
    is the name), so that releases which share a file share its disk space. False where it is not,
    and where the file system has no hard links: the caller then keeps or sends its own copy."""
    link = target + ".link"
    try:
        if os.path.getsize(earlier) != size or _sha256_file(earlier) + ".gz" != os.path.basename(target):
            return False
        os.link(earlier, link)
        os.replace(link, target)
        return True
    except OSError:
        with contextlib.suppress(OSError):
            os.remove(link)
        return False


def _share_object(earlier_files: Optional[str], files_dir: str, name: str) -> bool:
    """An object the previous release holds becomes a hard link to that file."""
    if earlier_files is None:
        return False
    final = os.path.join(files_dir, name)
    return link_object(os.path.join(earlier_files, name), final, os.path.getsize(final))


def _stage_release(files: List[SourceFile], options: Options, release_dir: str, earlier_files: Optional[str],
                   log: Callable[[str], None]) -> Tuple[List[formats.ManifestEntry], int, str, int, int]:
    """Objects, bundle and signed manifest of the release. Returns the entries, the number of
    files in the bundle, its `pack` and `pack_size` (0 files and "" without a bundle), and the
    number of objects shared with the release in `earlier_files`."""
    files_dir = os.path.join(release_dir, "files")
    os.makedirs(files_dir)
    shared = set()
    if options.bundle_paths is not None:
        chosen = set(options.bundle_paths)
    else:
        limit = options.bundle_max_size
        chosen = {f.path for f in files if limit is None or f.size <= limit}
    container_path = os.path.join(release_dir, "bundle.tmp")
    held: Dict[str, bytes] = {}  # contents kept for a bundle in a given order (tests only)
    entries: List[formats.ManifestEntry] = []
    with open(container_path, "wb") as container:
        for number, f in enumerate(files, 1):
            in_bundle = f.path in chosen
            pieces: List[bytes] = []

            def feed(writer: formats.GzipWriter) -> None:
                if in_bundle and options.bundle_paths is None:
                    container.write(formats.bundle_header(f.path, f.size))
                with open(f.full, "rb") as source:
                    for piece in formats.iter_chunks(source):
                        writer.write(piece)
                        if in_bundle and options.bundle_paths is None:
                            container.write(piece)
                        elif in_bundle:
                            pieces.append(piece)
            writer = _store_object(files_dir, feed)
            if writer.size != f.size:
                raise Refused(["%s changed while it was being published; run the build again" % f.path])
            if writer.packed_size > formats.INT32_MAX:
                raise Refused(["%s: its gzip copy passes 2 GiB, more than the launcher handles" % f.path])
            if in_bundle and options.bundle_paths is not None:
                held[f.path] = b"".join(pieces)
            name = writer.sha256.hexdigest() + ".gz"
            if _share_object(earlier_files, files_dir, name):
                shared.add(name)
            entries.append(formats.ManifestEntry(f.path, writer.size, writer.packed_size,
                                                 formats.crc32_text(writer.crc), writer.sha256.hexdigest()))
            if number % 500 == 0:
                log("  %d of %d files compressed" % (number, len(files)))
        for path in options.bundle_paths or []:
            container.write(formats.bundle_header(path, len(held[path])) + held[path])
    bundle_files = len(options.bundle_paths) if options.bundle_paths is not None else len(chosen)
    pack, pack_size = "", 0
    if options.bundle_min_files > 0 and bundle_files >= options.bundle_min_files:
        def feed_bundle(writer: formats.GzipWriter) -> None:
            with open(container_path, "rb") as source:
                for piece in formats.iter_chunks(source):
                    writer.write(piece)
        writer = _store_object(files_dir, feed_bundle)
        pack, pack_size = writer.sha256.hexdigest(), writer.packed_size
        if _share_object(earlier_files, files_dir, pack + ".gz"):
            shared.add(pack + ".gz")
    else:
        bundle_files = 0
    os.remove(container_path)
    _sign_into(release_dir, "checksums", formats.manifest_bytes(entries), options.key)
    return entries, bundle_files, pack, pack_size, len(shared)


def _descriptor(options: Options, settled: Dict[str, object], pack: str, pack_size: int) -> bytes:
    pairs = [("game_version", str(options.version))]
    launcher = settled.get("launcher")
    if launcher is not None:
        _, version, checksum, size = launcher
        pairs += [("launcher_version", str(version)), ("launcher_checksum", checksum),
                  ("launcher_size", str(size))]
    else:
        pairs.append(("launcher_version", str(formats.RUNNING_LAUNCHER_VERSION)))
    pairs.append(("update_servers", str(options.update_servers)))
    if pack:
        pairs += [("pack", pack), ("pack_size", str(pack_size))]
    if options.display_version is not None:
        pairs.append(("display_version", options.display_version))
    return formats.descriptor_bytes(pairs)


class _Switch:
    """Moves staged files into the branch and, should one step fail, puts every earlier one back,
    so the branch serves exactly what it served before."""

    def __init__(self, staging: str):
        self.staging = staging
        self.undo: List[Callable[[], None]] = []

    def put(self, source: str, target: str) -> None:
        backup = None
        if os.path.exists(target):
            backup = os.path.join(self.staging, "previous-%d" % len(self.undo))
            shutil.copyfile(target, backup)
        _replace(source, target)
        self.undo.append(lambda: _replace(backup, target) if backup else os.remove(target))

    def put_release(self, staged: str, target: str) -> None:
        """A new release folder moves in whole. One that is there already (published again with
        --force) keeps serving until its manifest pair is replaced: objects are named by their
        content, so the new ones go in beside the old ones first."""
        if not os.path.exists(target):
            os.rename(staged, target)
            self.undo.append(lambda: _remove_tree(target))
            return
        os.makedirs(os.path.join(target, "files"), exist_ok=True)
        for name in sorted(os.listdir(os.path.join(staged, "files"))):
            existing = os.path.join(target, "files", name)
            if os.path.isfile(existing) and _sha256_file(existing) + ".gz" == name:
                continue
            self.put(os.path.join(staged, "files", name), existing)
        for name in ("checksums.txt", "checksums.sig"):
            self.put(os.path.join(staged, name), os.path.join(target, name))

    def rollback(self) -> None:
        for action in reversed(self.undo):
            with contextlib.suppress(OSError):
                action()


def _sha256_file(path: str) -> str:
    digest = hashlib.sha256()
    with open(path, "rb") as source:
        for piece in formats.iter_chunks(source):
            digest.update(piece)
    return digest.hexdigest()


def build(options: Options, log: Callable[[str], None] = print) -> Result:
    files, settled, notes = plan(options)
    for note in notes:
        log("note: " + note)
    os.makedirs(options.out, exist_ok=True)
    with _branch_lock(options.out):
        # Another build may have switched the branch while this one was checking its inputs.
        previous, _ = published_descriptor(options.out)
        if previous != settled["previous"]:
            raise Refused(["latest.txt changed while the build was checking its inputs; run it again"])
        staging = os.path.join(options.out, STAGING)
        _remove_tree(staging)
        try:
            result = _stage_and_switch(files, settled, notes, options, staging, log)
        finally:
            _remove_tree(staging)
    return result


def _stage_and_switch(files: List[SourceFile], settled: Dict[str, object], notes: List[str],
                      options: Options, staging: str, log: Callable[[str], None]) -> Result:
    release_name = str(options.version)
    staged_release = os.path.join(staging, release_name)
    log("compressing %d files into %s" % (len(files), os.path.join(options.out, release_name)))
    previous_release = formats.read_c_int((settled["previous"] or {}).get("game_version", ""))
    earlier_files = os.path.join(options.out, str(previous_release), "files")
    if previous_release < 1 or not os.path.isdir(earlier_files):
        earlier_files = None
    entries, bundle_files, pack, pack_size, shared = _stage_release(files, options, staged_release,
                                                                     earlier_files, log)
    launcher = settled.get("launcher")
    if launcher is not None and launcher[0] is not None:
        _write(os.path.join(staging, "latest_launcher.exe"), launcher[0])
    for name in ("news_v2", "news"):
        data = settled.get(name + ".txt")
        if data is not None:
            _sign_into(staging, name, data, options.key)
    descriptor = _descriptor(options, settled, pack, pack_size)
    _sign_into(staging, "latest", descriptor, options.key)
    if settled["remember_key"] is not None:
        _write(os.path.join(staging, KEY_MEMORY), settled["remember_key"].encode("ascii"))

    # The staged tree must pass the same checks as a published one before anything is switched.
    report = verify.verify(verify.FolderSource(staging, options.out, ("latest_launcher.exe",)),
                           options.key.public(), release_only=True)
    if report.problems:
        raise RuntimeError("the staged release failed its own check:\n  " + "\n  ".join(report.problems))

    switch = _Switch(staging)
    target = os.path.join(options.out, release_name)
    try:
        switch.put_release(staged_release, target)
        if launcher is not None and launcher[0] is not None:
            name = "latest_launcher.exe"
            switch.put(os.path.join(staging, name), os.path.join(options.out, name))
        if settled["remember_key"] is not None:
            switch.put(os.path.join(staging, KEY_MEMORY), os.path.join(options.out, KEY_MEMORY))
        for name in [n for n in ("news_v2", "news") if settled.get(n + ".txt") is not None] + ["latest"]:
            for suffix in (".txt", ".sig"):
                switch.put(os.path.join(staging, name + suffix), os.path.join(options.out, name + suffix))
    except BaseException:
        switch.rollback()
        raise
    # Objects of an earlier build of the same release go once nothing announces them any more.
    keep = {entry.sha256 + ".gz" for entry in entries} | ({pack + ".gz"} if pack else set())
    for name in os.listdir(os.path.join(target, "files")):
        if name not in keep:
            with contextlib.suppress(OSError):
                os.remove(os.path.join(target, "files", name))
    return Result(options.version, len(entries), sum(e.size for e in entries),
                  sum(e.packed_size for e in entries), bundle_files, pack, pack_size, descriptor,
                  formats.manifest_bytes(entries), notes, shared if earlier_files else 0,
                  previous_release if earlier_files else 0)
