"""The files of a published branch, as the launcher reads them.

One branch folder on the update server:

    latest.txt, latest.sig                  release descriptor (INI keys) and its signature
    news_v2.txt, news_v2.sig                news (optional)
    news.txt, news.sig                      older news (optional)
    latest_launcher.exe                     the current launcher (optional)
    <version>/checksums.txt, checksums.sig  file manifest of the release and its signature
    <version>/files/<sha256>.gz             gzip copy of each game file, named by the SHA-256 of
                                            that gzip copy; also the small-files bundle

Every .sig is the raw 256-byte RSASSA-PKCS1-v1_5 / SHA-256 signature of the exact bytes of its .txt.
The bundle, unpacked, is a plain sequence of records: a header line "<path>\t<length>\n" (the
manifest path, a TAB, the content length in decimal digits, an LF) followed by exactly that many
bytes of the file; no file header, no count, no padding. It is announced in latest.txt by `pack`
(the SHA-256 of its gzip copy, also its name) and `pack_size` (the length of that copy).
The rules below mirror the launcher's readers; where the launcher accepts something that cannot
work on a player's Windows machine, the publisher is stricter and says so.
"""

import hashlib
import struct
import unicodedata
import zlib
from typing import BinaryIO, Dict, Iterable, Iterator, List, Optional, Tuple

INT32_MAX = 2147483647

# The launcher replaces only files below these folders, and mss32.dll in the game folder itself.
ALLOWED_FOLDERS = ("Globals/", "Imgs/", "Interf/", "ScenData/", "Scripts/", "Templates/")
ROOT_FILE = "mss32.dll"

# While a file X is updated, the launcher writes X.gz (the download) and X.new (the unpacked copy)
# next to it.
TEMPORARY_SUFFIXES = (".gz", ".new")

# The launcher reaches for the bundle only when at least this many files need updating.
BUNDLE_MIN_FILES = 50

# Keys of latest.txt in the order the publisher writes them.
DESCRIPTOR_KEYS = ("game_version", "launcher_version", "launcher_checksum", "launcher_size",
                   "update_servers", "pack", "pack_size", "display_version")

# The version of the launcher that players run today: a published launcher must be above it.
RUNNING_LAUNCHER_VERSION = 116

# Windows limits, in UTF-16 units: 255 per name, and the whole path of a temporary copy within the
# classic 259 characters. The game folder's own path is unknown here; this leaves room for one of
# up to 75 characters ("C:\Program Files (x86)\Steam\steamapps\common\Tharnveil II" is 58).
MAX_NAME_UNITS = 255
MAX_PATH_UNITS = 180
_WINDOWS_FORBIDDEN = '<>"|?*'
_DEVICE_NAMES = {"CON", "PRN", "AUX", "NUL"} | {"COM%d" % i for i in range(1, 10)} | {
    "LPT%d" % i for i in range(1, 10)}

_CHUNK = 1 << 20


def sha256_hex(data: bytes) -> str:
    return hashlib.sha256(data).hexdigest()


def crc32_text(value: int) -> str:
    return "%08X" % (value & 0xFFFFFFFF)


def crc32_hex(data: bytes) -> str:
    return crc32_text(zlib.crc32(data))


# --- gzip ------------------------------------------------------------------------------------------

class GzipWriter:
    """A gzip copy written piece by piece, the same bytes on every machine: no time stamp, no file
    name, operating system "unknown", compression level 9. Tracks the SHA-256 and length of what it
    writes and the CRC-32 and length of what it was given."""

    def __init__(self, out: Optional[BinaryIO] = None):
        self.out = out
        self.pieces: List[bytes] = []
        self.sha256 = hashlib.sha256()
        self.packed_size = 0
        self.crc = 0
        self.size = 0
        self._deflate = zlib.compressobj(9, zlib.DEFLATED, -15, 9)
        self._emit(b"\x1f\x8b\x08\x00\x00\x00\x00\x00\x02\xff")

    def _emit(self, data: bytes) -> None:
        if not data:
            return
        self.sha256.update(data)
        self.packed_size += len(data)
        if self.out is None:
            self.pieces.append(data)
        else:
            self.out.write(data)

    def write(self, data: bytes) -> None:
        self.crc = zlib.crc32(data, self.crc)
        self.size += len(data)
        self._emit(self._deflate.compress(data))

    def close(self) -> bytes:
        """Ends the stream; returns the whole copy when no output file was given."""
        self._emit(self._deflate.flush())
        self._emit(struct.pack("<II", self.crc & 0xFFFFFFFF, self.size & 0xFFFFFFFF))
        return b"".join(self.pieces)


