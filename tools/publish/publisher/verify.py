"""Checking a published branch the way launchers will read it.

Fetches the branch over HTTPS (or reads a folder), checks every signature with the public key the
launcher embeds, every object's name, size and gzip stream, the unpacked sizes and CRC-32 against
the manifest, and the bundle's records. Everything found goes into one report.
"""

import concurrent.futures
import dataclasses
import hashlib
import http.client
import os
import ssl
import tempfile
import threading
import urllib.parse
from typing import Callable, Dict, List, Optional, Tuple

from . import formats
from .keys import PublicKey


class FetchError(Exception):
    pass


class FolderSource:
    """A branch folder on disk. Names listed in `fallback_names` that the folder lacks are read
    from `fallback` (a build checks its staging folder with the files it leaves in place)."""

    def __init__(self, root: str, fallback: Optional[str] = None, fallback_names: Tuple[str, ...] = ()):
        self.root = root
        self.fallback = fallback
        self.fallback_names = fallback_names
        self.label = root

    def fetch(self, path: str, consume: Optional[Callable[[bytes], None]] = None) -> Tuple[int, bytes]:
        full = os.path.join(self.root, *path.split("/"))
        if not os.path.isfile(full) and self.fallback and path in self.fallback_names:
            full = os.path.join(self.fallback, *path.split("/"))
        if not os.path.isfile(full):
            return 404, b""
        try:
            with open(full, "rb") as source:
                if consume is None:
                    return 200, source.read()
                for piece in formats.iter_chunks(source):
                    consume(piece)
                return 200, b""
        except OSError as error:
            raise FetchError(str(error)) from None


class HttpsSource:
    """A branch base address such as https://updates.example.org/patch/lurra. Each thread keeps
    one keep-alive connection."""

    def __init__(self, base: str, ca_file: Optional[str] = None, timeout: float = 60.0):
        parts = urllib.parse.urlsplit(base)
        if parts.scheme != "https" or not parts.hostname:
            raise ValueError("the base address must begin with https:// (the launcher speaks only HTTPS)")
        self.host = parts.hostname
        self.port = parts.port or 443
        self.prefix = parts.path.rstrip("/")
        self.label = base.rstrip("/")
        self.timeout = timeout
        self.context = ssl.create_default_context(cafile=ca_file)
        self.local = threading.local()

    def _connection(self) -> http.client.HTTPSConnection:
        connection = getattr(self.local, "connection", None)
        if connection is None:
            connection = http.client.HTTPSConnection(self.host, self.port, timeout=self.timeout,
                                                     context=self.context)
            self.local.connection = connection
        return connection

    def _drop(self) -> None:
        connection = getattr(self.local, "connection", None)
        if connection is not None:
            connection.close()
        self.local.connection = None

    def fetch(self, path: str, consume: Optional[Callable[[bytes], None]] = None) -> Tuple[int, bytes]:
        target = self.prefix + "/" + path
        for attempt in (1, 2):
            started = False
            try:
                connection = self._connection()
                connection.request("GET", target, headers={"Accept-Encoding": "identity"})
                response = connection.getresponse()
                if response.status != 200:
                    response.read()
                    return response.status, b""
                started = True
                if consume is None:
                    body = response.read()
                    if response.length not in (None, 0):
                        raise http.client.IncompleteRead(body)
                    return 200, body
                while True:
                    piece = response.read(1 << 20)
                    if not piece:
                        break
                    consume(piece)
                if response.length not in (None, 0):
                    raise http.client.IncompleteRead(b"")
                return 200, b""
            except ssl.SSLCertVerificationError as error:
                self._drop()
                raise FetchError("the server's certificate is not trusted (%s)"
                                 % error.verify_message) from None
            except (OSError, http.client.HTTPException) as error:
                self._drop()
                # A kept-alive connection the server has closed fails at once: one more try.
                if attempt == 2 or started:
                    raise FetchError("%s: %s" % (type(error).__name__, error)) from None
        raise FetchError("unreachable")


