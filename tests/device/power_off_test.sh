#!/usr/bin/env bash
# The device carries out what its power manager decides (the decision itself has its table in
# power_decision_test.cpp): its timers fire and act, the screen shows the dimmed, off and lit
# states, a tap on a dark screen switches it on and reaches no program, one on a dimmed screen
# brings the light back only with "auto", and the notifier's lock keeps the device on.
# The times are of 1 or 2 s; every wait is on the state, bounded for a machine under load.
set -uo pipefail
# shellcheck source=../harness/device_test.sh
. "$VELMORA_ROOT/tests/harness/device_test.sh"
settings='HKCU\Software\Zilp\Velmora'
backlight='HKCU\ControlPanel\Backlight'
shots=$VELMORA_BUILD/power-shots
rm -rf "$shots"
mkdir -p "$shots"
# Seconds for a state to come: none here takes as long, however busy the machine. Once one
# has not come the test has failed, and the rest need not wait as long.
late=$shots/late
bound() { if [ -e "$late" ]; then echo 3; else echo 30; fi; }

light() { v power | tr -d '\r' | sed -n 's/^Light //p'; }
locked() {
    v reg "$settings" | tr -d '\r' | sed -n 's/^"\{0,1\}Locked"\{0,1\} = dword:0*\([0-9]\).*/\1/p'
}
offs() { v timeouts | tr -d '\r' | head -2 | paste -sd' '; }
icon() { v tray | grep -q PowerSupplyZilpNotify && echo shown || echo none; }
# Whether the screenshot is black on every row, on the even rows only, or on none.
shot() { # NAME
    v shot "$shots/$1.png" >/dev/null && /usr/bin/python3 - "$shots/$1.png" <<'EOF'
import sys
from PIL import Image
image = Image.open(sys.argv[1]).convert("RGB")
width, height = image.size
pixels = image.load()
black = [all(pixels[x, y] == (0, 0, 0) for x in range(width)) for y in range(height)]
print("all" if all(black) else "even" if all(black[0::2]) and not any(black[1::2]) else
      "none" if not any(black) else "some")
EOF
}
# Runs the command until it prints $1, for at most the bound; prints what it printed last.
until_is() { # EXPECTED COMMAND...
    local want=$1 got end=$((SECONDS + $(bound)))
    shift
    while got=$("$@") && [ "$got" != "$want" ] && [ $SECONDS -lt $end ]; do sleep 0.1; done
    [ "$got" = "$want" ] || : >"$late"
    echo "$got"
}
# The power events after event $first, as "SECONDS STATE: CAUSE", SECONDS since $t0.
events() {
    v log | tr -d '\r' | while read -r number day time rest; do
        if [ "$number" -gt "$first" ]; then echo "$(($(date -d "$day $time" +%s) - t0)) $rest"; fi
    done
}
stamp() { t0=$(date +%s); }
# Waits for as many events as expected, "SECONDS STATE: CAUSE;...", each SECONDS the least time
# since the stamp, and compares them; the next check starts after the events it saw.
check_events() { # WHAT EXPECTED
    local wanted want got line at n=0 end=$((SECONDS + $(bound)))
    IFS=';' read -ra wanted <<<"$2"
    while got=$(events) && [ "$(grep -c . <<<"$got")" -lt ${#wanted[@]} ] &&
        [ $SECONDS -lt $end ]; do sleep 0.1; done
    [ "$(grep -c . <<<"$got")" -ge ${#wanted[@]} ] || : >"$late"
    for want in "${wanted[@]}"; do
        n=$((n + 1))
        line=$(sed -n "${n}p" <<<"$got")
        expect "${want#* }" "${line#* }" "$1: event $n"
        at="${line%% *} s"
        [ "${line%% *}" -ge "${want%% *}" ] 2>/dev/null && at="at least ${want%% *} s"
        expect "at least ${want%% *} s" "$at" "$1: event $n after the stamp"
    done
    expect "$n" "$(grep -c . <<<"$got")" "$1: events in all"
    first=$((first + $(grep -c . <<<"$got")))
}
last_event() { v log | tr -d '\r' | tail -1 | cut -d' ' -f1; }

# As the other tests expect the device, however this one ends.
restore() {
    v exec Ostrelle.exe OFF >/dev/null
    until_is none icon >/dev/null
    for value in ShowLockIcon Locked AltBatterie AltExtern; do
        v reg "$settings" "$value=" >/dev/null 2>&1
    done
    v reg "$backlight" BatteryTimeout=30 ACTimeout=60 BatteryAuto=1 ACAuto=1 >/dev/null
    v timeouts --battery 180 --external 300 --wakeup 60 >/dev/null
    v power --ac off >/dev/null
    v sleep never >/dev/null
}
trap restore EXIT

v touch 120,160
v sleep normal >/dev/null
expect "on" "$(light)" "the light of a device told to sleep normally again, just after a tap"
expect "already on" "$(v wake --notification | tr -d '\r')" "a notification on the lit screen"

# On battery: the light dims, a tap without "auto" leaves it dimmed and the off time runs from
# that tap; a tap on the dark screen switches it on. Nothing is due as the case starts; each
# time is set after the tap it runs from (the idle time before would act on it at once), the
# light's for the shell to see in the registry.
v reg "$backlight" BatteryTimeout=0 ACTimeout=0 BatteryAuto=0 ACAuto=1 >/dev/null
v power --ac off >/dev/null
v timeouts --battery 0 --external 0 --wakeup 0 >/dev/null
first=$(last_event)
stamp
v touch 120,160
v reg "$backlight" BatteryTimeout=1 >/dev/null
check_events "battery" "1 dimmed: light 1 s on battery"
expect even "$(until_is even shot dimmed)" "battery: every other row black while dimmed"
stamp
v touch 120,160
v timeouts --battery 2 >/dev/null
check_events "battery, a tap without auto" "2 off: idle 2 s on battery"
expect all "$(until_is all shot off)" "battery: the screen black when off"
v timeouts --battery 0 >/dev/null
v reg "$backlight" BatteryTimeout=0 BatteryAuto=1 >/dev/null
stamp
v touch 120,160
check_events "battery, a tap on the dark screen" "0 on: tap"
expect none "$(until_is none shot on)" "battery: the screen lit again"

# The notifier's lock, on external power, which the shell reads from the driver: a tap on its
# icon of the dark screen only switches the device on, one on the lit screen locks. Locked,
# the device stays on past both timeouts (1 s) until the light dims (2 s); a tap on the dimmed
# screen brings the light back ("auto") and reaches the icon: the release lets it go dark.
v power --ac on >/dev/null
v timeouts --battery 1 --external 1 --wakeup 60 >/dev/null
v reg "$backlight" BatteryTimeout=2 ACTimeout=2 >/dev/null
v reg "$settings" ShowLockIcon=1 Locked=0 >/dev/null
v exec Ostrelle.exe ON >/dev/null
expect shown "$(until_is shown icon)" "the lock: its icon"
expect off "$(until_is off light)" "the lock: the light before the tap on its icon"
first=$(last_event)
stamp
v tap
check_events "the lock, a tap on its icon of the dark screen" \
    "0 on: tap;1 off: idle 1 s on external power"
expect 0 "$(locked)" "the lock after the tap on its icon of the dark screen"
# Lit for as long as the tap takes to come, however long that is.
stamp
v sleep never >/dev/null
v tap
expect "battery 0 external 0" "$(until_is "battery 0 external 0" offs)" \
    "the lock: the timeouts after a tap on its icon of the lit screen"
expect 1 "$(locked)" "the lock after a tap on its icon of the lit screen"
v sleep normal >/dev/null
check_events "locked" "0 on: sleep never;2 dimmed: light 2 s on external power"
# On battery as well: "sleep normal" has the shell look again at once.
v power --ac off >/dev/null
v sleep normal >/dev/null
expect dimmed "$(light)" "locked: the light at once on battery"
# Without a light time nothing but the restored timeouts can make it dark.
v reg "$backlight" BatteryTimeout=0 ACTimeout=0 >/dev/null
stamp
v tap
expect 0 "$(until_is 0 locked)" "the lock after the tap that releases it"
check_events "the release" "0 on: tap;1 off: idle 1 s on battery"
v exec Ostrelle.exe OFF >/dev/null
expect none "$(until_is none icon)" "the lock: its icon after OFF"

# After a wake by a notification the wake-up timeout applies, counted from the wake; the timer
# runs on from the light's time to it.
v timeouts --battery 0 --external 0 --wakeup 2 >/dev/null
v reg "$backlight" BatteryTimeout=1 >/dev/null
stamp
expect "switched on by a notification" "$(v wake --notification | tr -d '\r')" \
    "a notification on the dark screen"
check_events "a wake by a notification" \
    "0 on: notification;1 dimmed: light 1 s on battery;2 off: idle 2 s after a notification"

exit $fail
