#!/usr/bin/env python3
"""Checks the application manifest embedded in Windows executables.

Each executable must carry a resource of type 24 (manifest) with id 1 that asks for the invoker's
rights (asInvoker), lists Windows 7 to 11 as supported, declares system DPI awareness and long
path awareness, and depends on common controls version 6. When several executables are given,
they must all carry the same bytes (the 32-bit product and the 64-bit test build).

usage: scripts/check-manifest.py EXE [EXE...]
"""
import struct
import sys
import xml.etree.ElementTree as ElementTree

MANIFEST_TYPE = 24
MANIFEST_ID = 1
RESOURCE_DIRECTORY = 2  # index of the resource table among the data directories

ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPATIBILITY = "{urn:schemas-microsoft-com:compatibility.v1}"
SETTINGS_2005 = "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}"
SETTINGS_2016 = "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}"
SUPPORTED_OS = {
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "Windows 7",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "Windows 8",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "Windows 8.1",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "Windows 10 and 11",
}


class BadImage(Exception):
    pass


def read_resource(image: bytes, type_id: int, name_id: int):
    """The bytes of the first language of resource type_id/name_id, or None."""
    if image[:2] != b"MZ":
        raise BadImage("not an MZ executable")
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    if image[pe:pe + 4] != b"PE\0\0":
        raise BadImage("no PE header")
    sections = struct.unpack_from("<H", image, pe + 6)[0]
    optional_size = struct.unpack_from("<H", image, pe + 20)[0]
    optional = pe + 24
    magic = struct.unpack_from("<H", image, optional)[0]
    directories = optional + {0x10B: 96, 0x20B: 112}.get(magic, -1)
    if directories < optional:
        raise BadImage("unknown optional header 0x%x" % magic)
    table_rva = struct.unpack_from("<I", image, directories + 8 * RESOURCE_DIRECTORY)[0]
    if table_rva == 0:
        return None

    section_table = optional + optional_size
    mapping = []
    for index in range(sections):
        entry = section_table + 40 * index
        virtual_size, virtual_address, raw_size, raw_offset = struct.unpack_from("<IIII", image, entry + 8)
        mapping.append((virtual_address, max(virtual_size, raw_size), raw_offset))

    def offset(rva: int) -> int:
        for start, size, raw in mapping:
            if start <= rva < start + size:
                return raw + rva - start
        raise BadImage("address 0x%x lies in no section" % rva)

    root = offset(table_rva)

    def entries(directory: int):
        named, numbered = struct.unpack_from("<HH", image, directory + 12)
        for index in range(named + numbered):
            name, target = struct.unpack_from("<II", image, directory + 16 + 8 * index)
            yield name, target

    def find(directory: int, wanted):
        for name, target in entries(directory):
            if wanted is None or (not name & 0x80000000 and name == wanted):
                return target
        return None

    level = find(root, type_id)
    if level is None or not level & 0x80000000:
        return None
    level = find(root + (level & 0x7FFFFFFF), name_id)
    if level is None or not level & 0x80000000:
        return None
    leaf = find(root + (level & 0x7FFFFFFF), None)  # any language
    if leaf is None or leaf & 0x80000000:
        return None
    data_rva, size = struct.unpack_from("<II", image, root + leaf)
    start = offset(data_rva)
    return image[start:start + size]


def problems_of(manifest: bytes):
    try:
        assembly = ElementTree.fromstring(manifest)
    except ElementTree.ParseError as error:
        return ["not well-formed XML: %s" % error]
    found = []
    if assembly.tag != ASM_V1 + "assembly":
        found.append("the root element is %s, not assembly" % assembly.tag)
    levels = [e.get("level") for e in assembly.iter(ASM_V3 + "requestedExecutionLevel")]
    if levels != ["asInvoker"]:
        found.append("requested execution level %s, not asInvoker" % levels)
    listed = {e.get("Id", "").lower() for e in assembly.iter(COMPATIBILITY + "supportedOS")}
    for guid, name in SUPPORTED_OS.items():
        if guid not in listed:
            found.append("%s is not listed as supported" % name)
    settings = {}
    for namespace in (SETTINGS_2005, SETTINGS_2016):
        for name in ("dpiAware", "dpiAwareness", "longPathAware"):
            for element in assembly.iter(namespace + name):
                settings[name] = (element.text or "").strip().lower()
    if settings.get("dpiAware") != "true" or settings.get("dpiAwareness", "system") != "system":
        found.append("not system DPI aware (%s)" % settings)
    if settings.get("longPathAware") != "true":
        found.append("not long path aware")
    controls = [
        e for e in assembly.iter(ASM_V1 + "assemblyIdentity")
        if e.get("name") == "Microsoft.Windows.Common-Controls"
    ]
    if not controls or controls[0].get("version") != "6.0.0.0":
        found.append("no dependency on common controls 6.0.0.0")
    return found


def main(paths):
    if not paths:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    status = 0
    seen = {}
    for path in paths:
        try:
            with open(path, "rb") as file:
                manifest = read_resource(file.read(), MANIFEST_TYPE, MANIFEST_ID)
        except (OSError, BadImage, struct.error) as error:
            print("%s: cannot read the resources: %s" % (path, error))
            status = 1
            continue
        if manifest is None:
            print("%s: no manifest resource (type 24, id 1)" % path)
            status = 1
            continue
        problems = problems_of(manifest)
        for problem in problems:
            print("%s: manifest: %s" % (path, problem))
        status = status or (1 if problems else 0)
        seen[path] = manifest
        if not problems:
            print("%s: manifest (type 24, id 1, %d bytes): asInvoker, Windows 7 to 11, system DPI aware, "
                  "long path aware, common controls 6" % (path, len(manifest)))
    if len(set(seen.values())) > 1:
        print("the executables carry different manifests: " + ", ".join(seen))
        status = 1
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