@dataclasses.dataclass
class Report:
    summary: List[str] = dataclasses.field(default_factory=list)
    problems: List[str] = dataclasses.field(default_factory=list)
    warnings: List[str] = dataclasses.field(default_factory=list)
    lock: threading.Lock = dataclasses.field(default_factory=threading.Lock)

    def problem(self, text: str) -> None:
        with self.lock:
            self.problems.append(text)


_FAILED = object()  # what _get returns for a fetch that failed (a problem has been recorded)


def _get(source, path: str, report: Report):
    """The body; None when the server answers 404; _FAILED when it could not be fetched (the problem
    is recorded)."""
    try:
        status, body = source.fetch(path)
    except FetchError as error:
        report.problem("%s could not be fetched: %s" % (path, error))
        return _FAILED
    if status == 404:
        return None
    if status != 200:
        report.problem("%s: the server answers HTTP %d" % (path, status))
        return _FAILED
    return body


def _signed_text(source, name: str, key: PublicKey, report: Report, required: bool) -> Optional[bytes]:
    text = _get(source, name + ".txt", report)
    if text is _FAILED:
        return None
    if text is None:
        if required:
            report.problem("%s.txt is not published" % name)
        return None
    signature = _get(source, name + ".sig", report)
    if signature is None:
        report.problem("%s.sig is missing: launchers ignore %s.txt" % (name, name))
    elif signature is not _FAILED and not key.verify(text, signature):
        if key.signed_digest(signature) is None:
            report.problem("%s.sig does not verify %s.txt with this public key: it was made with another "
                           "key, or is damaged; launchers ignore %s.txt" % (name, name, name))
        else:
            report.problem("%s.sig does not verify %s.txt: it is this key's signature of other bytes, so the "
                           "two come from different builds (as when an upload stopped between them: upload "
                           "again); launchers ignore %s.txt" % (name, name, name))
    return text


def verify(source, key: PublicKey, jobs: int = 4, release_only: bool = False,
           release: Optional[int] = None) -> Report:
    """Checks the branch behind `source`. With `release_only` (a build checking its own staging
    folder) news that is not part of the build is not looked at. `release` checks that release
    instead of the one latest.txt names: one uploaded but not switched to yet, or an older one."""
    report = Report()
    descriptor_text = _signed_text(source, "latest", key, report, required=release is None)
    descriptor: Optional[Dict[str, str]] = None
    if descriptor_text is not None:
        try:
            descriptor = formats.parse_ini_root(descriptor_text)
        except formats.IniError as error:
            report.problem("latest.txt is not readable INI text: %s" % error)
    if descriptor is None and release is None:
        return report
    version = 0
    if descriptor is not None:
        version = _check_descriptor(descriptor, report)
        _check_launcher(source, descriptor, report)
        for name in ("news_v2", "news"):
            _check_news(source, name, key, report, release_only)
    pack = (descriptor or {}).get("pack", "")
    if release is not None:
        if release != version:
            report.summary.append("release %d as asked (latest.txt names %s)" % (release, version or "none"))
            if len(pack) == 64:
                report.warnings.append("the bundle of release %d is checked once latest.txt names it"
                                       % release)
            pack = ""
        version = release
    if version < 1:
        return report
    name = str(version)
    manifest_text = _signed_text(source, name + "/checksums", key, report, required=True)
    if manifest_text is None:
        return report
    entries, problem = formats.parse_manifest(manifest_text)
    if problem:
        report.problem("%s/checksums.txt is rejected by the launcher (\"corrupted patch info\"): %s"
                       % (name, problem))
        return report
    report.summary.append("%s/checksums.txt: %d files, %d bytes" % (
        name, len(entries), sum(e.size for e in entries)))
    _check_objects(source, name, entries, report, jobs)
    if len(pack) == 64:
        _check_bundle(source, name, pack, formats.read_c_int((descriptor or {}).get("pack_size", "")),
                      entries, report)
    return report


def _number_key(descriptor: Dict[str, str], key: str, report: Report) -> int:
    text = descriptor.get(key, "")
    value = formats.read_c_int(text)
    if text and text != str(value):
        report.problem("latest.txt: %s=%s is read by the launcher as %d" % (key, text, value))
    return value