def gzip_bytes(data: bytes) -> bytes:
    writer = GzipWriter()
    writer.write(data)
    return writer.close()


class GunzipChecker:
    """Unpacks a gzip stream piece by piece as the launcher's reader does (members one after the
    other) and keeps the CRC-32 and length of the content. After `finish`, `problem` says what is
    wrong with the stream, or is None."""

    def __init__(self, sink=None):
        self.sink = sink
        self.crc = 0
        self.size = 0
        self.problem: Optional[str] = None
        self._inflate = zlib.decompressobj(31)
        self._in_member = False
        self._members = 0

    def feed(self, data: bytes) -> None:
        while data and self.problem is None:
            if not self._in_member and data[:2] != b"\x1f\x8b"[:len(data[:2])]:
                self.problem = ("is not a gzip file" if self._members == 0
                                else "has bytes after the end of its gzip stream")
                return
            self._in_member = True
            try:
                out = self._inflate.decompress(data)
            except zlib.error as error:
                self.problem = "is not a valid gzip stream (%s)" % error
                return
            if out:
                self.crc = zlib.crc32(out, self.crc)
                self.size += len(out)
                if self.sink is not None:
                    self.sink(out)
            data = b""
            if self._inflate.eof:
                data = self._inflate.unused_data
                self._inflate = zlib.decompressobj(31)
                self._in_member = False
                self._members += 1

    def finish(self) -> None:
        if self.problem is None and self._in_member:
            self.problem = "is cut short (its gzip stream does not end)"
        elif self.problem is None and self._members == 0:
            self.problem = "is empty"


# --- paths -----------------------------------------------------------------------------------------

def ascii_lower(text: str) -> str:
    """Lower case of the letters A to Z only, as the launcher compares paths."""
    return "".join(chr(ord(c) + 32) if "A" <= c <= "Z" else c for c in text)


def is_allowed_game_path(path: str) -> bool:
    if ascii_lower(path) == ROOT_FILE:
        return True
    return any(len(path) > len(prefix) and ascii_lower(path[:len(prefix)]) == ascii_lower(prefix)
               for prefix in ALLOWED_FOLDERS)


def launcher_path_problem(path: str) -> Optional[str]:
    """Why the launcher's manifest reader rejects this path (and with it the whole manifest)."""
    if not path:
        return "the path is empty"
    if ".." in path:
        return "contains \"..\""
    if "\\" in path:
        return "contains a backslash (the manifest separates folders with \"/\")"
    if ":" in path:
        return "contains a colon"
    if path.startswith("/"):
        return "begins with \"/\""
    if any(ord(c) < 0x20 for c in path):
        return "contains a control character"
    for component in path.split("/"):
        if not component:
            return "has an empty folder or file name (\"//\" or a \"/\" at the end)"
        if component.startswith("."):
            return "has a name that begins with \".\" (hidden names are never published)"
    if not is_allowed_game_path(path):
        return ("is outside the game's data folders: only %s and files below %s are published"
                % (ROOT_FILE, ", ".join(ALLOWED_FOLDERS)))
    return None


def windows_path_problem(path: str) -> Optional[str]:
    """Why a path the launcher accepts still cannot be written as listed on a player's Windows."""
    try:
        path.encode("utf-8")
    except UnicodeEncodeError:
        return "is not valid UTF-8 (rename the file)"
    for component in path.split("/"):
        bad = sorted(set(c for c in component if c in _WINDOWS_FORBIDDEN))
        if bad:
            return "contains %s, which Windows does not allow in names" % " ".join(bad)
        if component.endswith((".", " ")):
            return "has a name ending in a dot or a blank, which Windows drops"
        stem = component.split(".")[0].rstrip(" ").upper()
        if stem in _DEVICE_NAMES:
            return "uses the name %s, which Windows reserves for a device" % component.split(".")[0]
        if _utf16_units(component) + max(map(len, TEMPORARY_SUFFIXES)) > MAX_NAME_UNITS:
            return ("has a name longer than %d characters (with the launcher's \".new\" copy it would "
                    "pass the Windows limit of %d)" % (MAX_NAME_UNITS - 4, MAX_NAME_UNITS))
    if _utf16_units(path) > MAX_PATH_UNITS:
        return ("is longer than %d characters (the game folder's path and the launcher's \".new\" "
                "copy must still fit in 259)" % MAX_PATH_UNITS)
    return None


