#!/usr/bin/env bash
# The package as CE software: its cabinet as a tool of others reads it, installed on a device
# without it, started as the platform starts it, and removed while locked, which gives the
# user's timeouts back and leaves nothing of it.
set -uo pipefail
# shellcheck source=../harness/device_test.sh
. "$VELMORA_ROOT/tests/harness/device_test.sh"
cab=$VELMORA_BUILD/Velmora.$VELMORA_ARCH.CAB
drive=$VELMORA_DEVICE/prefix/drive_c
files=$VELMORA_BUILD/device-files
name="Zilp Velmora"
apps='HKLM\Software\Apps\Zilp Velmora'
settings='HKCU\Software\Zilp\Velmora'
# What the device has of the package: device path, and the file it must equal.
shortcut() { printf '%s' "$1" >"$2"; printf '\r\n' >>"$2"; } # a CE shortcut's text, as a file
shortcut '23#"\Windows\Ostrelle.exe"' "$VELMORA_BUILD/Ostrelle.lnk"
shortcut '23#"\Windows\launcher.exe"' "$VELMORA_BUILD/Velmora.lnk"
installed=(
    "windows/Ostrelle.exe|$files/Ostrelle.exe"
    "windows/powerg.cpl|$files/powerg.cpl"
    "windows/launcher.exe|$files/launcher.exe"
    "windows/velmora.htp|$VELMORA_ROOT/package/velmora.htp"
    "windows/StartUp/Ostrelle.lnk|$VELMORA_BUILD/Ostrelle.lnk"
    "windows/Start Menu/Velmora.lnk|$VELMORA_BUILD/Velmora.lnk"
)
# Everything of the device's file system and the installed packages, to compare.
snapshot() { find "$drive" -path "$drive/users" -prune -o -printf '%P\n' | sort; v packages; }
notifier_icon() { v tray | tr -d '\r' | grep -c '"PowerSupplyZilpNotify"'; }
applet_open() { v spy "CPL_Velmora (Zilp)" | tr -d '\r' | grep -c '"Velmora Zilp"'; }
cleanup() {
    wine taskkill /im ctlpnl.exe >/dev/null 2>&1 || true
    v timeouts --battery 180 --external 300 --wakeup 60 >/dev/null
    wine reg delete "$settings" /f >/dev/null 2>&1 || true
    # The device as the other tests find it: with the package.
    v packages | grep -qx "$name" || v install "$cab" >/dev/null
}
trap cleanup EXIT

expect "0Velmora.000 000setup.999 Ostrelle.004 00powerg.003 launcher.002 0velmora.001" \
    "$(cabextract -l "$cab" | awk '$2 == "|" && $NF ~ /\.[0-9][0-9][0-9]$/ {print $NF}' | paste -sd' ')" \
    "cabextract lists the setup file first, the setup library, then the files in descending order"

# The test device comes with the package: take it off for a device that has never seen it.
v remove "$name" >/dev/null
fresh=$(snapshot)
for entry in "${installed[@]}"; do
    expect "absent" "$([ -e "$drive/${entry%%|*}" ] && echo present || echo absent)" "before: ${entry%%|*}"
done

expect "installed $name: 4 files, 2 shortcuts, 0 registry values" "$(v install "$cab" 2>&1)" "install"
installed_files() { # what
    local entry
    for entry in "${installed[@]}"; do
        expect "same" "$(cmp -s "$drive/${entry%%|*}" "${entry#*|}" && echo same || echo differs)" \
            "$1: ${entry%%|*}"
    done
}
installed_files installed
expect '"Instl" = dword:00000001 (1) "InstlDir" = sz:"\\Windows"' \
    "$(values "$apps" | grep -o '"Instl" = [^"]*"InstlDir" = sz:"[^"]*"')" "registered under $apps"
expect "$name" "$(v packages)" "listed"
expect "installed $name: 4 files, 2 shortcuts, 0 registry values" "$(v install --reinstall "$cab" 2>&1)" \
    "reinstall"
installed_files reinstalled

# The Start menu's shortcut opens the applet through its launcher; while it is open, removal
# changes nothing.
target=$(tr -d '\r' <"$drive/windows/Start Menu/Velmora.lnk" | sed -n 's/^[0-9]*#"\\Windows\\\(.*\)"$/\1/p')
v exec "$target" >/dev/null
settles applet_open 1 "the Start menu's shortcut opens the applet"
before=$(snapshot)
expect "unload: $name: powerg.cpl is in use; close it first" "$(v remove "$name" 2>&1)" \
    "removal while the applet is open"
expect "$before" "$(snapshot)" "a refused removal leaves every file"
wine taskkill /im ctlpnl.exe >/dev/null 2>&1
settles applet_open 0 "the applet closes"

# At boot the StartUp shortcut starts the notifier; locked, removal gives the timeouts back.
v timeouts --battery 100 --external 200 --wakeup 60 >/dev/null
wine reg add "$settings" /v ShowLockIcon /t REG_DWORD /d 1 /f >/dev/null 2>&1
v reset >/dev/null 2>&1
settles notifier_icon 1 "after a reboot the notifier shows its icon"
v tap >/dev/null
settles timeouts "battery 0 external 0 wakeup 60" "a tap locks"
expect "removed $name" "$(v remove "$name" 2>&1)" "removal while locked"
expect "battery 100 external 200 wakeup 60" "$(timeouts)" "the user's timeouts are back"
expect 0 "$(notifier_icon)" "the notifier has ended"
expect "$fresh" "$(snapshot)" "nothing of the package is left"
expect '"AltBatterie" = dword:00000064 (100)' "$(values "$settings" | grep -o '"AltBatterie" = [^"]*(100)')" \
    "the user's Settings key stays"

expect "installed $name: 4 files, 2 shortcuts, 0 registry values" "$(v install "$cab" 2>&1)" "installed again"
[ $fail = 0 ] && echo "package: all passed"
exit $fail
