#!/usr/bin/env bash
# Runs one test program of the device on a running device: one that an earlier test left down
# is booted again first, so that a fault fails the test that made it and no other.
if ! "$VELMORA_ROOT/velmora" device status >/dev/null 2>&1; then
    echo "the device was down before this test: booting it again"
    "$VELMORA_ROOT/velmora" device start || { echo "FAIL: the device does not boot"; exit 1; }
fi
exec "$@"
