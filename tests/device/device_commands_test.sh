#!/usr/bin/env bash
# `velmora device` refuses bad arguments with one line and a non-zero exit, changing nothing.
set -uo pipefail
# shellcheck source=../harness/device_test.sh
. "$VELMORA_ROOT/tests/harness/device_test.sh"
before=$(v timeouts; v power; v exports; v sleep; v packages; v model)
while IFS= read -r args; do
    # shellcheck disable=SC2086
    err=$(v $args 2>&1 >/dev/null)
    rc=$?
    lines=$(printf '%s\n' "$err" | grep -c .)
    if [ $rc = 0 ] || [ "$lines" != 1 ]; then
        echo "FAIL: '$args': expected a non-zero exit and one error line, got exit $rc and: $err"
        fail=1
    else
        echo "ok: '$args' -> $err"
    fi
done <<'CASES'
timeouts --battery ten
timeouts --battery 5 --external
timeouts --external 4294967296
power --ac sometimes
power --percent 101x
power --battery-flag 256
reg HKXX\Software
reg HKCU\Software\Zilp\Velmora Locked=on
reg HKCU\Software\Zilp\Velmora Locked=4294967296
reg HKCU\Software\Zilp\Velmora =5
reg HKCU\Software\Zilp\Velmora NoSuchValue=
exports --leave-out NoSuchProcedure
exports --restore
exports --keep SetCleanRebootFlag
reg
spy one two
exec NoSuchProgram.exe
exec ..\evil.exe
exec velmora.htp
reset --hard
tray extra
tray --at extra
tap x
tap 0
tap 99
shot
shot /nonexistent/folder/screen.png
touch 240,10
touch 10,320
touch 10
touch x,5
touch 1,2 3,4
wake
wake --alarm
sleep forever
sleep never now
log extra
install
install /nonexistent/Velmora.CAB
install --reinstall
install one.cab two.cab
packages extra
remove
remove NoSuchPackage
model frobnicate
model casio philips
frobnicate
CASES
after=$(v timeouts; v power; v exports; v sleep; v packages; v model)
if [ "$before" != "$after" ]; then
    echo "FAIL: bad arguments changed the device: before [$before] after [$after]"
    fail=1
fi
[ $fail = 0 ] && echo "device commands: all passed"
exit $fail
