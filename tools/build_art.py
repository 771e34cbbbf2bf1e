#!/usr/bin/env python3
"""Builds the launcher's pictures from the SVG sources in resources/art.

Usage: build_art.py SOURCE_DIR OUT_DIR

Reads SOURCE_DIR/images.txt, writes one SVG per picture into OUT_DIR/svg (the composed and
state-filtered source, kept for inspection), renders it with rsvg-convert at the exact pixel size
of its row and writes OUT_DIR/<file>. The icon row becomes one ICO holding every listed size.

Button states are not drawn four times: a state wraps the one source in an SVG filter (hovered:
brighter with a gold halo; pressed: darker, pushed in by a top shadow, a little smaller;
disabled: grey and faded), so all buttons change state in the same way.

Every PNG written, the icon's included, keeps only its pixel and colour chunks: the same sources
give the same bytes on any machine and at any time.

Each picture is then re-encoded losslessly with zopflipng (a denser deflate stream of the same
pixels: every player downloads the launcher again at each update) and checked to decode to the
same pixels; the picture as rendered stays in OUT_DIR/raw for the picture benchmark.
"""

import concurrent.futures
import hashlib
import os
import re
import shutil
import struct
import subprocess
import sys
import xml.etree.ElementTree as ET

SVG_NS = "http://www.w3.org/2000/svg"
XLINK_NS = "http://www.w3.org/1999/xlink"
ET.register_namespace("", SVG_NS)
ET.register_namespace("xlink", XLINK_NS)

STATES = ("normal", "hovered", "pressed", "disabled")
ICON_SMALL_MAX_PX = 32

# A picture keeps its pixels and what says how to show them, nothing else: ImageMagick writes the
# time and its dates as tIME and tEXt chunks (and other tools their name and version), which would
# make two builds of one commit differ. The same sources must give the same bytes anywhere, at any
# time, so that a shipped launcher can be rebuilt and compared.
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"
PNG_KEPT_CHUNKS = (b"IHDR", b"PLTE", b"tRNS", b"gAMA", b"cHRM", b"sRGB", b"IDAT", b"IEND")


class Row:
    def __init__(self, line_no, image_id, file, size, source, state):
        self.line_no = line_no
        self.image_id = image_id
        self.file = file
        self.source = source
        self.state = state
        if file.endswith(".ico"):
            self.sizes = [int(s) for s in size.split(",")]
            self.width = self.height = None
        else:
            width, height = size.split("x")
            self.width, self.height = int(width), int(height)
            self.sizes = None


def read_table(source_dir):
    rows = []
    with open(os.path.join(source_dir, "images.txt"), encoding="utf-8") as table:
        for line_no, line in enumerate(table, 1):
            line = line.split("#", 1)[0].strip()
            if not line:
                continue
            fields = line.split()
            size_pattern = r"\d+(,\d+)*" if fields[1:2] and fields[1].endswith(".ico") else r"\d+x\d+"
            if (len(fields) != 5 or fields[4] not in STATES or not re.fullmatch(r"\d+", fields[0])
                    or not re.fullmatch(size_pattern, fields[2])):
                sys.exit(f"images.txt:{line_no}: expected 'id file size source state', got {line!r}")
            rows.append(Row(line_no, int(fields[0]), *fields[1:]))
    return rows


def load_svg(path):
    try:
        return ET.parse(path).getroot()
    except (OSError, ET.ParseError) as error:
        sys.exit(f"{path}: {error}")


def compose(source_dir, source):
    """The source's SVG tree; button:GLYPH puts glyph_GLYPH.svg into the medallion's glyph group."""
    if not source.startswith("button:"):
        return load_svg(os.path.join(source_dir, source + ".svg"))
    template_path = os.path.join(source_dir, "button_small.svg")
    root = load_svg(template_path)
    slot = root.find(f".//{{{SVG_NS}}}g[@id='glyph']")
    if slot is None:
        sys.exit(f"{template_path}: no <g id=\"glyph\"> to put the glyph into")
    glyph = load_svg(os.path.join(source_dir, "glyph_" + source[len("button:"):] + ".svg"))
    slot.extend(list(glyph))
    return root


