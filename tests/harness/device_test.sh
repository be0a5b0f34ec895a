# Shared by the tests of the device as a whole: `v` runs a device command, `expect` compares
# and counts failures in $fail, which the test returns as its exit status.
v() { "$VELMORA_ROOT/velmora" device "$@"; }
fail=0
expect() { # expected actual what
    if [ "$1" != "$2" ]; then
        echo "FAIL: $3: expected [$1], actual [$2]"
        fail=1
    else
        echo "ok: $3"
    fi
}
# The idle timeouts on one line: "battery 180 external 300 wakeup 60" (an error as it is).
timeouts() { { v timeouts 2>&1 || true; } | tr -d '\r' | paste -sd' '; }
# A key's values on one line, without the key's own line (an error as it is).
values() { { v reg "$1" 2>&1 || true; } | tr -d '\r' | grep -v '^\[HK' | paste -sd' '; }
settles() { # FUNCTION EXPECTED WHAT: polls (about 30 s) until FUNCTION prints EXPECTED, then checks
    local out="" i
    for i in $(seq 60); do
        out=$($1)
        [ "$out" = "$2" ] && break
        sleep 0.5
    done
    expect "$2" "$out" "$3"
}
