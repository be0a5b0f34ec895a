#!/usr/bin/env bash
# The device as a whole: what survives a restart, and what a cold boot takes away.
set -euo pipefail
# shellcheck source=../harness/device_test.sh
. "$VELMORA_ROOT/tests/harness/device_test.sh"
layer_tests() { wine "$VELMORA_BUILD/tests/device_layer_tests.exe" "$@"; }

v timeouts --battery 0 --external 77 --wakeup 15 >/dev/null
display=$(cat "$VELMORA_DEVICE/display")
v stop
expect "stopped" "$(v status | cut -d' ' -f1 || true)" "status after stop"
v start
expect "$display" "$(cat "$VELMORA_DEVICE/display")" "the device comes back on its display"
expect "$display" "$DISPLAY" "programs started before the restart still reach the device"
expect "battery 0 external 77 wakeup 15" "$(timeouts)" "idle timeouts survive a restart, 0 included"

v reset
expect "battery 0 external 77 wakeup 15" "$(timeouts)" "a reset without the flag keeps the registry"

layer_tests --child set-clean-reboot-flag
v reset 2>/dev/null
expect "battery 180 external 300 wakeup 60" "$(timeouts)" "a reset after SetCleanRebootFlag is a cold boot"
expect "0" "$(wine "$VELMORA_DEVICE/prefix/drive_c/windows/devtool.exe" cleanflag | tr -d '\r')" "the cold boot clears the flag"

v timeouts --battery 5 >/dev/null
v reset --clean 2>/dev/null
expect "battery 180 external 300 wakeup 60" "$(timeouts)" "reset --clean forces a cold boot"
# A device of the tests stays on, also after a cold boot.
expect "never" "$(v sleep | tr -d '\r')" "sleep after the cold boot"
expect "on, light on, sleep never" "$(v status | sed -n 2p | sed 's/ since [-0-9]* [:0-9]*//')" \
    "the screen after the cold boot"

expect "running" "$(v status | head -1 | cut -d' ' -f1)" "the device runs after the tests"
[ $fail = 0 ] && echo "device restart: all passed"
exit $fail
