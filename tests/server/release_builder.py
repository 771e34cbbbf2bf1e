#!/usr/bin/env python3
"""Publishes a release the way an update server lays it out, for the launcher's tests.

From a folder of game files (or files added one by one) it writes one branch tree:

    <out>/latest.txt, latest.sig                  release descriptor and its signature
    <out>/news_v2.txt, news_v2.sig                news (optional)
    <out>/news.txt, news.sig                      older news (optional)
    <out>/latest_launcher.exe                     published launcher (optional)
    <out>/<version>/checksums.txt, checksums.sig  file manifest and its signature
    <out>/<version>/files/<sha256>.gz             gzip copy of each file, named by the
                                                  SHA-256 of that gzip copy
    <out>/<version>/files/<pack>.gz               small-files bundle (optional): the gzip copy of
                                                  the bundle container, announced in latest.txt by
                                                  `pack` (its SHA-256) and `pack_size` (its length)

Every .sig is the raw RSASSA-PKCS1-v1_5 / SHA-256 signature of the exact bytes of its .txt. A
normal release (the command line without any broken-variant option) is written by the publisher
itself (tools/publish), so the tests exercise what mod maintainers publish; the broken variants are
assembled here from the publisher's format pieces. Neither shares code with the launcher, so the
tests compare two independent readings of the formats.

It can also publish broken releases on purpose (bad or missing signatures, a text changed to
CR LF after signing, missing or corrupt objects, upper-case hashes, wrong sizes or CRCs, missing
descriptor keys, broken bundles); see ReleaseBuilder, Bundle and `release_builder.py build --help`.

The bundle container is a plain sequence of records, each a header line "<name>\t<length>\n"
(the manifest path, a TAB, the content length in decimal digits, an LF) followed by exactly that
many bytes of the file's uncompressed content; no file header, no count, no padding.

Use as a module:

    builder = ReleaseBuilder("key.pem", game_version=144)
    builder.add_folder("game")                       # or builder.add_file("Scripts/a.lua", b"...")
    builder.file("Scripts/a.lua").wrong_crc = True   # a broken variant
    bundle = builder.add_bundle(max_size=65536)      # optional small-files bundle
    bundle.record("Scripts/a.lua").crlf = True       # a broken bundle variant
    tree = builder.build("www/patch/lurra")
"""

import argparse
import dataclasses
import json
import os
import shutil
import sys
from typing import Dict, List, Optional, Set

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "publish"))
from publisher import formats, keys, release  # noqa: E402

# Names of the signed texts, as used by the broken-variant options.
SIGNED_TEXTS = ("latest", "checksums", "news_v2", "news")

DESCRIPTOR_KEYS = formats.DESCRIPTOR_KEYS
sha256_hex = formats.sha256_hex
crc32_hex = formats.crc32_hex
gzip_bytes = formats.gzip_bytes
_keys: Dict[str, keys.PrivateKey] = {}


def private_key(path: str) -> keys.PrivateKey:
    if path not in _keys:
        with open(path, "r", encoding="ascii") as source:
            _keys[path] = keys.load_private_key(source.read())
    return _keys[path]


def sign(key_path: str, data: bytes) -> bytes:
    return private_key(key_path).sign(data)


