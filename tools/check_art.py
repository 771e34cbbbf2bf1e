#!/usr/bin/env python3
"""Checks the launcher's pictures after a build.

Usage: check_art.py TABLE ART_DIR EXE

- every picture the window loads is listed in TABLE (resources/art/images.txt), was built into
  ART_DIR with exactly the pixel size of its role, and is embedded in EXE as a "PNG" resource
  under its number with that same size;
- the icon file holds 16, 24, 32, 48 and 256 px images, and EXE has it as icon group 200 with
  those five sizes;
- no picture, and no PNG image of the icon, carries a time or text chunk (a build time, a tool's
  name and version): two builds of one commit must give the same bytes.

The sizes below are what the window code is written for; they are stated here again on purpose,
so that a wrong size in the table or in a source is caught rather than built.
Prints one line per fault and exits with 1 if there is any.
"""

import struct
import sys

SMALL = (60, 60)
EXPECTED_PX = {152: (1920, 1080), 167: (112, 112), 187: (680, 208), 188: (680, 208), 189: (1850, 337)}
EXPECTED_PX.update({image_id: SMALL for image_id in (156, 157, 158, 159, 160, 161)})
EXPECTED_PX.update({image_id: (448, 252) for image_id in (168, 169, 170, 171)})
EXPECTED_PX.update({image_id: SMALL for image_id in range(172, 187)})
EXPECTED_PX.update({image_id: SMALL for image_id in range(190, 196)})
ICON_ID = 200
ICON_PX = [16, 24, 32, 48, 256]
RT_ICON, RT_GROUP_ICON = 3, 14
UNWANTED_CHUNKS = (b"tIME", b"tEXt", b"zTXt", b"iTXt", b"eXIf")

def image_size(data):
    """(width, height) of a PNG, or of the DIB of an icon image (its height counts the mask too),
    or None."""
    if data[:8] == b"\x89PNG\r\n\x1a\n":
        if len(data) < 24 or data[12:16] != b"IHDR" or not data.rstrip(b"\0").endswith(b"IEND\xaeB`\x82"):
            return None
        return struct.unpack(">II", data[16:24])
    if len(data) >= 12 and struct.unpack("<I", data[:4])[0] == 40:
        width, height = struct.unpack("<ii", data[4:12])
        return width, height // 2
    return None


def unwanted_chunks(data):
    """The names of the time and text chunks of a PNG, in file order (none for other data)."""
    found = []
    at = 8
    while data[:8] == b"\x89PNG\r\n\x1a\n" and at + 8 <= len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        if kind in UNWANTED_CHUNKS:
            found.append(kind.decode("ascii"))
        at += 12 + length
    return found


def read_table(path):
    """{id: output file name} of the table."""
    files = {}
    with open(path, encoding="utf-8") as table:
        for line in table:
            fields = line.split("#", 1)[0].split()
            if fields and fields[0].isdigit():
                files[int(fields[0])] = fields[1]
    return files


def check_built_files(table_path, art_dir):
    """Faults of the pictures built into art_dir, one text each."""
    faults = []
    fault = faults.append
    files = read_table(table_path)
    for image_id, size in sorted(EXPECTED_PX.items()):
        if image_id not in files:
            fault(f"picture {image_id} is missing from {table_path}")
            continue
        path = f"{art_dir}/{files[image_id]}"
        try:
            with open(path, "rb") as built:
                data = built.read()
        except OSError as error:
            fault(f"picture {image_id}: {error}")
            continue
        actual = image_size(data)
        if actual != size:
            fault(f"picture {image_id} ({path}) is {actual}, its role needs {size}")
        if unwanted_chunks(data):
            fault(f"picture {image_id} ({path}) carries {', '.join(unwanted_chunks(data))}")
    if ICON_ID not in files:
        fault(f"icon {ICON_ID} is missing from {table_path}")
        return faults
    path = f"{art_dir}/{files[ICON_ID]}"
    try:
        with open(path, "rb") as icon:
            data = icon.read()
    except OSError as error:
        fault(f"icon {ICON_ID}: {error}")
        return faults
    reserved, kind, count = struct.unpack("<HHH", data[:6])
    if reserved != 0 or kind != 1:
        fault(f"{path} is not an icon file")
        return faults
    sizes = []
    for index in range(count):
        width, height, _, _, _, _, length, offset = struct.unpack("<BBBBHHII", data[6 + 16 * index:22 + 16 * index])
        width, height = width or 256, height or 256
        image = data[offset:offset + length]
        if image_size(image) != (width, height):
            fault(f"{path}: the {width} px image does not hold {width} x {height} pixels")
        if unwanted_chunks(image):
            fault(f"{path}: the {width} px image carries {', '.join(unwanted_chunks(image))}")
        sizes.append(width)
    if sorted(sizes) != ICON_PX:
        fault(f"{path} holds {sorted(sizes)} px, the window needs {ICON_PX}")
    return faults


