#!/usr/bin/env bash
# The CE calls of every device program bind to the device's coredll.dll, never to the desktop
# DLL of the same name: a wrong link order would pass every build and fail only on the device.
set -uo pipefail
fail=0
ce_calls='SystemParametersInfoW|GetSystemPowerStatusEx|EventModify|SetCleanRebootFlag|GetProcAddressW|RegOpenKeyExW|RegCreateKeyExW|Shell_NotifyIconW'
# A CE call that the device's coredll.dll does not export yet can only bind elsewhere.
exported=$(sed -n 's/^\([A-Za-z_][A-Za-z0-9_]*\)@.*/\1/p' "$VELMORA_ROOT/device/coredll/coredll.def")
for call in ${ce_calls//|/ }; do
    printf '%s\n' "$exported" | grep -qx "$call" || echo "note: coredll.dll does not export $call yet"
done
ce_calls=$(printf '%s\n' ${ce_calls//|/ } | grep -xF "$exported" | paste -sd'|')
for file in "$VELMORA_BUILD"/device-files/*.exe "$VELMORA_BUILD"/device-files/*.cpl; do
    [ -e "$file" ] || continue
    name=$(basename "$file")
    # Pairs "DLL function" from the import table.
    pairs=$(i686-w64-mingw32-objdump -p "$file" | awk '/DLL Name:/ {dll=$3} /^\t[0-9a-f]+\t +[0-9]+ +[A-Za-z_]/ {print dll, $3}')
    wrong=$(printf '%s\n' "$pairs" | grep -Ei " ($ce_calls)\$" | grep -vi '^coredll.dll ' || true)
    if [ -n "$wrong" ]; then
        echo "FAIL: $name: expected these from coredll.dll, actual: $wrong"
        fail=1
    else
        echo "ok: $name: $(printf '%s\n' "$pairs" | grep -ci '^coredll.dll ') imports from coredll.dll"
    fi
done
[ $fail = 0 ] && echo "imports: all passed"
exit $fail
