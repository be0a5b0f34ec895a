#!/usr/bin/env bash
# `velmora device shot`: the whole screen with a known window and a known tray icon, read back
# with a PNG reader of its own (Python's zlib): the taskbar draws the icon where it belongs.
set -uo pipefail
v() { "$VELMORA_ROOT/velmora" device "$@"; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
wine "$VELMORA_BUILD/tests/screen_tests.exe" --child pattern &
pattern=$!
for _ in $(seq 200); do
    v tray | grep -q '"VelmoraTestPattern"' && break
    sleep 0.1
done
sleep 0.5 # let it paint
(cd "$tmp" && v shot screen.png) # a relative name, as a person would give it
rc=$?
kill "$pattern" 2>/dev/null
wait "$pattern" 2>/dev/null
[ $rc = 0 ] || { echo "FAIL: shot exited $rc"; exit 1; }
python3 - "$tmp/screen.png" <<'PY'
import struct, sys, zlib
data = open(sys.argv[1], 'rb').read()
assert data[:8] == b'\x89PNG\r\n\x1a\n', 'not a PNG file'
at, idat, header = 8, b'', None
while at < len(data):
    length, kind = struct.unpack('>I4s', data[at:at + 8])
    body = data[at + 8:at + 8 + length]
    crc, = struct.unpack('>I', data[at + 8 + length:at + 12 + length])
    assert zlib.crc32(kind + body) == crc, 'bad CRC in ' + kind.decode()
    if kind == b'IHDR':
        header = struct.unpack('>IIBBBBB', body)
    elif kind == b'IDAT':
        idat += body
    at += 12 + length
width, height, depth, colour = header[:4]
fail = []
def expect(what, expected, actual):
    print(('ok: ' if expected == actual else 'FAIL: ') + '%s: expected %r, actual %r' % (what, expected, actual))
    if expected != actual:
        fail.append(what)
expect('size', (240, 320), (width, height))
expect('8-bit RGB', (8, 2), (depth, colour))
raw = zlib.decompress(idat)
stride = 1 + 3 * width
def pixel(x, y):
    row = raw[y * stride:(y + 1) * stride]
    assert row[0] == 0, 'unexpected filter'
    return tuple(row[1 + 3 * x:4 + 3 * x])
expect('left half of the window', (255, 0, 0), pixel(60, 150))
expect('right half of the window', (0, 0, 255), pixel(180, 150))
bar, below = pixel(60, 10), pixel(60, 60)
expect('the taskbar differs from the screen below it', True, bar != below)
green = [(x, y) for y in range(320) for x in range(240) if pixel(x, y) == (0, 255, 0)]
xs, ys = [x for x, _ in green], [y for _, y in green]
expect('green pixels: one 16 x 16 icon', 256, len(green))
if green:
    expect('the icon centred in the 26-pixel taskbar', (5, 20), (min(ys), max(ys)))
    expect('the icon on the right half of the taskbar', True, min(xs) > 120 and max(xs) - min(xs) == 15)
colours = {pixel(x, y) for x in range(0, 240, 4) for y in range(0, 320, 4)}
expect('not all one colour (at least 4 colours)', True, len(colours) >= 4)
sys.exit(1 if fail else 0)
PY
