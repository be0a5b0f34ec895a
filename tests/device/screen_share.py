#!/usr/bin/python3
"""For the browser test: how much of the browser's picture of the screen is the device's own.

    screen_share.py DEVICE.png BROWSER.png TOP:BOTTOM...

prints one JSON object: for each band of rows the share of its pixels that the browser shows
as the device has them (each channel within 8), and two pixels of the browser's picture, one
in the taskbar and one in the window below it.
"""
import json
import sys

from PIL import Image, ImageChops

TOLERANCE = 8


def share(device, browser, top, bottom):
    box = (0, top, device.width, bottom)
    difference = ImageChops.difference(device.crop(box), browser.crop(box)).getdata()
    same = sum(1 for pixel in difference if max(pixel) <= TOLERANCE)
    return same / float(device.width * (bottom - top))


def main(argv):
    with Image.open(argv[0]) as d, Image.open(argv[1]) as b:
        device, browser = d.convert('RGB'), b.convert('RGB')
    if device.size != browser.size:
        sys.exit('expected pictures of one size, got %r and %r' % (device.size, browser.size))
    bands = [tuple(int(n) for n in band.split(':')) for band in argv[2:]]
    print(json.dumps({'shares': [share(device, browser, top, bottom) for top, bottom in bands],
                      'taskbar': browser.getpixel((2, 2)), 'below': browser.getpixel((120, 100))}))
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