def state_filter(state, width, height):
    """Filter and group transform of a state, sized to the picture (a 60 px button and a 448 px
    plaque get halos of the same proportion)."""
    unit = min(width, height) / 60.0
    region = f'filterUnits="userSpaceOnUse" x="0" y="0" width="{width}" height="{height}"'
    if state == "hovered":
        return (
            f'<filter id="state" {region} color-interpolation-filters="sRGB">'
            '<feComponentTransfer in="SourceGraphic" result="lit">'
            # Scaled, not lifted: dark faces stay dark under the label, the gold lights up.
            '<feFuncR type="linear" slope="1.35"/>'
            '<feFuncG type="linear" slope="1.32"/>'
            '<feFuncB type="linear" slope="1.15"/>'
            "</feComponentTransfer>"
            f'<feGaussianBlur in="SourceAlpha" stdDeviation="{2.6 * unit:.2f}" result="blur"/>'
            '<feFlood flood-color="#FFD700" flood-opacity="0.85"/>'
            '<feComposite in2="blur" operator="in" result="spread"/>'
            # Outside the shape only: a translucent panel must not turn gold inside.
            '<feComposite in="spread" in2="SourceAlpha" operator="out" result="halo"/>'
            '<feMerge><feMergeNode in="halo"/><feMergeNode in="lit"/></feMerge>'
            "</filter>",
            "",
        )
    if state == "pressed":
        shrink = 0.96
        cx, cy = width / 2, height / 2
        return (
            f'<filter id="state" {region} color-interpolation-filters="sRGB">'
            '<feComponentTransfer in="SourceGraphic" result="dark">'
            '<feFuncR type="linear" slope="0.7"/>'
            '<feFuncG type="linear" slope="0.68"/>'
            '<feFuncB type="linear" slope="0.66"/>'
            "</feComponentTransfer>"
            f'<feOffset in="SourceAlpha" dy="{2.2 * unit:.2f}" result="lowered"/>'
            '<feComposite in="SourceAlpha" in2="lowered" operator="out" result="lip"/>'
            f'<feGaussianBlur in="lip" stdDeviation="{1.6 * unit:.2f}" result="soft"/>'
            '<feComposite in="soft" in2="SourceAlpha" operator="in" result="shade"/>'
            '<feFlood flood-color="#000000" flood-opacity="0.85"/>'
            '<feComposite in2="shade" operator="in" result="inset"/>'
            '<feMerge><feMergeNode in="dark"/><feMergeNode in="inset"/></feMerge>'
            "</filter>",
            f"translate({cx:.2f} {cy + unit:.2f}) scale({shrink}) translate({-cx:.2f} {-cy:.2f})",
        )
    if state == "disabled":
        return (
            f'<filter id="state" {region} color-interpolation-filters="sRGB">'
            '<feColorMatrix in="SourceGraphic" type="saturate" values="0.05"/>'
            "<feComponentTransfer>"
            '<feFuncR type="linear" slope="0.62" intercept="0.02"/>'
            '<feFuncG type="linear" slope="0.62" intercept="0.02"/>'
            '<feFuncB type="linear" slope="0.66" intercept="0.03"/>'
            '<feFuncA type="linear" slope="0.8"/>'
            "</feComponentTransfer>"
            "</filter>",
            "",
        )
    return None, ""


def apply_state(root, state):
    if state == "normal":
        return root
    width = float(root.get("width"))
    height = float(root.get("height"))
    filter_text, transform = state_filter(state, width, height)
    defs = ET.fromstring(f'<defs xmlns="{SVG_NS}">{filter_text}</defs>')
    wrapper = ET.Element(f"{{{SVG_NS}}}g", {"filter": "url(#state)"})
    inner = ET.SubElement(wrapper, f"{{{SVG_NS}}}g", {"transform": transform} if transform else {})
    children = list(root)
    for child in children:
        root.remove(child)
        inner.append(child)
    root.append(defs)
    root.append(wrapper)
    return root


def plain_png(data):
    """The PNG with only the kept chunks, in their order."""
    if not data.startswith(PNG_SIGNATURE):
        raise ValueError("not a PNG file")
    kept, at = [PNG_SIGNATURE], len(PNG_SIGNATURE)
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        end = at + 12 + length
        if end > len(data):
            raise ValueError("a PNG chunk runs past the end of the file")
        if kind in PNG_KEPT_CHUNKS:
            kept.append(data[at:end])
        at = end
    return b"".join(kept)


def plain_icon(data):
    """The ICO with each PNG-compressed image made plain and its directory following the new sizes
    (small sizes are bitmaps, which hold nothing but pixels)."""
    header = data[:6]
    count = struct.unpack("<H", header[4:])[0]
    entries, images = [], []
    for index in range(count):
        entry = data[6 + 16 * index:22 + 16 * index]
        length, offset = struct.unpack("<II", entry[8:])
        image = data[offset:offset + length]
        entries.append(entry[:8])
        images.append(plain_png(image) if image.startswith(PNG_SIGNATURE) else image)
    at = 6 + 16 * count
    directory = [header]
    for entry, image in zip(entries, images):
        directory.append(entry + struct.pack("<II", len(image), at))
        at += len(image)
    return b"".join(directory + images)


def make_plain(path, plain):
    with open(path, "rb") as source:
        data = plain(source.read())
    with open(path, "wb") as target:
        target.write(data)


def render(svg_path, png_path, width, height, opaque=False, recompressed=True):
    """rsvg-convert at the exact size; an opaque picture loses its alpha channel (smaller, and the
    window background never shows through). An icon's layers are not re-encoded: the icon file is
    written anew from them."""
    temp = png_path + ".part"
    subprocess.run(["rsvg-convert", "-w", str(width), "-h", str(height), "-o", temp, svg_path], check=True)
    if opaque:
        flat = png_path + ".flat.png"
        subprocess.run(["convert", temp, "-background", "black", "-alpha", "remove", "-alpha", "off",
                        "-strip", "PNG24:" + flat], check=True)
        os.replace(flat, temp)
    make_plain(temp, plain_png)
    if not recompressed:
        os.replace(temp, png_path)
        return
    raw = os.path.join(os.path.dirname(png_path), "raw", os.path.basename(png_path))
    os.replace(temp, raw)
    recompress(raw, png_path)


