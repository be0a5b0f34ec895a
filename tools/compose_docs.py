#!/usr/bin/python3
"""Composes the README's pictures from the device's screenshots (PNGs of `velmora device shot`).

    compose_docs.py pages OUT.png PAGE.png...        the pages side by side, each without the
                                                     taskbar (its clock would change the picture)
    compose_docs.py tray OUT.png SHOT.png X,Y ...    for each screenshot the notification area
                                                     left of the clock up to the icon at X,Y,
                                                     four times enlarged, side by side

The same screenshots always give the same bytes: Pillow writes no time or other metadata, and
the compression level is fixed.
"""
import sys

from PIL import Image

TASKBAR = 26
GAP = 8
BACKGROUND = (255, 255, 255)


def read_picture(path):
    try:
        with Image.open(path) as picture:
            return picture.convert('RGB')
    except OSError as error:
        sys.exit('%s: not a picture (%s)' % (path, error))


def write_picture(path, picture):
    picture.save(path, 'PNG', compress_level=9)


def side_by_side(pictures):
    """With GAP pixels between and around them, aligned at the top."""
    width = GAP + sum(p.width + GAP for p in pictures)
    height = max(p.height for p in pictures) + 2 * GAP
    out = Image.new('RGB', (width, height), BACKGROUND)
    left = GAP
    for picture in pictures:
        out.paste(picture, (left, GAP))
        left += picture.width + GAP
    return out


def tray_part(shot, x):
    # The icon's slot is 20 wide and the clock starts where it ends.
    part = shot.crop((max(0, x - 50), 0, min(shot.width, x + 10), TASKBAR))
    return part.resize((part.width * 4, part.height * 4), Image.NEAREST)


def main(argv):
    if len(argv) >= 3 and argv[0] == 'pages':
        shots = [read_picture(path) for path in argv[2:]]
        write_picture(argv[1], side_by_side([s.crop((0, TASKBAR, s.width, s.height)) for s in shots]))
        return 0
    if len(argv) >= 4 and argv[0] == 'tray' and len(argv) % 2 == 0:
        parts = [tray_part(read_picture(path), int(place.split(',')[0]))
                 for path, place in zip(argv[2::2], argv[3::2])]
        write_picture(argv[1], side_by_side(parts))
        return 0
    sys.exit(__doc__)


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