@dataclasses.dataclass
class FileEntry:
    """One game file of the release, with switches for broken variants."""
    path: str  # manifest path: UTF-8, "/" separators, relative to the game folder
    content: bytes
    # Manifest field texts written instead of the true values (any text, even malformed).
    size_text: Optional[str] = None
    packed_size_text: Optional[str] = None
    crc32_text: Optional[str] = None
    sha256_text: Optional[str] = None
    wrong_size: bool = False        # size one above the true size
    wrong_crc: bool = False         # CRC-32 with its lowest bit flipped
    upper_case_hash: bool = False   # hash listed, and the object published, in upper case
    publish_object: bool = True     # False: files/<hash>.gz is missing on the server
    corrupt_object: bool = False    # the served object has one byte changed after hashing
    uncompressed: bool = False      # the object is the plain content, not a gzip copy
    object_bytes: Optional[bytes] = None  # served object content, hashed and listed as given

    # Filled by ReleaseBuilder.build().
    object_data: bytes = b""
    object_sha256: str = ""  # SHA-256 of object_data
    listed_sha256: str = ""  # the hash as the manifest lists it (and the object's name)

    def manifest_line(self) -> str:
        size = self.size_text if self.size_text is not None else str(
            len(self.content) + (1 if self.wrong_size else 0))
        packed = self.packed_size_text if self.packed_size_text is not None else str(len(self.object_data))
        if self.crc32_text is not None:
            crc = self.crc32_text
        else:
            crc = "%08X" % (int(crc32_hex(self.content), 16) ^ (1 if self.wrong_crc else 0))
        return formats.ManifestEntry(self.path, size, packed, crc, self.listed_sha256).line()


@dataclasses.dataclass
class BundleRecord:
    """One record of the bundle container, with switches for broken variants."""
    name: str                      # record name as written (UTF-8); normally a manifest path
    content: bytes                 # the content bytes written after the header
    length_text: Optional[str] = None  # written instead of the true length (any text)
    crlf: bool = False             # the header line ends in CR LF (the length text becomes invalid)
    corrupt: bool = False          # one content byte changed: same length, wrong CRC-32

    def header(self) -> bytes:
        if self.length_text is None and not self.crlf:
            return formats.bundle_header(self.name, len(self.content))
        length = self.length_text if self.length_text is not None else str(len(self.content))
        return (self.name + "\t" + length + ("\r\n" if self.crlf else "\n")).encode("utf-8")

    def data(self) -> bytes:
        content = self.content
        if self.corrupt:
            content = bytes([content[0] ^ 0xFF]) + content[1:] if content else b""
        return self.header() + content


class Bundle:
    """The small-files bundle of a release.

    `records` is the container in order; build() writes it, gzips it and publishes the gzip copy
    as files/<pack>.gz, and sets the descriptor keys `pack` and `pack_size`. Broken variants:
      record switches (BundleRecord): crlf, corrupt, length_text, or any name/content
      cut_bytes         bytes removed from the end of the container (a record cut short)
      trailer           raw bytes appended after the last record (e.g. b"\n" and anything)
      upper_case_pack   `pack` announced, and the bundle published, in upper case
      wrong_hash        the published gzip differs from the one `pack` names (its gzip time
                        stamp is changed: still a valid gzip of the same container)
      uncompressed      the published object is the container itself, not a gzip copy
      publish           False: no object on the server (the descriptor still announces it)
      pack_text, pack_size_text: descriptor values written instead of the true ones
    """

    def __init__(self):
        self.records: List[BundleRecord] = []
        self.cut_bytes = 0
        self.trailer = b""
        self.upper_case_pack = False
        self.wrong_hash = False
        self.uncompressed = False
        self.publish = True
        self.pack_text: Optional[str] = None
        self.pack_size_text: Optional[str] = None
        # Filled by ReleaseBuilder.build().
        self.container = b""
        self.object_data = b""   # the gzip copy as `pack` names it
        self.pack = ""           # `pack` as announced (also the object's name)
        self.pack_size = 0       # length of the published object

    def add_record(self, name: str, content: bytes, index: Optional[int] = None,
                   **switches) -> BundleRecord:
        """Adds a record, at the end or before position `index`."""
        record = BundleRecord(name=name, content=content, **switches)
        if index is None:
            self.records.append(record)
        else:
            self.records.insert(index, record)
        return record

    def record(self, name: str) -> BundleRecord:
        """The first record of that name."""
        for record in self.records:
            if record.name == name:
                return record
        raise ValueError("no record %r in the bundle" % name)

    def index(self, name: str) -> int:
        return self.records.index(self.record(name))

    def container_bytes(self) -> bytes:
        data = b"".join(record.data() for record in self.records) + self.trailer
        if self.cut_bytes:
            if self.cut_bytes > len(data):
                raise ValueError("cannot cut %d bytes from a bundle of %d" % (self.cut_bytes, len(data)))
            data = data[:len(data) - self.cut_bytes]
        return data

    def prepare(self) -> None:
        self.container = self.container_bytes()
        self.object_data = self.container if self.uncompressed else gzip_bytes(self.container)
        digest = sha256_hex(self.object_data)
        self.pack = self.pack_text if self.pack_text is not None else (
            digest.upper() if self.upper_case_pack else digest)
        self.pack_size = len(self.object_data)

    def published_bytes(self) -> bytes:
        data = self.object_data
        if self.wrong_hash:
            if self.uncompressed or len(data) < 8:
                data = data + b"\0"
            else:
                # Byte 4 is the first byte of the gzip header's time stamp.
                data = data[:4] + bytes([data[4] ^ 0x01]) + data[5:]
        return data


