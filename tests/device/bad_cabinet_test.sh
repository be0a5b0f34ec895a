#!/usr/bin/env bash
# Cabinets the device's installer must refuse, each in one line, with the device left as it
# was: a small package of a CE program and a text file, spoilt one way per row. Then the same
# package with registry entries, which its removal takes back.
set -uo pipefail
# shellcheck source=../harness/device_test.sh
. "$VELMORA_ROOT/tests/harness/device_test.sh"
work=$(mktemp -d)
drive=$VELMORA_DEVICE/prefix/drive_c
probe=$VELMORA_BUILD/tests/ce_probe.exe
echo "Zilp probe" >"$work/readme.txt"
case $VELMORA_ARCH in
i686) processor=586 ;;
*) processor=8664 ;;
esac
cleanup() {
    v remove "Zilp Probe" >/dev/null 2>&1 || true
    wine reg delete 'HKCU\Software\Zilp\Probe' /f >/dev/null 2>&1 || true
    wine reg delete 'HKLM\Software\Zilp' /v Probe /f >/dev/null 2>&1 || true
    wine reg delete 'HKLM\Software\Zilp' /v Before /f >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT

# The probe's image with the bytes at OFFSET of its optional header replaced, or cut to a length.
patched() { # OUT (version MAJOR | cut LENGTH)
    /usr/bin/python3 - "$probe" "$@" <<'EOF'
import struct, sys
source, out, how, n = sys.argv[1:5]
data = bytearray(open(source, "rb").read())
optional = struct.unpack_from("<I", data, 0x3C)[0] + 24
if how == "version":
    struct.pack_into("<H", data, optional + 48, int(n))  # MajorSubsystemVersion
else:
    data = data[: int(n)]
open(out, "wb").write(data)
EOF
}
patched "$work/version4.exe" version 4
patched "$work/cut.exe" cut 200
# A setup file with the FILES section's offset far past its end.
patched_setup() { # IN OUT
    /usr/bin/python3 -c 'import sys, struct
data = bytearray(open(sys.argv[1], "rb").read())
struct.pack_into("<I", data, 68, 0x7FFF0000)
open(sys.argv[2], "wb").write(data)' "$1" "$2"
}

pack() { # OUT [make_cab.py options; --file ones replace the package's two files]
    local out=$1
    shift
    [[ " $* " == *" --file "* ]] ||
        set -- "$@" --file "1:%CE2%:probe.exe:$probe" --file "2:%CE1%\\Probe:readme.txt:$work/readme.txt"
    python3 "$VELMORA_ROOT/tools/make_cab.py" "$out" --app Probe --provider Zilp --min-ce 3.0 \
        --processor "${PROCESSOR:-$processor}" --link 17:Probe.lnk:1 "$@"
}
pack "$work/good.cab" --setup-out "$work/good.000"
patched_setup "$work/good.000" "$work/outside.000"
head -c 1500 "$work/good.cab" >"$work/truncated.cab"
printf 'MSCE-but-nothing-else' >"$work/damaged.000"
pack "$work/nosetup.cab" --no-setup
pack "$work/damaged.cab" --setup "$work/damaged.000"
pack "$work/outside.cab" --setup "$work/outside.000"
pack "$work/missing.cab" --file "1:%CE2%:probe.exe:$probe" --file "2:%CE2%:readme.txt:$work/readme.txt" --leave-out 2
pack "$work/updir.cab" --file "1:%CE2%:probe.exe:$probe" --file "2:%CE2%\\..\\..:readme.txt:$work/readme.txt"
pack "$work/drive.cab" --file "1:%CE2%:probe.exe:$probe" --file "2:%CE2%:C:\\boot.ini:$work/readme.txt"
PROCESSOR=2577 pack "$work/arm.cab"
pack "$work/ce4.cab" --min-ce 4.0
pack "$work/desktop.cab" --file "1:%CE2%:probe.exe:$VELMORA_BUILD/device-files/ctlpnl.exe"
pack "$work/version.cab" --file "1:%CE2%:probe.exe:$work/version4.exe"
pack "$work/cut.cab" --file "1:%CE2%:probe.exe:$work/cut.exe"

snapshot() { find "$drive" -path "$drive/users" -prune -o -printf '%P %s\n' | sort; v packages; }

# cabinet | the one line the installer answers
rows=(
    "truncated.cab|wceload: truncated.cab: a file in it is cut short"
    "nosetup.cab|wceload: nosetup.cab: it has no setup file (.000)"
    "damaged.cab|wceload: damaged.cab: its setup file is no CE setup file"
    "outside.cab|wceload: outside.cab: its FILES section runs past the file's end"
    "missing.cab|wceload: missing.cab: file 2 of its setup file is not in the cabinet"
    "updir.cab|wceload: updir.cab: its path \"%CE2%\\..\\..\" leaves the device's file system"
    "drive.cab|wceload: drive.cab: its target \"\\Windows\\C:\\boot.ini\" leaves the device's file system"
    "arm.cab|wceload: arm.cab: it is for processor 2577, this device's is $processor"
    "ce4.cab|wceload: ce4.cab: it needs Windows CE 4.0 or later, this device runs 3.0"
    "desktop.cab|wceload: desktop.cab: probe.exe is no CE image: subsystem 2, expected 9 (Windows CE)"
    "version.cab|wceload: version.cab: probe.exe is no CE image: subsystem version 4.00, this platform is 3.00"
    "cut.cab|wceload: cut.cab: probe.exe is no CE image: its optional header is cut short"
    "good.cab|wceload: good.cab: Zilp Probe is installed already (--reinstall installs it again)"
)
for row in "${rows[@]}"; do
    cab=${row%%|*}
    # Installing twice: the row's cabinet is installed once before.
    [ "$cab" = good.cab ] && v install "$work/good.cab" >/dev/null
    before=$(snapshot)
    out=$(v install "$work/$cab" 2>&1)
    rc=$?
    expect "1 ${row#*|}" "$rc $out" "$cab refused in one line"
    expect "$before" "$(snapshot)" "$cab changed nothing"
done
v remove "Zilp Probe" >/dev/null

# Values go into keys the installation makes (two deep) and into one that was there before;
# the removal deletes the values and the keys it made, and leaves the older key.
v reg 'HKLM\Software\Zilp' Before=1 >/dev/null
pack "$work/reg.cab" --reg 'HKCU:Software\Zilp\Probe\Deep:Count:dword:7' \
    --reg 'HKLM:Software\Zilp:Probe:sz:Zilp probe'
expect "0 installed Zilp Probe: 2 files, 1 shortcuts, 2 registry values" \
    "$(out=$(v install "$work/reg.cab" 2>&1); echo "$? $out" | tr -d '\r')" "registry entries installed"
expect '"Count" = dword:00000007 (7)' "$(values 'HKCU\Software\Zilp\Probe\Deep')" "a value in keys it made"
expect '"Before" = dword:00000001 (1) "Probe" = sz:"Zilp probe"' "$(values 'HKLM\Software\Zilp')" "a value in a key there before"
v remove "Zilp Probe" >/dev/null
expect "reg: no key HKCU\Software\Zilp\Probe" "$(values 'HKCU\Software\Zilp\Probe')" "the keys it made removed"
expect '"Before" = dword:00000001 (1)' "$(values 'HKLM\Software\Zilp')" "the older key kept, without its value"

[ $fail = 0 ] && echo "bad cabinets: all passed"
exit $fail
