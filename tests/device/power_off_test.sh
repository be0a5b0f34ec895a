#!/usr/bin/env bash
# The device carries out what its power manager decides (the decision itself has its table in
# power_decision_test.cpp): the timers fire, the screen shows the light and the off state, a tap
# switches it on and reaches no program, and the notifier's lock keeps it on.
set -uo pipefail
# shellcheck source=../harness/device_test.sh
. "$VELMORA_ROOT/tests/harness/device_test.sh"
settings='HKCU\Software\Zilp\Velmora'
backlight='HKCU\ControlPanel\Backlight'
shots=$VELMORA_BUILD/power-shots
rm -rf "$shots"
mkdir -p "$shots"

light() { v power | tr -d '\r' | sed -n 's/^Light //p'; }
# The power events after event $1, as "SECONDS STATE: CAUSE", SECONDS since $2.
events() { # LAST_EVENT T0
    v log | tr -d '\r' | while read -r number day time rest; do
        [ "$number" -gt "$1" ] && echo "$(($(date -d "$day $time" +%s) - $2)) $rest"
    done
}
locked() { v reg "$settings" | tr -d '\r' | sed -n 's/^"\{0,1\}Locked"\{0,1\} = dword:0*\([0-9]\).*/\1/p'; }
last_event() { v log | tr -d '\r' | tail -1 | cut -d' ' -f1; }
# Waits up to $2 seconds for the light to read $1.
wait_light() { # STATE SECONDS
    local i
    for i in $(seq $(($2 * 2))); do
        [ "$(light)" = "$1" ] && return 0
        sleep 0.5
    done
    return 1
}
# Whether the screenshot is black on every row, on the even rows only, or on none.
rows() { # PNG
    /usr/bin/python3 - "$1" <<'EOF'
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
# Compares the events with those expected, "SECONDS STATE: CAUSE;...", each SECONDS the least
# time after the tap.
# The tap that starts a case may itself switch the device on or bring its light back: that is
# not what is checked, nor a dimming that the case's short light time brought before its tap.
check_events() { # NAME EXPECTED GOT
    local n=0 want line at wanted got
    got=$(awk '{line[NR] = $0} / on: tap$/ && NR <= 2 && !from {from = NR}
        END {for (i = from + 1; i <= NR; i++) print line[i]}' <<<"$3")
    set -- "$1" "$2" "$got"
    IFS=';' read -ra wanted <<<"$2"
    for want in "${wanted[@]}"; do
        n=$((n + 1))
        line=$(sed -n "${n}p" <<<"$3")
        expect "${want#* }" "${line#* }" "$1: event $n"
        at="${line%% *} s"
        [ "${line%% *}" -ge "${want%% *}" ] 2>/dev/null && at="at least ${want%% *} s"
        expect "at least ${want%% *} s" "$at" "$1: event $n after the tap"
    done
    expect "$n" "$(grep -c . <<<"$3")" "$1: events in all"
}
shot() { v shot "$shots/$1.png" >/dev/null && rows "$shots/$1.png"; }

# Every case starts from a tap, with its own times; the device keeps to them.
start_case() { # TIMEOUT-ARGS... (then the power source and light times are set by the case)
    v timeouts "$@" >/dev/null
    first=$(last_event)
    t0=$(date +%s)
    v touch 120,160
}

# As the other tests expect the device, however this one ends.
restore() {
    v exec Ostrelle.exe OFF >/dev/null
    sleep 1
    for value in ShowLockIcon Locked AltBatterie AltExtern; do
        v reg "$settings" "$value=" >/dev/null 2>&1
    done
    v reg "$backlight" BatteryTimeout=30 ACTimeout=60 BatteryAuto=1 >/dev/null
    v timeouts --battery 180 --external 300 --wakeup 60 >/dev/null
    v power --ac off >/dev/null
    v sleep never >/dev/null
}
trap restore EXIT

v touch 120,160
v sleep normal >/dev/null
expect "on" "$(light)" "the light of a device told to sleep normally again, just after a tap"

# name | timeouts | power source | backlight on battery, on external power | the events expected
# after the tap, each "SECONDS STATE: CAUSE" with SECONDS the least time after the tap
cases=(
    "external power 4 s|--battery 60 --external 4 --wakeup 60|on|0 0|4 off: idle 4 s on external power"
    "light 2 s, then battery 6 s|--battery 6 --external 60 --wakeup 60|off|2 60|2 dimmed: light 2 s on battery;6 off: idle 6 s on battery"
)
for row in "${cases[@]}"; do
    IFS='|' read -r name timeouts ac lights expected <<<"$row"
    read -r battery_light ac_light <<<"$lights"
    # The light times only after the case's tap: the idle time before it would dim at once.
    v reg "$backlight" BatteryTimeout=0 ACTimeout=0 >/dev/null
    v power --ac "$ac" >/dev/null
    # shellcheck disable=SC2086
    start_case $timeouts
    v reg "$backlight" BatteryTimeout="$battery_light" ACTimeout="$ac_light" >/dev/null
    [ "$name" = "light 2 s, then battery 6 s" ] && expect none "$(shot on)" "$name: the screen on"
    last=${expected##*;}
    if [ "$name" = "light 2 s, then battery 6 s" ]; then
        wait_light dimmed 6 || true
        expect even "$(shot dimmed)" "$name: every other row black while dimmed"
    fi
    wait_light off $((${last%% *} + 15)) || true
    [ "$name" = "light 2 s, then battery 6 s" ] && expect all "$(shot off)" "$name: the screen off"
    check_events "$name" "$expected" "$(events "$first" "$t0")"
    # A tap on the dark screen switches it on, and only that.
    first=$(last_event)
    v touch 120,160
    wait_light on 10 || true
    expect "on: tap" "$(events "$first" 0 | cut -d' ' -f2- | head -1)" "$name: a tap switches it on"
    expect "on" "$(v status | sed -n 2p | cut -d' ' -f1)" "$name: status after the tap"
done

# Without "auto" a tap leaves the light dimmed; switching the device on brings it back.
v power --ac off >/dev/null
v reg "$backlight" BatteryTimeout=2 BatteryAuto=0 >/dev/null
start_case --battery 6 --external 60 --wakeup 60
wait_light dimmed 8 || true
v touch 120,160
sleep 1
expect "dimmed" "$(light)" "without auto: the light after a tap on the dimmed screen"
wait_light off 15 || true
v reg "$backlight" BatteryTimeout=0 >/dev/null
v touch 120,160
wait_light on 10 || true
expect "on" "$(light)" "without auto: the light once a tap switched the device on"
v reg "$backlight" BatteryAuto=1 >/dev/null

# The notifier's lock keeps the device on past both timeouts; its release lets it go dark.
v reg "$settings" ShowLockIcon=1 Locked=0 >/dev/null
v exec Ostrelle.exe ON >/dev/null
for _ in $(seq 50); do v tray | grep -q PowerSupplyZilpNotify && break; sleep 0.2; done
start_case --battery 3 --external 3 --wakeup 3
v tap
for _ in $(seq 50); do [ "$(locked)" = 1 ] && break; sleep 0.2; done
sleep 7
expect "on" "$(light)" "locked: on 7 s after the tap that locked"
v power --ac on >/dev/null
sleep 4
expect "on" "$(light)" "locked: on 4 s after going on external power"
v power --ac off >/dev/null
first=$(last_event)
t0=$(date +%s)
v tap
wait_light off 15 || true
check_events "the release" "3 off: idle 3 s on battery" "$(events "$first" "$t0")"
# A tap on the icon of a dark screen only switches the device on; the next one locks.
icon=$(v tray --at | tr -d '\r' | grep PowerSupplyZilpNotify | sed 's/.* at=//')
v touch "$icon"
wait_light on 10 || true
sleep 1
expect "0" "$(locked)" "a tap on the icon of the dark screen leaves the lock"
v touch "$icon"
for _ in $(seq 50); do [ "$(locked)" = 1 ] && break; sleep 0.2; done
expect "1" "$(locked)" "a tap on the icon of the lit screen locks"
v exec Ostrelle.exe OFF >/dev/null
for _ in $(seq 50); do v tray | grep -q PowerSupplyZilpNotify || break; sleep 0.2; done

# After a wake by a notification the wake-up timeout applies until the next input.
start_case --battery 2 --external 60 --wakeup 60
wait_light off 12 || true
v timeouts --battery 60 --wakeup 3 >/dev/null
first=$(last_event)
t0=$(date +%s)
expect "switched on by a notification" "$(v wake --notification | tr -d '\r')" "wake from off"
expect "already on" "$(v wake --notification | tr -d '\r')" "wake when on"
wait_light off 15 || true
check_events "wake by a notification" "0 on: notification;3 off: idle 3 s after a notification" \
    "$(events "$first" "$t0")"
v touch 120,160
wait_light on 10 || true

exit $fail