def _utf16_units(text: str) -> int:
    return len(text.encode("utf-16-le", "surrogatepass")) // 2


def _windows_fold(text: str) -> str:
    # Windows compares names without regard to letter case in every alphabet, not only A to Z.
    return unicodedata.normalize("NFC", text).upper().lower()


def path_set_problems(paths: Iterable[str], launcher_only: bool = False) -> List[Tuple[str, str]]:
    """(path, reason) for paths that clash with each other. The launcher rejects a manifest with
    two paths equal apart from the case of A to Z, or a path equal to another plus ".gz" or ".new"
    (those are its temporary copies); the publisher also refuses clashes that Windows would make
    in other alphabets, and a file whose name is also a folder of another path."""
    fold = ascii_lower if launcher_only else _windows_fold
    files: Dict[str, str] = {}
    problems: List[Tuple[str, str]] = []
    ordered = list(paths)
    for path in ordered:
        key = fold(path)
        if key in files:
            problems.append((path, "differs from %s only in letter case; Windows keeps one file for both"
                             % files[key]))
        else:
            files[key] = path
    for path in ordered:
        for suffix in TEMPORARY_SUFFIXES:
            other = files.get(fold(path + suffix))
            if other is not None:
                problems.append((other, "has the name of the launcher's temporary copy of %s (%s)"
                                 % (path, path + suffix)))
    if not launcher_only:
        folders: Dict[str, str] = {}
        for path in ordered:
            parts = path.split("/")
            for count in range(1, len(parts)):
                folders.setdefault(fold("/".join(parts[:count])), path)
        for path in ordered:
            for name in [path] + [path + suffix for suffix in TEMPORARY_SUFFIXES]:
                below = folders.get(fold(name))
                if below is not None:
                    problems.append((path, "%s is also a folder of %s" % (name, below)))
                    break
    return problems


# --- manifest --------------------------------------------------------------------------------------

class ManifestEntry:
    __slots__ = ("path", "size", "packed_size", "crc32", "sha256")

    def __init__(self, path: str, size: int, packed_size: int, crc32: str, sha256: str):
        self.path, self.size, self.packed_size, self.crc32, self.sha256 = (
            path, size, packed_size, crc32, sha256)

    def line(self) -> str:
        return "\t".join([self.path, str(self.size), str(self.packed_size), self.crc32, self.sha256])


def manifest_bytes(entries: Iterable[ManifestEntry]) -> bytes:
    return "".join(entry.line() + "\n" for entry in entries).encode("utf-8", "surrogateescape")


def _manifest_number(field: str, allow_zero: bool) -> Optional[int]:
    if not field or any(c not in "0123456789" for c in field):
        return None
    value = int(field)
    if value > INT32_MAX or (value == 0 and not allow_zero):
        return None
    return value


def _is_hex(text: str, length: int) -> bool:
    return len(text) == length and all(c in "0123456789abcdefABCDEF" for c in text)


