#!/usr/bin/env bash
# `velmora device shot`: the whole screen with a known window and a known tray icon, read back
# through Pillow: the taskbar draws the icon where it belongs.
set -uo pipefail
# shellcheck source=../harness/device_test.sh
. "$VELMORA_ROOT/tests/harness/device_test.sh"
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
/usr/bin/python3 - "$tmp/screen.png" <<'PY'
import sys
from PIL import Image
fail = []
def expect(what, expected, actual):
    print(('ok: ' if expected == actual else 'FAIL: ') + '%s: expected %r, actual %r' % (what, expected, actual))
    if expected != actual:
        fail.append(what)
with Image.open(sys.argv[1]) as whole:
    expect('a PNG file', 'PNG', whole.format)
    whole.verify() # every chunk's CRC
shot = Image.open(sys.argv[1])
expect('size', (240, 320), shot.size)
expect('8-bit RGB', 'RGB', shot.mode)
pixel = lambda x, y: shot.getpixel((x, y))[:3]
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