class PeResources:
    """The resource directory of a PE file (32 or 64 bit). tree: {type: {name: data}} for the first
    language of each resource, types and names being numbers or strings; places: the same keys
    with the file offsets of the name's directory entry and of the data."""

    def __init__(self, path):
        with open(path, "rb") as exe:
            self.data = exe.read()
        data = self.data
        if data[:2] != b"MZ":
            raise ValueError("not an executable")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE header")
        _, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
        optional = pe + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        directories = optional + {0x10B: 96, 0x20B: 112}[magic]
        rsrc_rva, _ = struct.unpack_from("<II", data, directories + 2 * 8)
        self.sections = []
        table = optional + optional_size
        for index in range(sections):
            _, virtual_size, rva, raw_size, raw_offset = struct.unpack_from("<8sIIII", data, table + 40 * index)
            self.sections.append((rva, max(virtual_size, raw_size), raw_offset))
        if not rsrc_rva:
            raise ValueError("no resources")
        self.base = self.offset(rsrc_rva)
        self.tree, self.places = {}, {}
        for kind, names, _ in self.entries(0):
            self.tree[kind], self.places[kind] = {}, {}
            for name, languages, entry_at in self.entries(names):
                data_at, size = self.leaf(languages)
                self.tree[kind][name] = data[data_at:data_at + size]
                self.places[kind][name] = (entry_at, data_at)

    def offset(self, rva):
        for start, size, raw in self.sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError(f"address {rva:#x} lies in no section")

    def entries(self, directory):
        """(id or name, offset of the subdirectory or leaf, file offset of the entry) for each entry
        of a resource directory."""
        at = self.base + directory
        named, numbered = struct.unpack_from("<HH", self.data, at + 12)
        for index in range(named + numbered):
            entry_at = at + 16 + 8 * index
            key, target = struct.unpack_from("<II", self.data, entry_at)
            if key & 0x80000000:
                name_at = self.base + (key & 0x7FFFFFFF)
                length = struct.unpack_from("<H", self.data, name_at)[0]
                key = self.data[name_at + 2:name_at + 2 + 2 * length].decode("utf-16-le")
            yield key, target & 0x7FFFFFFF, entry_at

    def leaf(self, languages):
        """File offset and size of the data of the first language."""
        _, entry, _ = next(self.entries(languages))
        rva, size = struct.unpack_from("<II", self.data, self.base + entry)
        return self.offset(rva), size


def check_executable(exe_path):
    """Faults of the pictures and the icon embedded in the executable, one text each."""
    faults = []
    fault = faults.append
    try:
        resources = PeResources(exe_path)
    except (OSError, ValueError, KeyError, struct.error, StopIteration) as error:
        fault(f"{exe_path}: cannot read its resources: {error}")
        return faults
    pictures = resources.tree.get("PNG", {})
    for image_id, size in sorted(EXPECTED_PX.items()):
        if image_id not in pictures:
            fault(f"{exe_path} has no PNG resource {image_id}")
        elif image_size(pictures[image_id]) != size:
            fault(f"{exe_path}: PNG resource {image_id} is {image_size(pictures[image_id])}, its role needs {size}")
    group = resources.tree.get(RT_GROUP_ICON, {}).get(ICON_ID)
    if group is None:
        fault(f"{exe_path} has no icon group {ICON_ID}")
        return faults
    _, _, count = struct.unpack_from("<HHH", group, 0)
    sizes = []
    for index in range(count):
        width, height, _, _, _, _, _, icon_id = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * index)
        width, height = width or 256, height or 256
        image = resources.tree.get(RT_ICON, {}).get(icon_id)
        if image is None or image_size(image) != (width, height):
            fault(f"{exe_path}: icon {ICON_ID} lists a {width} px image that it does not hold")
        sizes.append(width)
    if sorted(sizes) != ICON_PX:
        fault(f"{exe_path}: icon {ICON_ID} holds {sorted(sizes)} px, the window needs {ICON_PX}")
    return faults


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__.strip().splitlines()[2])
    table_path, art_dir, exe_path = sys.argv[1:]
    faults = check_built_files(table_path, art_dir) + check_executable(exe_path)
    for text in faults:
        print(text)
    if faults:
        return 1
    print(f"{len(EXPECTED_PX)} pictures and the icon ({', '.join(map(str, ICON_PX))} px) as the window needs them, "
          f"in {art_dir} and in {exe_path}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