@dataclasses.dataclass
class BuiltTree:
    """What build() wrote."""
    branch_dir: str
    release_dir: str
    descriptor: bytes          # latest.txt as written
    manifest: bytes            # checksums.txt as written
    entries: List[FileEntry]
    bundle: Optional[Bundle] = None


class ReleaseBuilder:
    """Collects a release and writes its branch tree.

    Broken variants (each a set of names from SIGNED_TEXTS unless said otherwise):
      bad_signature        the .sig has its first byte changed
      truncated_signature  the .sig lacks its last byte
      missing_signature    no .sig is written
      empty_signature      the .sig is empty
      crlf_after_signing   the .txt is written with CR LF although the LF text was signed
      per file (FileEntry): wrong_size, wrong_crc, upper_case_hash, publish_object=False,
        corrupt_object, uncompressed, size_text/packed_size_text/crc32_text/sha256_text
      descriptor: omit_keys (keys left out), set_key() (any value text), extra_descriptor_lines
      manifest: extra_manifest_lines (raw lines), manifest_text (replaces the whole text),
        manifest_line_end ("\\n" or "\\r\\n"), descriptor_line_end likewise
      bundle: add_bundle() and the switches of Bundle and BundleRecord
    """

    def __init__(self, private_key: str, game_version, *, launcher_version=116, update_servers=2,
                 display_version: Optional[str] = None):
        self.private_key = private_key
        self.game_version = str(game_version)
        self.files: List[FileEntry] = []
        self.keys: Dict[str, str] = {"game_version": self.game_version,
                                     "launcher_version": str(launcher_version),
                                     "update_servers": str(update_servers)}
        if display_version is not None:
            self.keys["display_version"] = display_version
        self.omit_keys: Set[str] = set()
        self.extra_descriptor_lines: List[str] = []
        self.descriptor_line_end = "\n"
        self.manifest_line_end = "\n"
        self.extra_manifest_lines: List[str] = []
        self.manifest_text: Optional[bytes] = None
        self.news_v2: Optional[bytes] = None
        self.news: Optional[bytes] = None
        self.launcher: Optional[bytes] = None
        self.extra_objects: Dict[str, bytes] = {}  # name (hash text) -> bytes, under files/
        self.bad_signature: Set[str] = set()
        self.truncated_signature: Set[str] = set()
        self.missing_signature: Set[str] = set()
        self.empty_signature: Set[str] = set()
        self.crlf_after_signing: Set[str] = set()
        self.bundle: Optional[Bundle] = None

    # --- collecting -----------------------------------------------------------------------------

    def add_file(self, path: str, content: bytes, **switches) -> FileEntry:
        entry = FileEntry(path=path, content=content, **switches)
        self.files.append(entry)
        return entry

    def add_folder(self, folder: str) -> None:
        """Adds every file below the folder, in sorted order of the manifest paths."""
        found = []
        for parent, _, names in os.walk(folder):
            for name in names:
                full = os.path.join(parent, name)
                found.append((os.path.relpath(full, folder).replace(os.sep, "/"), full))
        for path, full in sorted(found):
            with open(full, "rb") as source:
                self.add_file(path, source.read())

    def file(self, path: str) -> FileEntry:
        for entry in self.files:
            if entry.path == path:
                return entry
        raise ValueError("no file %r in the release" % path)

    def set_key(self, key: str, value) -> None:
        """Sets a descriptor key; known keys keep their place, others follow them."""
        self.keys[key] = str(value)

    def set_launcher(self, executable: bytes, version) -> None:
        """Publishes latest_launcher.exe and announces it with its checksum and size."""
        self.launcher = executable
        self.keys["launcher_version"] = str(version)
        self.keys["launcher_checksum"] = sha256_hex(executable)
        self.keys["launcher_size"] = str(len(executable))

    def add_object(self, data: bytes, name: Optional[str] = None) -> str:
        """Publishes raw bytes as files/<name>.gz; the name is their SHA-256 unless given."""
        name = name or sha256_hex(data)
        self.extra_objects[name] = data
        return name

    def add_bundle(self, paths: Optional[List[str]] = None, max_size: Optional[int] = None) -> Bundle:
        """Publishes a small-files bundle with one record per release file: the files named in
        `paths` in that order, or else every file whose content is at most `max_size` bytes (all
        files when None) in manifest order. Each record holds the file's true content, whatever
        its manifest line claims. Records can be changed, added or removed afterwards."""
        bundle = Bundle()
        if paths is not None:
            chosen = [self.file(path) for path in paths]
        else:
            chosen = [entry for entry in self.files if max_size is None or len(entry.content) <= max_size]
        for entry in chosen:
            bundle.add_record(entry.path, entry.content)
        self.bundle = bundle
        return bundle

    # --- texts ----------------------------------------------------------------------------------

    def descriptor_bytes(self) -> bytes:
        order = [k for k in DESCRIPTOR_KEYS if k in self.keys] + [
            k for k in self.keys if k not in DESCRIPTOR_KEYS]
        pairs = [(k, self.keys[k]) for k in order if k not in self.omit_keys]
        end = self.descriptor_line_end
        return formats.descriptor_bytes(pairs, end) + "".join(
            line + end for line in self.extra_descriptor_lines).encode("utf-8")

    def manifest_bytes(self) -> bytes:
        if self.manifest_text is not None:
            return self.manifest_text
        lines = [entry.manifest_line() for entry in self.files] + self.extra_manifest_lines
        end = self.manifest_line_end
        return "".join(line + end for line in lines).encode("utf-8")

    # --- writing --------------------------------------------------------------------------------

    def _prepare_objects(self) -> None:
        for entry in self.files:
            if entry.object_bytes is not None:
                entry.object_data = entry.object_bytes
            elif entry.uncompressed:
                entry.object_data = entry.content
            else:
                entry.object_data = gzip_bytes(entry.content)
            entry.object_sha256 = sha256_hex(entry.object_data)
            if entry.sha256_text is not None:
                entry.listed_sha256 = entry.sha256_text
            elif entry.upper_case_hash:
                entry.listed_sha256 = entry.object_sha256.upper()
            else:
                entry.listed_sha256 = entry.object_sha256

    def _write_objects(self, files_dir: str) -> None:
        for entry in self.files:
            if not entry.publish_object:
                _remove(os.path.join(files_dir, entry.listed_sha256 + ".gz"))
                continue
            data = entry.object_data
            if entry.corrupt_object:
                data = bytes([data[0] ^ 0xFF]) + data[1:] if data else b"\0"
            _write(os.path.join(files_dir, entry.listed_sha256 + ".gz"), data)
        for name, data in self.extra_objects.items():
            _write(os.path.join(files_dir, name + ".gz"), data)
        bundle = self.bundle
        if bundle is not None:
            path = os.path.join(files_dir, bundle.pack + ".gz")
            if bundle.publish:
                _write(path, bundle.published_bytes())
            else:
                _remove(path)

    def _publish_signed(self, folder: str, name: str, text: bytes) -> None:
        signature = sign(self.private_key, text)
        if name in self.crlf_after_signing:
            text = text.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")
        if name in self.bad_signature:
            signature = bytes([signature[0] ^ 0x01]) + signature[1:]
        if name in self.truncated_signature:
            signature = signature[:-1]
        if name in self.empty_signature:
            signature = b""
        _write(os.path.join(folder, name + ".txt"), text)
        if name in self.missing_signature:
            _remove(os.path.join(folder, name + ".sig"))
        else:
            _write(os.path.join(folder, name + ".sig"), signature)

    def build(self, branch_dir: str, clean: bool = False) -> BuiltTree:
        """Writes the tree. Files of an earlier build stay unless `clean` empties the folder
        first, so several releases can share one branch; a file that this build leaves out on
        purpose (a missing signature or object) is removed in any case."""
        if clean and os.path.isdir(branch_dir):
            shutil.rmtree(branch_dir)
        for name in (self.bad_signature | self.truncated_signature | self.missing_signature
                     | self.empty_signature | self.crlf_after_signing):
            if name not in SIGNED_TEXTS:
                raise ValueError("unknown signed text %r (one of %s)" % (name, ", ".join(SIGNED_TEXTS)))
        release_dir = os.path.join(branch_dir, self.game_version)
        self._prepare_objects()
        if self.bundle is not None:
            self.bundle.prepare()
            self.keys["pack"] = self.bundle.pack
            self.keys["pack_size"] = (self.bundle.pack_size_text if self.bundle.pack_size_text is not None
                                      else str(self.bundle.pack_size))
        self._write_objects(os.path.join(release_dir, "files"))
        manifest = self.manifest_bytes()
        self._publish_signed(release_dir, "checksums", manifest)
        descriptor = self.descriptor_bytes()
        self._publish_signed(branch_dir, "latest", descriptor)
        if self.news_v2 is not None:
            self._publish_signed(branch_dir, "news_v2", self.news_v2)
        if self.news is not None:
            self._publish_signed(branch_dir, "news", self.news)
        if self.launcher is not None:
            _write(os.path.join(branch_dir, "latest_launcher.exe"), self.launcher)
        return BuiltTree(branch_dir, release_dir, descriptor, manifest, self.files, self.bundle)


