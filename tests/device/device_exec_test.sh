#!/usr/bin/env bash
# `velmora device exec` lets go of its caller once the program has started: piped, it returns
# while the program keeps running.
set -uo pipefail
# shellcheck source=../harness/device_test.sh
. "$VELMORA_ROOT/tests/harness/device_test.sh"
out=$(mktemp)
notifiers() { v tray | tr -d '\r' | grep -c '"PowerSupplyZilpNotify"'; }
# No notifier left for the next test.
trap 'v exec Ostrelle.exe OFF >/dev/null; for _ in $(seq 50); do [ "$(notifiers)" = 0 ] && break; sleep 0.2; done; rm -f "$out"' EXIT

# The pipe is read to its end inside the time limit: a notifier that held it would hold cat.
timeout 30 bash -c '"$1" device exec Ostrelle.exe ON 2>&1 | cat >"$2"' _ "$VELMORA_ROOT/velmora" "$out"
expect 0 "$?" "exec Ostrelle.exe ON | cat, its exit status (124: not back after 30 s)"
expect "a process id" "$(tr -d '\r' <"$out" | sed 's/^[0-9][0-9]*$/a process id/')" "what exec printed"
for _ in $(seq 50); do [ "$(notifiers)" = 1 ] && break; sleep 0.2; done
expect 1 "$(notifiers)" "notifier icons once exec has returned"
[ $fail = 0 ] && echo "device exec: all passed"
exit $fail
