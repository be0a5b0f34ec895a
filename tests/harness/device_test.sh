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
