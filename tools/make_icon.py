#!/usr/bin/env python3
"""Build the setup icon (.ico) from its pixel text.

Usage:
    make_icon.py TEXT OUT.ico          write the icon
    make_icon.py TEXT --check ICO      exit 1 if ICO differs from TEXT's icon

TEXT holds two blocks of pixel rows, 32x32 then 16x16, one character per
pixel, separated by blank lines; lines starting with '#' are comments.
Each image is stored as 4 bits per pixel with the 16-colour VGA palette
and a 1-bit AND mask.
"""

import argparse
import struct
import sys

# Pixel characters in palette order: index i is PIXEL_CHARS[i].
PIXEL_CHARS = "kmgonptsdrlybfaw"
TRANSPARENT = "."
PALETTE = (
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00),
    (0x80, 0x80, 0x00), (0x00, 0x00, 0x80), (0x80, 0x00, 0x80),
    (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0), (0x80, 0x80, 0x80),
    (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF),
    (0xFF, 0xFF, 0xFF),
)
SIZES = (32, 16)


class IconTextError(Exception):
    """A malformed pixel text; the message names the offending line."""


def split_blocks(text, name):
    """Return the pixel blocks as lists of (line number, row) pairs."""
    blocks, current = [], []
    for number, line in enumerate(text.split("\n"), 1):
        line = line.rstrip("\r")
        if line.startswith("#"):
            continue
        if not line.strip():
            if current:
                blocks.append(current)
                current = []
            continue
        for char in line:
            if char != TRANSPARENT and char not in PIXEL_CHARS:
                raise IconTextError(
                    f"{name}:{number}: unknown pixel character {char!r}")
        current.append((number, line))
    if current:
        blocks.append(current)
    return blocks


def parse_icon_text(text, name="<text>"):
    """Return the pixel rows of the two images, largest first."""
    blocks = split_blocks(text, name)
    if len(blocks) != len(SIZES):
        raise IconTextError(
            f"{name}: expected {len(SIZES)} pixel blocks, found {len(blocks)}")
    images = []
    for size, block in zip(SIZES, blocks):
        if len(block) != size:
            raise IconTextError(
                f"{name}:{block[0][0]}: block has {len(block)} rows,"
                f" expected {size}")
        for number, row in block:
            if len(row) != size:
                raise IconTextError(
                    f"{name}:{number}: row has {len(row)} pixels,"
                    f" expected {size}")
        images.append([row for _, row in block])
    return images


def pack_rows(bit_rows, bits):
    """Pack rows of small integers bottom-up, each row padded to 4 bytes."""
    out = bytearray()
    for values in reversed(bit_rows):
        acc = 0
        for value in values:
            acc = (acc << bits) | value
        count = len(values) * bits
        stride = (count + 31) // 32 * 32
        out += (acc << (stride - count)).to_bytes(stride // 8, "big")
    return bytes(out)


def build_image(rows):
    """Return the BITMAPINFOHEADER, palette, XOR and AND data of one image."""
    size = len(rows)
    colours = [[PIXEL_CHARS.find(c) if c != TRANSPARENT else 0 for c in row]
               for row in rows]
    mask = [[1 if c == TRANSPARENT else 0 for c in row] for row in rows]
    xor_data = pack_rows(colours, 4)
    and_data = pack_rows(mask, 1)
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 4, 0,
                         len(xor_data) + len(and_data), 0, 0, 0, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0)
                       for r, g, b in PALETTE)
    return header + palette + xor_data + and_data


def build_ico(images):
    """Return the .ico file: ICONDIR, one ICONDIRENTRY per image, images."""
    bodies = [build_image(rows) for rows in images]
    out = bytearray(struct.pack("<HHH", 0, 1, len(bodies)))
    offset = 6 + 16 * len(bodies)
    for rows, body in zip(images, bodies):
        size = len(rows)
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4,
                           len(body), offset)
        offset += len(body)
    for body in bodies:
        out += body
    return bytes(out)


def check_ico(path, expected):
    """Return 0 if the file at path holds exactly the expected bytes."""
    try:
        with open(path, "rb") as stream:
            actual = stream.read()
    except OSError as error:
        print(f"make_icon: {error}", file=sys.stderr)
        return 1
    if actual != expected:
        print(f"make_icon: {path} differs from the generated icon",
              file=sys.stderr)
        return 1
    return 0


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("text", help="pixel text file")
    parser.add_argument("out", nargs="?", help=".ico file to write")
    parser.add_argument("--check", metavar="ICO",
                        help="compare ICO with the generated icon instead")
    args = parser.parse_args(argv)
    if (args.out is None) == (args.check is None):
        parser.error("give either OUT.ico or --check ICO")
    try:
        with open(args.text, encoding="utf-8") as stream:
            ico = build_ico(parse_icon_text(stream.read(), args.text))
    except (OSError, UnicodeDecodeError, IconTextError) as error:
        print(f"make_icon: {error}", file=sys.stderr)
        return 1
    if args.check is not None:
        return check_ico(args.check, ico)
    try:
        with open(args.out, "wb") as stream:
            stream.write(ico)
    except OSError as error:
        print(f"make_icon: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