def _remove(path: str) -> None:
    if os.path.lexists(path):
        os.remove(path)


def _write(path: str, data: bytes) -> None:
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as target:
        target.write(data)


# --- command line ---------------------------------------------------------------------------------

def _read(path: str) -> bytes:
    with open(path, "rb") as source:
        return source.read()


def _parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    commands = parser.add_subparsers(dest="command", required=True)

    build = commands.add_parser("build", help="write a branch tree")
    build.add_argument("--key", required=True, help="RSA private key (PEM) that signs the texts")
    build.add_argument("--out", required=True, help="branch folder to write (e.g. www/patch/lurra)")
    build.add_argument("--clean", action="store_true", help="empty the branch folder first")
    build.add_argument("--version", required=True, help="game_version, also the release folder name")
    build.add_argument("--source", help="folder of game files to publish")
    build.add_argument("--launcher", help="executable to publish as latest_launcher.exe")
    build.add_argument("--launcher-version", default="116", help="launcher_version (default 116)")
    build.add_argument("--update-servers", default="2")
    build.add_argument("--display-version")
    build.add_argument("--news-v2", help="file to publish as news_v2.txt")
    build.add_argument("--news", help="file to publish as news.txt")
    build.add_argument("--set-key", action="append", default=[], metavar="KEY=VALUE",
                       help="descriptor key with any value text")
    build.add_argument("--omit-key", action="append", default=[], metavar="KEY")
    build.add_argument("--descriptor-line", action="append", default=[], metavar="LINE",
                       help="raw line appended to latest.txt")
    build.add_argument("--manifest-line", action="append", default=[], metavar="LINE",
                       help="raw line appended to checksums.txt")
    build.add_argument("--crlf-texts", action="store_true",
                       help="write and sign latest.txt and checksums.txt with CR LF line ends")
    for option, text in (("--bad-signature", "signature with its first byte changed"),
                         ("--truncated-signature", "signature one byte short"),
                         ("--missing-signature", "no .sig file"),
                         ("--empty-signature", "empty .sig file"),
                         ("--crlf-after-signing", "text turned to CR LF after signing")):
        build.add_argument(option, action="append", default=[], choices=SIGNED_TEXTS, help=text)
    for option, text in (("--missing-object", "no files/<hash>.gz for PATH"),
                         ("--corrupt-object", "object with one byte changed after hashing"),
                         ("--upper-case-hash", "hash listed and object named in upper case"),
                         ("--wrong-size", "manifest size one above the true size"),
                         ("--wrong-crc", "manifest CRC-32 with one bit flipped"),
                         ("--uncompressed", "object stored without gzip")):
        build.add_argument(option, action="append", default=[], metavar="PATH", help=text)
    bundle = build.add_argument_group(
        "small-files bundle", "A bundle is published when any of --bundle, --bundle-max-size or "
        "--bundle-file is given; the other options change it. PATH names a record by its manifest path.")
    bundle.add_argument("--bundle", action="store_true", help="bundle of every file, in manifest order")
    bundle.add_argument("--bundle-max-size", type=int, metavar="N",
                        help="bundle of the files of at most N bytes, in manifest order")
    bundle.add_argument("--bundle-file", action="append", default=[], metavar="PATH",
                        help="bundle of exactly these files, in this order")
    bundle.add_argument("--bundle-record", action="append", default=[], metavar="NAME=FILE",
                        help="extra record NAME holding the bytes of FILE, added at the end")
    bundle.add_argument("--bundle-repeat", action="append", default=[], metavar="PATH",
                        help="a second, intact record of PATH right after the first")
    bundle.add_argument("--bundle-corrupt", action="append", default=[], metavar="PATH",
                        help="first record of PATH with one content byte changed (CRC-32 fails)")
    bundle.add_argument("--bundle-crlf", action="append", default=[], metavar="PATH",
                        help="header line of PATH's record ends in CR LF")
    bundle.add_argument("--bundle-length-text", action="append", default=[], metavar="PATH=TEXT",
                        help="length text written in PATH's header instead of the true length")
    bundle.add_argument("--bundle-other-case", action="append", default=[], metavar="PATH",
                        help="PATH's record named with the letter case of its name swapped")
    bundle.add_argument("--bundle-cut", type=int, default=0, metavar="N",
                        help="container cut N bytes short at its end")
    bundle.add_argument("--bundle-trailer-hex", default="", metavar="HEX",
                        help="raw bytes appended after the last record")
    bundle.add_argument("--bundle-upper-case-pack", action="store_true",
                        help="pack announced, and the bundle published, in upper case")
    bundle.add_argument("--bundle-wrong-hash", action="store_true",
                        help="published gzip differs from the one pack names (time stamp changed)")
    bundle.add_argument("--bundle-uncompressed", action="store_true",
                        help="bundle published as the plain container, not gzip")
    bundle.add_argument("--bundle-missing", action="store_true",
                        help="bundle announced but not published")
    bundle.add_argument("--bundle-pack-size", metavar="TEXT", help="pack_size written instead of the true one")
    build.add_argument("--json", action="store_true", help="print what was written as JSON")

    sign_command = commands.add_parser("sign", help="sign one file")
    sign_command.add_argument("--key", required=True)
    sign_command.add_argument("--out", help="signature file (default: FILE with .sig)")
    sign_command.add_argument("file")
    return parser


