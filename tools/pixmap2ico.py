#!/usr/bin/env python3
"""Turns a text pixel map into a 16-colour .ico, so icons stay readable and editable.

The map lists its colours, one character each ("none" is transparent), then one block of
rows per image size:

    colors
    . none
    k 000000
    y ffff00
    image 16
    ................   (16 rows of 16 characters)
    image 32
    ...                (32 rows of 32 characters)

Lines starting with # are comments.
"""
import struct
import sys


def parse(text, source):
    colors, images, current, size = {}, [], None, 0
    mode = None
    for number, raw in enumerate(text.splitlines(), 1):
        line = raw.rstrip()
        if not line or line.startswith("#"):
            continue

        def fail(why):
            sys.exit(f"{source}:{number}: {why}")

        if line == "colors":
            mode = "colors"
        elif line.startswith("image "):
            size = int(line.split()[1])
            current = []
            images.append((size, current))
            mode = "image"
        elif mode == "colors":
            parts = line.split()
            if len(parts) != 2 or len(parts[0]) != 1:
                fail("expected 'CHAR RRGGBB' or 'CHAR none'")
            colors[parts[0]] = None if parts[1] == "none" else int(parts[1], 16)
        elif mode == "image":
            if len(line) != size:
                fail(f"expected {size} pixels, got {len(line)}")
            unknown = set(line) - set(colors)
            if unknown:
                fail(f"unknown colour {''.join(sorted(unknown))!r}")
            if len(current) == size:
                fail(f"more than {size} rows")
            current.append(line)
        else:
            fail("expected 'colors' first")
    for size, rows in images:
        if len(rows) != size:
            sys.exit(f"{source}: image {size} has {len(rows)} rows")
    opaque = sorted({c for c, v in colors.items() if v is not None})
    if len(opaque) > 15:
        sys.exit(f"{source}: at most 15 colours besides 'none'")
    return colors, opaque, images


def image_data(colors, opaque, size, rows):
    # Palette index 0 is black, used under transparent pixels; the others follow the map.
    palette = [0x000000] + [colors[c] for c in opaque]
    palette += [0] * (16 - len(palette))
    index = {c: i + 1 for i, c in enumerate(opaque)}
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    pal = b"".join(struct.pack("<BBBB", v & 0xFF, (v >> 8) & 0xFF, v >> 16, 0) for v in palette)
    xor, mask = b"", b""
    mask_stride = ((size + 31) // 32) * 4
    for row in reversed(rows):  # bottom-up
        nibbles = [index.get(c, 0) for c in row]
        line = bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, size, 2))
        xor += line + b"\0" * ((-len(line)) % 4)
        bits = 0
        for c in row:
            bits = (bits << 1) | (1 if colors[c] is None else 0)
        mline = bits.to_bytes(size // 8, "big")
        mask += mline + b"\0" * (mask_stride - len(mline))
    return header + pal + xor + mask


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: pixmap2ico.py MAP.txt OUT.ico")
    with open(sys.argv[1], encoding="utf-8") as f:
        colors, opaque, images = parse(f.read(), sys.argv[1])
    blobs = [image_data(colors, opaque, size, rows) for size, rows in images]
    out = struct.pack("<HHH", 0, 1, len(blobs))
    offset = 6 + 16 * len(blobs)
    for (size, _), blob in zip(images, blobs):
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 16, 0, 1, 4, len(blob), offset)
        offset += len(blob)
    with open(sys.argv[2], "wb") as f:
        f.write(out + b"".join(blobs))


if __name__ == "__main__":
    main()