def _check_descriptor(descriptor: Dict[str, str], report: Report) -> int:
    version = _number_key(descriptor, "game_version", report)
    if version < 1:
        report.problem("latest.txt: game_version is missing or below 1: launchers report that they cannot "
                       "connect")
    for key in ("launcher_version", "launcher_size", "update_servers", "pack_size"):
        _number_key(descriptor, key, report)
    pack = descriptor.get("pack", "")
    if pack and len(pack) != 64:
        report.problem("latest.txt: pack is %d characters, not 64: launchers never use the bundle"
                       % len(pack))
    elif pack and pack != pack.lower():
        report.problem("latest.txt: pack is in upper case: it never matches, launchers fetch the bundle "
                       "and throw it away")
    unknown = sorted(set(descriptor) - set(formats.DESCRIPTOR_KEYS))
    if unknown:
        report.warnings.append("latest.txt: keys the launcher does not read: %s" % ", ".join(unknown))
    display = descriptor.get("display_version", "")
    report.summary.append("latest.txt: release %d%s, launcher %s%s" % (
        version, " (shown as \"%s\")" % display if display else "",
        formats.format_version(formats.read_c_int(descriptor.get("launcher_version", ""))),
        ", bundle %s" % pack[:12] if len(pack) == 64 else ""))
    return version


def _check_launcher(source, descriptor: Dict[str, str], report: Report) -> None:
    version = formats.read_c_int(descriptor.get("launcher_version", ""))
    if version <= formats.RUNNING_LAUNCHER_VERSION:
        return
    checksum = descriptor.get("launcher_checksum", "")
    if len(checksum) != 64 or checksum != checksum.lower():
        report.problem("latest.txt: launcher_checksum is not 64 lower-case hexadecimal characters: every "
                       "launcher downloads latest_launcher.exe on every run and throws it away")
        return
    data = _get(source, "latest_launcher.exe", report)
    if data is _FAILED:
        return
    if data is None:
        report.problem("latest_launcher.exe is missing although latest.txt announces launcher %s"
                       % formats.format_version(version))
    elif formats.sha256_hex(data) != checksum:
        report.problem("latest_launcher.exe does not match launcher_checksum: launchers throw it away")
    elif len(data) != formats.read_c_int(descriptor.get("launcher_size", "")):
        report.problem("latest.txt: launcher_size is %s, latest_launcher.exe has %d bytes"
                       % (descriptor.get("launcher_size", ""), len(data)))


def _check_news(source, name: str, key: PublicKey, report: Report, release_only: bool) -> None:
    if release_only:
        try:
            if source.fetch(name + ".txt")[0] == 404:
                return
        except FetchError:
            pass
    data = _signed_text(source, name, key, report, required=False)
    if data is None:
        report.summary.append("%s.txt: not published" % name)
        return
    if data.startswith(b"\xef\xbb\xbf"):
        report.problem("%s.txt begins with a UTF-8 byte-order mark: launchers misread its first line" % name)
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError:
        report.problem("%s.txt is not UTF-8 text" % name)
        return
    russian, english, warnings = formats.news_warnings(text)
    report.warnings += ["%s.txt: %s" % (name, warning) for warning in warnings]
    report.summary.append("%s.txt: %d items shown in Russian, %d in English" % (name, russian, english))


def _fetch_through(source, path: str, checker: formats.GunzipChecker) -> Tuple[int, str, int]:
    """Fetches `path`, feeding every piece to `checker` on the way: the HTTP status, the SHA-256 of
    the body (hex) and its length. Raises FetchError as the source does."""
    digest = hashlib.sha256()
    length = 0

    def consume(piece: bytes) -> None:
        nonlocal length
        digest.update(piece)
        length += len(piece)
        checker.feed(piece)
    status, _ = source.fetch(path, consume)
    return status, digest.hexdigest(), length


def _status_text(status: int) -> str:
    return "missing" if status == 404 else "answered with HTTP %d" % status