# The options a normal release may carry; any other asks for something the publisher never writes,
# and with it this builder writes the release itself.
NORMAL_OPTIONS = {"command", "key", "out", "clean", "version", "source", "launcher", "launcher_version", "news",
                  "update_servers", "display_version", "news_v2", "bundle", "bundle_max_size", "bundle_file"}


def _publisher_options(args) -> Optional[release.Options]:
    """The publisher's options for a normal release, or None when this builder writes it: a broken
    variant, or files, versions or texts that the publisher refuses on purpose."""
    if not args.source or any(value for name, value in vars(args).items() if name not in NORMAL_OPTIONS):
        return None
    numbers = (args.version, args.update_servers, args.launcher_version)
    if not all(text.isdigit() and 0 < int(text) <= formats.INT32_MAX for text in numbers):
        return None
    if args.launcher is None and int(args.launcher_version) != formats.RUNNING_LAUNCHER_VERSION:
        return None
    for news in (args.news_v2, args.news):
        data = _read(news) if news else b""
        if data.startswith(b"\xef\xbb\xbf") or data.decode("utf-8", "replace").encode("utf-8") != data:
            return None
    if args.display_version is not None and formats.descriptor_value_problem(args.display_version):
        return None
    files = release.collect_source(args.source, [], [])
    sizes = {f.path: f.size for f in files}
    if not files or release.path_reasons(list(sizes)):
        return None
    options = release.Options(
        source=args.source, out=args.out, version=int(args.version), key=private_key(args.key),
        display_version=args.display_version, launcher=args.launcher,
        launcher_version=int(args.launcher_version) if args.launcher else None, news_v2=args.news_v2,
        news=args.news, bundle_min_files=0, update_servers=int(args.update_servers), force=True,
        change_key=True)  # tests publish into one branch with several keys on purpose
    if args.bundle_file or args.bundle or args.bundle_max_size is not None:
        options.bundle_paths = args.bundle_file or None
        options.bundle_max_size = None if args.bundle_file else args.bundle_max_size
        options.bundle_min_files = 1
        # An empty bundle is still published here; the publisher publishes none.
        limit = options.bundle_max_size
        if not any(limit is None or size <= limit for size in sizes.values()):
            return None
    return options