def parse_manifest(text: bytes) -> Tuple[List[ManifestEntry], Optional[str]]:
    """The launcher's strict reading of checksums.txt: the entries, or the reason the whole text
    is rejected ("corrupted patch info" for the player)."""
    entries: List[ManifestEntry] = []
    for number, raw in enumerate(text.split(b"\n"), 1):
        if raw.endswith(b"\r"):
            raw = raw[:-1]
        if not raw:
            continue
        line = raw.decode("utf-8", "surrogateescape")
        fields = line.split("\t")
        where = "line %d" % number
        if len(fields) != 5:
            return [], "%s has %d TAB-separated fields, not 5" % (where, len(fields))
        path, size_text, packed_text, crc, sha = fields
        problem = launcher_path_problem(path)
        if problem:
            return [], "%s: %s %s" % (where, path, problem)
        size = _manifest_number(size_text, True)
        packed = _manifest_number(packed_text, False)
        if size is None or packed is None:
            return [], "%s: %s has a size or packed size that is not a number the launcher takes" % (
                where, path)
        if not _is_hex(crc, 8) or not _is_hex(sha, 64):
            return [], "%s: %s has a CRC-32 or SHA-256 field of the wrong form" % (where, path)
        entries.append(ManifestEntry(path, size, packed, crc.upper(), sha))
    if not entries:
        return [], "the manifest lists no file"
    clashes = path_set_problems([entry.path for entry in entries], launcher_only=True)
    if clashes:
        return [], "%s %s" % clashes[0]
    return entries, None


# --- descriptor ------------------------------------------------------------------------------------

def descriptor_bytes(pairs: Iterable[Tuple[str, str]], line_end: str = "\n") -> bytes:
    return "".join("%s=%s%s" % (key, value, line_end) for key, value in pairs).encode("utf-8")


class IniError(ValueError):
    pass


def parse_ini_root(text: bytes) -> Dict[str, str]:
    """The keys before the first section header, read as the launcher's INI reader reads them.
    Raises IniError with the reader's own message on a syntax error."""
    # The open sections from the root down: (keys, names of child sections).
    chain: List[Tuple[Dict[str, str], set]] = [({}, set())]
    root = chain[0][0]
    for number, raw in enumerate(text.split(b"\n"), 1):
        if raw[:1] in (b"#", b";"):
            continue
        line = raw.strip(b" \t\r\n")
        if not line:
            continue
        if line.startswith(b"["):
            level = len(line) - len(line.lstrip(b"["))
            if level > len(chain):
                raise IniError("section with wrong depth on line #%d" % number)
            name = line[level:len(line) - level]
            del chain[level:]
            if name in chain[-1][1]:
                raise IniError("duplicate section name on the same level on line #%d" % number)
            chain[-1][1].add(name)
            chain.append(({}, set()))
            continue
        if b"=" not in line:
            raise IniError("no '=' found on line #%d" % number)
        key, _, value = line.partition(b"=")
        value = value.strip(b" \t\r\n")
        for mark in (b"#", b";"):
            if mark in value:
                value = value[:value.index(mark)]
                break
        key_text = key.strip(b" \t\r\n").decode("utf-8", "surrogateescape")
        keys = chain[-1][0]
        if key_text in keys:
            raise IniError("duplicated key found on line #%d" % number)
        keys[key_text] = value.decode("utf-8", "surrogateescape")
    return root


def read_c_int(text: str) -> int:
    """A number read the way the launcher reads descriptor values: leading white space, a sign,
    digits up to the first other character; anything unreadable or beyond 32 bits is 0."""
    i = 0
    while i < len(text) and text[i] in " \t\n\v\f\r":
        i += 1
    sign = 1
    if i < len(text) and text[i] in "+-":
        sign = -1 if text[i] == "-" else 1
        i += 1
    start = i
    while i < len(text) and "0" <= text[i] <= "9":
        i += 1
    if i == start:
        return 0
    value = sign * int(text[start:i])
    return value if -INT32_MAX - 1 <= value <= INT32_MAX else 0


def descriptor_value_problem(value: str) -> Optional[str]:
    """Why a text would not come back unchanged as a descriptor value."""
    if any(c in value for c in "\r\n"):
        return "holds a line break"
    if "#" in value or ";" in value:
        return "holds \"#\" or \";\", where the launcher cuts the value off"
    if value != value.strip(" \t"):
        return "begins or ends with a blank, which the launcher removes"
    return None


def format_version(version: int) -> str:
    return "%.2f" % struct.unpack("f", struct.pack("f", version / 100.0))[0]


# --- bundle ----------------------------------------------------------------------------------------

def bundle_header(name: str, length: int) -> bytes:
    return ("%s\t%d\n" % (name, length)).encode("utf-8", "surrogateescape")


