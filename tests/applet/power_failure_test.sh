#!/usr/bin/env bash
# A simulated power failure through to the cold boot: after "Ja" on the page "Stromausfall"
# the next reset brings the device back as it left the factory.
set -uo pipefail
# shellcheck source=../harness/device_test.sh
. "$VELMORA_ROOT/tests/harness/device_test.sh"
settings='HKCU\Software\Zilp\Velmora'
backlight='HKCU\ControlPanel\Backlight'
value() { v reg "$1" 2>&1 | tr -d '\r' | grep -F "\"$2\"" || echo "none"; }
cleanflag() { wine "$VELMORA_DEVICE/prefix/drive_c/windows/devtool.exe" cleanflag | tr -d '\r'; }

# A device with the procedure (whatever an earlier test left out), in use: the lock icon on, own idle timeouts, a backlight time and a value of the test.
v exports --restore-all
v reg "$settings" ShowLockIcon=1 ExternalOnly=1
v reg "$backlight" BatteryTimeout=99 TestMarker=7
v timeouts --battery 0 --external 77 --wakeup 15 >/dev/null
expect '"BatteryTimeout" = dword:00000063 (99)' "$(value "$backlight" BatteryTimeout)" \
    "reg NAME=NUMBER writes a 32-bit value"

wine "$VELMORA_BUILD/tests/applet_frame_tests.exe" --child simulate-power-failure
expect 0 $? "Ja on the page, then OK on the reset prompt"
expect 1 "$(cleanflag)" "the device is marked for a cold boot"

v reset 2>/dev/null
expect "battery 180 external 300 wakeup 60" "$(timeouts)" "idle timeouts after the reset"
expect "reg: no key $settings" "$(v reg "$settings" 2>&1 | tr -d '\r')" "the Settings key after the reset"
expect '"BatteryTimeout" = dword:0000001e (30)' "$(value "$backlight" BatteryTimeout)" \
    "the backlight time after the reset"
expect none "$(value "$backlight" TestMarker)" "the test's own value after the reset"
expect 0 "$(cleanflag)" "the flag after the cold boot"
[ $fail = 0 ] && echo "power failure: all passed"
exit $fail