def _build_from_arguments(args) -> BuiltTree:
    builder = ReleaseBuilder(args.key, args.version, launcher_version=args.launcher_version,
                             update_servers=args.update_servers, display_version=args.display_version)
    if args.source:
        builder.add_folder(args.source)
    if args.launcher:
        builder.set_launcher(_read(args.launcher), args.launcher_version)
    if args.news_v2:
        builder.news_v2 = _read(args.news_v2)
    if args.news:
        builder.news = _read(args.news)
    for assignment in args.set_key:
        key, _, value = assignment.partition("=")
        builder.set_key(key, value)
    builder.omit_keys.update(args.omit_key)
    builder.extra_descriptor_lines += args.descriptor_line
    builder.extra_manifest_lines += args.manifest_line
    if args.crlf_texts:
        builder.descriptor_line_end = builder.manifest_line_end = "\r\n"
    builder.bad_signature.update(args.bad_signature)
    builder.truncated_signature.update(args.truncated_signature)
    builder.missing_signature.update(args.missing_signature)
    builder.empty_signature.update(args.empty_signature)
    builder.crlf_after_signing.update(args.crlf_after_signing)
    for option, field in (("missing_object", ("publish_object", False)),
                          ("corrupt_object", ("corrupt_object", True)),
                          ("upper_case_hash", ("upper_case_hash", True)),
                          ("wrong_size", ("wrong_size", True)),
                          ("wrong_crc", ("wrong_crc", True)),
                          ("uncompressed", ("uncompressed", True))):
        for path in getattr(args, option):
            setattr(builder.file(path), field[0], field[1])
    _bundle_from_arguments(builder, args)
    return builder.build(args.out, clean=args.clean)