class BundleRecord:
    __slots__ = ("name", "length", "crc32", "complete")

    def __init__(self, name: str, length: int, crc32: str, complete: bool):
        self.name, self.length, self.crc32, self.complete = name, length, crc32, complete


def read_bundle(container: BinaryIO) -> Tuple[List[BundleRecord], Optional[str], int]:
    """The records of an unpacked bundle as the launcher reads them: the records, why reading
    stopped early (None at a proper end), and the number of bytes after an end marker."""
    records: List[BundleRecord] = []
    while True:
        header = container.readline()
        if header in (b"", b"\n"):
            rest = len(container.read()) if header == b"\n" else 0
            return records, None, rest
        line = header[:-1] if header.endswith(b"\n") else header
        name, tab, length_text = line.partition(b"\t")
        name_text = name.decode("utf-8", "surrogateescape")
        if not tab:
            return records, "a record header without TAB after %d records" % len(records), 0
        if not length_text or any(c not in b"0123456789" for c in length_text) or (
                int(length_text) > INT32_MAX):
            return records, "the record %s has the length %r, which the launcher cannot read" % (
                name_text, length_text.decode("latin-1")), 0
        length = int(length_text)
        crc = 0
        remaining = length
        while remaining:
            piece = container.read(min(remaining, _CHUNK))
            if not piece:
                break
            crc = zlib.crc32(piece, crc)
            remaining -= len(piece)
        records.append(BundleRecord(name_text, length, crc32_text(crc), remaining == 0))
        if remaining:
            return records, "the record %s is cut short (%d of %d bytes)" % (
                name_text, length - remaining, length), 0


# --- news ------------------------------------------------------------------------------------------

NEWS_FIELDS = ("title_ru", "text_ru", "title_en", "text_en", "date", "url_ru", "url_en")
NEWS_CARDS = 3


def news_warnings(text: str) -> Tuple[int, int, List[str]]:
    """How many cards a news text shows in the Russian and the English interface, and what the
    launcher would drop."""
    lines = [line[:-1] if line.endswith("\r") else line for line in text.split("\n")]
    first = next((line for line in lines if line and not line.startswith("#")), None)
    warnings: List[str] = []
    if first != "[news]":
        items = [line for line in lines if line]
        count = len(items) // 4
        if len(items) % 4:
            warnings.append("the last %d lines do not make a whole item of four lines and are dropped"
                            % (len(items) % 4))
        if first is not None and first.lstrip().lower().startswith("[news"):
            warnings.append("the first line is not exactly \"[news]\", so the file is read as four-line "
                            "items")
        if count > NEWS_CARDS:
            warnings.append("%d items: only the first %d are shown" % (count, NEWS_CARDS))
        shown = min(count, NEWS_CARDS)
        return shown, shown, warnings
    items: List[Dict[str, str]] = []
    for line in lines:
        if not line or line.startswith("#"):
            continue
        if line == "[news]":
            items.append({})
        elif items and "=" in line:
            key, _, value = line.partition("=")
            if key in NEWS_FIELDS:
                items[-1][key] = value
            else:
                warnings.append("item %d: the key %r is not one the launcher reads" % (len(items), key))
    russian = english = 0
    for number, item in enumerate(items, 1):
        if not all(item.get(k) for k in ("title_ru", "text_ru", "date", "url_ru")):
            warnings.append("item %d lacks one of title_ru, text_ru, date, url_ru: the Russian "
                            "interface drops it" % number)
        elif russian < NEWS_CARDS:
            russian += 1
        has_en = all(item.get(k + "_en") or item.get(k + "_ru") for k in ("title", "text", "url"))
        if not (has_en and item.get("date")):
            warnings.append("item %d lacks a title, text, date or url in English and Russian: the "
                            "English interface drops it" % number)
        elif english < NEWS_CARDS:
            english += 1
    if len(items) > NEWS_CARDS:
        warnings.append("%d items: at most %d are shown" % (len(items), NEWS_CARDS))
    return russian, english, warnings


def iter_chunks(stream: BinaryIO, size: int = _CHUNK) -> Iterator[bytes]:
    while True:
        piece = stream.read(size)
        if not piece:
            return
        yield piece