def pixels(png_path, quiet=False):
    """The picture's pixels as 8-bit RGBA, the way ImageMagick decodes it."""
    return subprocess.run(["convert", png_path, "-depth", "8", "RGBA:-"], check=True,
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL if quiet else None).stdout


ZOPFLI_ARGS = ["-y", "--iterations=1"]


def cache_dir():
    """Where re-encoded pictures are kept between builds (the background alone takes half a minute,
    and the test command builds the pictures in three build folders): VARNHOLD_ART_CACHE, or a
    folder in the user's cache; empty VARNHOLD_ART_CACHE keeps none."""
    folder = os.environ.get("VARNHOLD_ART_CACHE")
    if folder is None:
        home_cache = os.environ.get("XDG_CACHE_HOME") or os.path.expanduser("~/.cache")
        folder = os.path.join(home_cache, "varnhold-art")
    return folder or None


def cache_key(raw):
    """The rendered bytes and how they are re-encoded: zopflipng's output depends on nothing else."""
    digest = hashlib.sha256(" ".join(ZOPFLI_ARGS).encode())
    with open(raw, "rb") as source:
        digest.update(source.read())
    return digest.hexdigest() + ".png"


def recompress(raw, png_path):
    """zopflipng's one-iteration mode: nearly all of its gain over zlib at a fraction of its time.
    Its output depends on the input bytes alone, so the build stays reproducible, and a picture
    re-encoded earlier from the same bytes is taken from the cache. Either way the result must
    decode to the rendered pixels."""
    temp = png_path + ".zopfli.png"
    cache = cache_dir()
    cached = os.path.join(cache, cache_key(raw)) if cache else None
    if cached and os.path.isfile(cached):
        shutil.copyfile(cached, temp)
        try:
            same = pixels(temp, quiet=True) == pixels(raw)
        except subprocess.CalledProcessError:
            same = False  # a damaged entry: re-encoded below and written again
        if same:
            os.replace(temp, png_path)
            return
    subprocess.run(["zopflipng", *ZOPFLI_ARGS, raw, temp], check=True, stdout=subprocess.DEVNULL)
    make_plain(temp, plain_png)
    if pixels(temp) != pixels(raw):
        raise ValueError(f"{png_path}: the re-encoded picture has other pixels than the rendered one")
    if cached:
        try:
            os.makedirs(cache, exist_ok=True)
            part = f"{cached}.{os.getpid()}.part"
            shutil.copyfile(temp, part)
            os.replace(part, cached)
        except OSError:
            pass  # no cache: the next build re-encodes again
    os.replace(temp, png_path)


def build_picture(source_dir, out_dir, row):
    root = apply_state(compose(source_dir, row.source), row.state)
    stem = os.path.splitext(row.file)[0]
    svg_path = os.path.join(out_dir, "svg", stem + ".svg")
    ET.ElementTree(root).write(svg_path, encoding="utf-8", xml_declaration=True)
    render(svg_path, os.path.join(out_dir, row.file), row.width, row.height, opaque=row.image_id == 152)


def build_icon(source_dir, out_dir, row):
    layers = []
    for size in row.sizes:
        stem = row.source + ("_small" if size <= ICON_SMALL_MAX_PX else "")
        if not os.path.exists(os.path.join(source_dir, stem + ".svg")):
            stem = row.source
        svg_path = os.path.join(out_dir, "svg", f"{stem}.svg")
        shutil.copyfile(os.path.join(source_dir, stem + ".svg"), svg_path)
        layer = os.path.join(out_dir, "svg", f"{os.path.splitext(row.file)[0]}-{size}.png")
        render(svg_path, layer, size, size, recompressed=False)
        layers.append(layer)
    temp = os.path.join(out_dir, row.file + ".part.ico")
    subprocess.run(["convert", *layers, temp], check=True)
    make_plain(temp, plain_icon)
    os.replace(temp, os.path.join(out_dir, row.file))


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__.strip().splitlines()[2])
    source_dir, out_dir = sys.argv[1], sys.argv[2]
    for tool in ("rsvg-convert", "convert", "zopflipng"):
        if shutil.which(tool) is None:
            sys.exit(f"{tool} is missing: run scripts/install-deps.sh")
    os.makedirs(os.path.join(out_dir, "svg"), exist_ok=True)
    os.makedirs(os.path.join(out_dir, "raw"), exist_ok=True)
    rows = read_table(source_dir)
    # Two workers: the machine is shared, and the background alone is half the work.
    with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
        jobs = [pool.submit(build_icon if row.sizes else build_picture, source_dir, out_dir, row)
                for row in rows]
        for row, job in zip(rows, jobs):
            try:
                job.result()
            except (subprocess.CalledProcessError, ValueError) as error:
                sys.exit(f"images.txt:{row.line_no} ({row.file}): {error}")


if __name__ == "__main__":
    main()