def _bundle_from_arguments(builder: ReleaseBuilder, args) -> None:
    if args.bundle_file:
        bundle = builder.add_bundle(paths=args.bundle_file)
    elif args.bundle or args.bundle_max_size is not None:
        bundle = builder.add_bundle(max_size=args.bundle_max_size)
    else:
        used = [option for option in ("bundle_record", "bundle_repeat", "bundle_corrupt", "bundle_crlf",
                                      "bundle_length_text", "bundle_other_case", "bundle_cut",
                                      "bundle_trailer_hex", "bundle_upper_case_pack", "bundle_wrong_hash",
                                      "bundle_uncompressed", "bundle_missing", "bundle_pack_size")
                if getattr(args, option) not in (None, False, [], 0, "")]
        if used:
            raise ValueError("--%s needs --bundle, --bundle-max-size or --bundle-file"
                             % used[0].replace("_", "-"))
        return
    for assignment in args.bundle_record:
        name, _, path = assignment.partition("=")
        bundle.add_record(name, _read(path))
    for path in args.bundle_repeat:
        first = bundle.record(path)
        bundle.add_record(path, first.content, index=bundle.index(path) + 1)
    for path in args.bundle_corrupt:
        bundle.record(path).corrupt = True
    for path in args.bundle_crlf:
        bundle.record(path).crlf = True
    for assignment in args.bundle_length_text:
        path, _, text = assignment.partition("=")
        bundle.record(path).length_text = text
    for path in args.bundle_other_case:
        record = bundle.record(path)
        if record.name.swapcase() == record.name:
            raise ValueError("the name %r has no letters to change" % path)
        record.name = record.name.swapcase()
    bundle.cut_bytes = args.bundle_cut
    bundle.trailer = bytes.fromhex(args.bundle_trailer_hex)
    bundle.upper_case_pack = args.bundle_upper_case_pack
    bundle.wrong_hash = args.bundle_wrong_hash
    bundle.uncompressed = args.bundle_uncompressed
    bundle.publish = not args.bundle_missing
    bundle.pack_size_text = args.bundle_pack_size


