#!/usr/bin/env bash
# Which devices a machine can run decides what the commands do. With Wine's 32-bit loader
# covered, as on a kernel without 32-bit programs, x86_64 alone remains; with the 64-bit one
# covered too, every command says in one line that no device runs here and exits non-zero.
set -uo pipefail
. "$VELMORA_ROOT/tests/harness/device_test.sh"
unset VELMORA_ARCH VELMORA_BUILD VELMORA_DEVICE
hide=$VELMORA_ROOT/tools/without-i386
velmora=$VELMORA_ROOT/velmora
unshare --mount true 2>/dev/null || { echo "FAIL: expected a mount namespace (run as root)"; exit 1; }

expect "x86_64" "$("$hide" "$velmora" arches 2>&1)" "the architectures without the 32-bit loader"
out=$("$hide" "$velmora" --arch i686 device status 2>&1)
expect "2 1" "$? $(wc -l <<<"$out")" "--arch i686 without the 32-bit loader: exit, lines ($out)"
expect "velmora: the i686 device cannot run on this machine (runs here: x86_64)" "$out" \
    "--arch i686 without the 32-bit loader: the message"

for command in arches test run bench docs "device status"; do
    # shellcheck disable=SC2086
    out=$("$hide" --no-wine64 "$velmora" $command 2>&1)
    expect "2 1" "$? $(wc -l <<<"$out")" "$command where no device runs: exit, lines ($out)"
done
exit $fail
