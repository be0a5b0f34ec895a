#!/usr/bin/env bash
# Cabinets the device's installer must refuse, each in one line that says which and why, with
# the device left as it was: a small package of a CE program and a text file, spoilt one way per
# row. A forged record the remover refuses; the good cabinet from a Cyrillic path; then the same
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
# The setup file with one field spoilt: a table's offset far past its end, the id of a table's
# second entry made the first's, or the provider's name moved into the header.
spoilt_setup() { # OUT far | string | dir | file | provider
    /usr/bin/python3 - "$work/good.000" "$@" <<'EOF'
import struct, sys
source, out, what = sys.argv[1:4]
data = bytearray(open(source, "rb").read())
offsets = struct.unpack_from("<6I", data, 60)
# table: (index, size of an entry's fixed part, where in it the entry's length is)
tables = {"string": (0, 4, 2), "dir": (1, 4, 2), "file": (2, 12, 10)}
if what == "far":
    struct.pack_into("<I", data, 68, 0x7FFF0000)  # FILES
elif what == "provider":
    struct.pack_into("<HH", data, 88, 0, 5)  # "MSCE" and the zero after it
else:
    table, fixed, length_at = tables[what]
    first = offsets[table]
    second = first + fixed + struct.unpack_from("<H", data, first + length_at)[0]
    data[second:second + 2] = data[first:first + 2]
open(out, "wb").write(data)
EOF
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
for spoilt in far string dir file provider; do
    spoilt_setup "$work/$spoilt.000" "$spoilt"
    pack "$work/$spoilt.cab" --setup "$work/$spoilt.000"
done
head -c 1500 "$work/good.cab" >"$work/truncated.cab"
printf 'MSCE-but-nothing-else' >"$work/damaged.000"
pack "$work/nosetup.cab" --no-setup
pack "$work/damaged.cab" --setup "$work/damaged.000"
one() { # OUT SECOND-FILE [options]: the probe and one other file
    local out=$1 second=$2
    shift 2
    pack "$out" --file "1:%CE2%:probe.exe:$probe" --file "$second" "$@"
}
one "$work/missing.cab" "2:%CE2%:readme.txt:$work/readme.txt" --leave-out 2
one "$work/updir.cab" "2:%CE2%\\..\\..:readme.txt:$work/readme.txt"
one "$work/drive.cab" "2:%CE2%:C:\\boot.ini:$work/readme.txt"
one "$work/blank.cab" "2:%CE2%:probe.exe :$work/readme.txt"
one "$work/devnul.cab" "2:%CE2%:nul.txt:$work/readme.txt"
one "$work/devcon.cab" "2:%CE2%:CON:$work/readme.txt"
one "$work/devcom1.cab" "2:%CE1%:COM1:$work/readme.txt"
one "$work/bell.cab" "2:%CE2%:read"$'\a'"me.txt:$work/readme.txt"
one "$work/nameless.cab" "2::readme.txt:$work/readme.txt"
one "$work/inifile.cab" "2:%CE2%\\win.ini:readme.txt:$work/readme.txt"
PROCESSOR=2577 pack "$work/arm.cab"
pack "$work/ce4.cab" --min-ce 4.0
pack "$work/build.cab" --min-build 200
pack "$work/desktop.cab" --file "1:%CE2%:probe.exe:$VELMORA_BUILD/device-files/ctlpnl.exe"
pack "$work/dot.cab" --file "1:%CE2%:evil.exe.:$VELMORA_BUILD/device-files/ctlpnl.exe"
pack "$work/version.cab" --file "1:%CE2%:probe.exe:$work/version4.exe"
pack "$work/cut.cab" --file "1:%CE2%:probe.exe:$work/cut.exe"
pack "$work/apps.cab" --reg 'HKLM:Software\Apps\Zilp Other:Instl:dword:1'
pack "$work/updkey.cab" --reg 'HKCU:Software\..\..\System:Probe:dword:1'
pack "$work/longname.cab" --reg "HKCU:Software\\Zilp\\Probe:$(printf 'n%.0s' $(seq 20000)):dword:1"

# The device's files; the installed packages are compared once, after all rows.
snapshot() { find "$drive" -path "$drive/users" -prune -o -printf '%P %s\n' | sort; }
packages() { v packages | tr -d '\r' | sort; }
before_rows=$(packages)

# cabinet | the one line the installer answers
rows=(
    "truncated.cab|wceload: truncated.cab: a file in it is cut short"
    "nosetup.cab|wceload: nosetup.cab: it has no setup file (.000)"
    "damaged.cab|wceload: damaged.cab: its setup file is no CE setup file"
    "far.cab|wceload: far.cab: its FILES section runs past the file's end"
    "string.cab|wceload: string.cab: its setup file defines string 1 twice"
    "dir.cab|wceload: dir.cab: its setup file defines directory 1 twice"
    "file.cab|wceload: file.cab: its setup file lists file 1 twice"
    "provider.cab|wceload: provider.cab: its provider name lies in its header (offset 0)"
    "missing.cab|wceload: missing.cab: file 2 of its setup file is not in the cabinet"
    "updir.cab|wceload: updir.cab: its directory \"\\Windows\\..\\..\" holds \"..\", a way out of its directory"
    "drive.cab|wceload: drive.cab: its target \"\\Windows\\C:\\boot.ini\" holds \":\", which no file name may"
    "blank.cab|wceload: blank.cab: it installs two files as \\Windows\\probe.exe"
    "devnul.cab|wceload: devnul.cab: its target \"\\Windows\\nul.txt\" names the device NUL, the null device, not a file"
    "devcon.cab|wceload: devcon.cab: its target \"\\Windows\\CON\" names the device CON, the console, not a file"
    "devcom1.cab|wceload: devcom1.cab: its target \"\\Program Files\\COM1\" names the device COM1, a serial port, not a file"
    "bell.cab|wceload: bell.cab: its target \"\\Windows\\read\\x07me.txt\" holds the control character \\x07"
    "nameless.cab|wceload: nameless.cab: directory 2 of its setup file has no name"
    "inifile.cab|wceload: inifile.cab: the device refused to write \\Windows\\win.ini\\readme.txt: \\Windows\\win.ini is a file, not a directory; nothing is installed"
    "arm.cab|wceload: arm.cab: it is for processor 2577, this device's is $processor"
    "ce4.cab|wceload: ce4.cab: it needs Windows CE 4.0 or later, this device runs 3.0"
    "build.cab|wceload: build.cab: it needs Windows CE 3.0 build 200 or later, this device runs 3.0 build 126"
    "desktop.cab|wceload: desktop.cab: probe.exe is no CE image: subsystem 2, expected 9 (Windows CE)"
    "dot.cab|wceload: dot.cab: evil.exe is no CE image: subsystem 2, expected 9 (Windows CE)"
    "version.cab|wceload: version.cab: probe.exe is no CE image: subsystem version 4.00, this platform is 3.00"
    "cut.cab|wceload: cut.cab: probe.exe is no CE image: its optional header is cut short"
    "apps.cab|wceload: apps.cab: its registry key \"HKLM\\Software\\Apps\\Zilp Other\" is the installer's record of packages (HKLM\\Software\\Apps)"
    "updkey.cab|wceload: updkey.cab: its registry key \"HKCU\\Software\\..\\..\\System\" leaves HKCU: a key name may not be \"..\""
    "longname.cab|wceload: longname.cab: its registry value \"nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn...\" in HKCU\\Software\\Zilp\\Probe has a name of 20000 characters, the registry takes at most 255"
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
expect "$(printf '%s\nZilp Probe\n' "$before_rows" | sort)" "$(packages)" "the refused cabinets registered no package"

# A record that lists what no installation makes is refused before anything is deleted.
apps='HKLM\Software\Apps\Zilp Probe'
wine reg add "$apps" /v InstalledKeys /t REG_MULTI_SZ /d 'HKLM\Software\Apps' /f >/dev/null 2>&1
before=$(snapshot; v packages)
expect "unload: Zilp Probe: its record lists \"HKLM\\Software\\Apps\", which no installation puts there; nothing is removed" \
    "$(v remove "Zilp Probe" 2>&1 | tr -d '\r')" "a forged record refused"
expect "$before" "$(snapshot; v packages)" "a forged record changed nothing"
wine reg delete "$apps" /v InstalledKeys /f >/dev/null 2>&1
v remove "Zilp Probe" >/dev/null

# The cabinet library takes narrow paths; the installer hands it the cabinet whatever its path.
cp "$work/good.cab" "$work/good-Вельмора.cab"
expect "0 installed Zilp Probe: 2 files, 1 shortcuts, 0 registry values" \
    "$(out=$(v install "$work/good-Вельмора.cab" 2>&1); echo "$? $out" | tr -d '\r')" "a path outside the ANSI code page"
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