def main(argv=None) -> int:
    args = _parser().parse_args(argv)
    try:
        if args.command == "sign":
            _write(args.out or os.path.splitext(args.file)[0] + ".sig", sign(args.key, _read(args.file)))
            return 0
        options = _publisher_options(args)
        if options is not None:
            if args.clean and os.path.isdir(args.out):
                shutil.rmtree(args.out)
            release.build(options, log=lambda _: None)
            return 0
        tree = _build_from_arguments(args)
    except release.Refused as refused:
        print("release_builder: the publisher refused: %s" % "; ".join(refused.reasons), file=sys.stderr)
        return 1
    except (ValueError, RuntimeError, OSError) as error:
        print("release_builder: %s" % error, file=sys.stderr)
        return 1
    if args.json:
        files = []
        for entry in tree.entries:
            fields = entry.manifest_line().split("\t")
            files.append({"listed": fields, "content_size": len(entry.content),
                          "content_crc32": crc32_hex(entry.content), "object_sha256": entry.object_sha256,
                          "published": entry.publish_object})
        result = {"branch_dir": tree.branch_dir, "release_dir": tree.release_dir, "files": files}
        if tree.bundle is not None:
            offset = 0
            records = []
            for record in tree.bundle.records:
                header = len(record.header())
                records.append({"name": record.name, "length": len(record.content),
                                "header_offset": offset, "content_offset": offset + header})
                offset += header + len(record.content)
            result["bundle"] = {"pack": tree.bundle.pack, "pack_size": tree.bundle.pack_size,
                                "object": "files/%s.gz" % tree.bundle.pack,
                                "container_size": len(tree.bundle.container), "records": records}
        json.dump(result, sys.stdout, indent=1)
        print()
    return 0


if __name__ == "__main__":
    sys.exit(main())
