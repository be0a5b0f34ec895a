#!/usr/bin/env python3
"""Composes the README's pictures from the device's screenshots (PNGs of `velmora device shot`).

    compose_docs.py pages OUT.png PAGE.png...        the pages side by side, each without the
                                                     taskbar (its clock would change the picture)
    compose_docs.py tray OUT.png SHOT.png X,Y ...    for each screenshot the notification area
                                                     left of the clock up to the icon at X,Y,
                                                     four times enlarged, side by side

The same screenshots always give the same bytes: fixed filter and compression level.
"""
import struct
import sys
import zlib

TASKBAR = 26
GAP = 8
BACKGROUND = (255, 255, 255)


def read_png(path):
    return decode_png(open(path, 'rb').read(), path)


def decode_png(data, path='the picture'):
    """8-bit RGB or RGBA, any filter; rows of (r, g, b)."""
    if data[:8] != b'\x89PNG\r\n\x1a\n':
        sys.exit('%s: not a PNG file' % path)
    at, idat, header = 8, b'', None
    while at < len(data):
        length, kind = struct.unpack('>I4s', data[at:at + 8])
        if kind == b'IHDR':
            header = struct.unpack('>IIBBBBB', data[at + 8:at + 8 + length])
        elif kind == b'IDAT':
            idat += data[at + 8:at + 8 + length]
        at += 12 + length
    width, height, depth, colour, _, _, interlace = header
    if depth != 8 or colour not in (2, 6) or interlace:
        sys.exit('%s: expected 8-bit RGB or RGBA without interlace' % path)
    size = 3 if colour == 2 else 4
    raw, stride = zlib.decompress(idat), width * size
    rows, prior = [], bytearray(stride)
    for y in range(height):
        start = y * (stride + 1)
        kind, line = raw[start], bytearray(raw[start + 1:start + 1 + stride])
        for i in range(stride):
            a = line[i - size] if i >= size else 0
            b = prior[i]
            c = prior[i - size] if i >= size else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append([tuple(line[x * size:x * size + 3]) for x in range(width)])
        prior = line
    return rows


def write_png(path, rows):
    width, height = len(rows[0]), len(rows)
    raw = b''.join(b'\0' + bytes(v for pixel in row for v in pixel) for row in rows)

    def chunk(kind, body):
        return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body))

    with open(path, 'wb') as out:
        out.write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 2, 0, 0, 0)) +
                  chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))


def side_by_side(pictures):
    """With GAP pixels between and around them, aligned at the top."""
    height = max(len(p) for p in pictures) + 2 * GAP
    rows = [[BACKGROUND] * GAP for _ in range(height)]
    for picture in pictures:
        for y in range(height):
            inside = GAP <= y < GAP + len(picture)
            rows[y] += (picture[y - GAP] if inside else [BACKGROUND] * len(picture[0])) + [BACKGROUND] * GAP
    return rows


def crop(rows, left, top, right, bottom):
    return [row[left:right] for row in rows[top:bottom]]


def enlarged(rows, factor):
    return [[pixel for pixel in row for _ in range(factor)] for row in rows for _ in range(factor)]


def main(argv):
    if len(argv) >= 3 and argv[0] == 'pages':
        shots = [read_png(path) for path in argv[2:]]
        write_png(argv[1], side_by_side([crop(s, 0, TASKBAR, len(s[0]), len(s)) for s in shots]))
        return 0
    if len(argv) >= 4 and argv[0] == 'tray' and len(argv) % 2 == 0:
        parts = []
        for path, place in zip(argv[2::2], argv[3::2]):
            x = int(place.split(',')[0])
            # The icon's slot is 20 wide and the clock starts where it ends.
            shot = read_png(path)
            parts.append(enlarged(crop(shot, max(0, x - 50), 0, x + 10, TASKBAR), 4))
        write_png(argv[1], side_by_side(parts))
        return 0
    sys.exit(__doc__)


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
