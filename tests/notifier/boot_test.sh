#!/usr/bin/env bash
# The notifier at boot: the device shell starts it from \Windows\StartUp with the default
# command line, so a reset while locked brings the locked icon back and a tap releases the
# lock; with "ShowLockIcon" 0 no icon comes.
set -euo pipefail
# shellcheck source=../harness/device_test.sh
. "$VELMORA_ROOT/tests/harness/device_test.sh"
key='HKCU\Software\Zilp\Velmora'
set_value() { wine reg add "$key" /v "$1" /t REG_DWORD /d "$2" /f >/dev/null 2>&1; }
# Each of these prints what it finds, and nothing when the device cannot tell (yet).
locked() { { v reg "$key" 2>/dev/null || true; } | tr -d '\r' | sed -n 's/^"Locked" = dword:[0-9a-f]* (\([0-9]*\))$/\1/p'; }
# The images of the notifier's icons in the tray, left to right.
icons() { { v tray 2>/dev/null || true; } | tr -d '\r' | sed -n 's/.*"PowerSupplyZilpNotify" id=1 .*image=\([0-9a-f]*\).*/\1/p' | tr '\n' ' '; }
cleanup() {
    wine reg delete "$key" /f >/dev/null 2>&1 || true
    v timeouts --battery 180 --external 300 --wakeup 60 >/dev/null
    v reset >/dev/null 2>&1 # no notifier left running for the next test
}
trap cleanup EXIT

v timeouts --battery 100 --external 200 --wakeup 60 >/dev/null
set_value ShowLockIcon 1
set_value Locked 0
v exec Ostrelle.exe >/dev/null
unlocked=""
for _ in $(seq 60); do
    unlocked=$(icons)
    [ -n "$unlocked" ] && break
    sleep 0.5
done
[ -n "$unlocked" ] || { echo "FAIL: no notifier icon after starting Ostrelle.exe"; exit 1; }
v tap >/dev/null
settles locked 1 "a tap locks"
settles timeouts "battery 0 external 0 wakeup 60" "the lock keeps the device awake"
locked_icon=$(icons)
[ "$locked_icon" != "$unlocked" ] || { echo "FAIL: the locked icon looks like the unlocked one"; fail=1; }

v reset 2>/dev/null
settles icons "$locked_icon" "after a reset while locked the shell starts the notifier with the locked icon"
v tap >/dev/null
settles locked 0 "a tap on it releases the lock"
settles timeouts "battery 100 external 200 wakeup 60" "the user's timeouts are back"
settles icons "$unlocked" "the unlocked icon"

set_value ShowLockIcon 0
v reset 2>/dev/null
sleep 5 # the time the notifier took to show its icon above
expect "" "$(icons)" "with ShowLockIcon 0 no icon comes at boot"
[ $fail = 0 ] && echo "notifier at boot: all passed"
exit $fail