def _check_object(source, release: str, sha: str, listed: List[formats.ManifestEntry],
                  report: Report) -> None:
    path = "%s/files/%s.gz" % (release, sha)
    names = ", ".join(entry.path for entry in listed)
    checker = formats.GunzipChecker()
    try:
        status, digest, length = _fetch_through(source, path, checker)
    except FetchError as error:
        report.problem("%s (%s) could not be fetched: %s" % (path, names, error))
        return
    if status != 200:
        report.problem("%s (%s) is %s" % (path, names, _status_text(status)))
        return
    checker.finish()
    found: List[str] = []
    if sha != sha.lower():
        found.append("is listed in upper case, which never matches the computed hash")
    elif digest != sha:
        found.append("has the SHA-256 %s, not its name" % digest)
    if checker.problem:
        found.append(checker.problem)
    for entry in listed:
        if length != entry.packed_size:
            found.append("is %d bytes, the manifest says %d for %s"
                         % (length, entry.packed_size, entry.path))
        if checker.problem is None and (checker.size != entry.size or
                                        formats.crc32_text(checker.crc) != entry.crc32):
            found.append("unpacks to %d bytes with CRC-32 %s; %s needs %d bytes with %s" % (
                checker.size, formats.crc32_text(checker.crc), entry.path, entry.size, entry.crc32))
    for text in dict.fromkeys(found):
        report.problem("%s (%s) %s" % (path, names, text))


def _check_objects(source, release: str, entries: List[formats.ManifestEntry], report: Report,
                   jobs: int) -> None:
    by_object: Dict[str, List[formats.ManifestEntry]] = {}
    for entry in entries:
        by_object.setdefault(entry.sha256, []).append(entry)
    with concurrent.futures.ThreadPoolExecutor(max(1, jobs)) as pool:
        for future in [pool.submit(_check_object, source, release, sha, listed, report)
                       for sha, listed in by_object.items()]:
            future.result()
    report.summary.append("%s/files: %d objects checked" % (release, len(by_object)))


def _check_bundle(source, release: str, pack: str, pack_size: int, entries: List[formats.ManifestEntry],
                  report: Report) -> None:
    path = "%s/files/%s.gz" % (release, pack)
    with tempfile.TemporaryFile() as container:
        checker = formats.GunzipChecker(container.write)
        try:
            status, digest, length = _fetch_through(source, path, checker)
        except FetchError as error:
            report.problem("the bundle %s could not be fetched: %s" % (path, error))
            return
        if status != 200:
            report.problem("the bundle %s is %s" % (path, _status_text(status)))
            return
        checker.finish()
        if digest != pack:
            report.problem("the bundle %s has the SHA-256 %s: launchers throw it away" % (path, digest))
        if length != pack_size:
            report.problem("latest.txt: pack_size is %d, the bundle has %d bytes" % (pack_size, length))
        if checker.problem:
            report.problem("the bundle %s %s: launchers throw it away" % (path, checker.problem))
            return
        container.seek(0)
        records, stopped, trailing = formats.read_bundle(container)
    by_path = {entry.path: entry for entry in entries}
    seen = set()
    for record in records:
        entry = by_path.get(record.name)
        if record.name in seen:
            report.problem("bundle: %s appears again; launchers skip the repeat" % record.name)
        elif entry is None:
            report.problem("bundle: %s is not a file of the manifest; launchers skip it" % record.name)
        elif record.complete and (record.length != entry.size or record.crc32 != entry.crc32):
            report.problem("bundle: %s holds %d bytes with CRC-32 %s; the manifest lists %d bytes with %s"
                           % (record.name, record.length, record.crc32, entry.size, entry.crc32))
        seen.add(record.name)
    if stopped:
        report.problem("bundle: %s; launchers stop reading there and fetch the remaining files singly"
                       % stopped)
    if trailing:
        report.problem("bundle: %d bytes after its end marker are never read" % trailing)
    report.summary.append("bundle: %d records, %d bytes" % (len(records), length))
