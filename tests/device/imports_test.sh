#!/usr/bin/env bash
# The deliverables are Windows CE 3.0 images: machine, subsystem 9 version 3.00, no TLS, their
# relocations and no static constructors; imports from the platform's libraries only, each by
# ordinal but for the calls the README names, and each ordinal exported by the device's library
# under the name the platform's table gives it. Every other device program binds the calls only
# the platform has to coredll.dll: a wrong link order would pass every build and fail only on
# the device. Reads each architecture's build beside $VELMORA_BUILD (i686 always).
set -uo pipefail
fail=0
check() { # WHAT EXPECTED ACTUAL
    if [ "$2" != "$3" ]; then
        echo "FAIL: $1: expected $2, actual $3"
        fail=1
    fi
}
platform_libraries='coredll.dll aygshell.dll commctrl.dll'
# The README's table of the calls imported by name: "| `LIB` | `CALL` | why |".
by_name=$(sed -n 's/^| `\([a-z]*\.dll\)` | `\([A-Za-z_]*\)` |.*/\1 \2/p' "$VELMORA_ROOT/README.md")
[ -n "$by_name" ] || { echo "FAIL: the README names no call imported by name"; fail=1; }

# "ORDINAL NAME" of a platform table (platform/NAME.def).
table() { sed -n 's/^\([A-Za-z_][A-Za-z0-9_]*\)\(@[0-9]*\)\{0,1\}[^;]* @\([0-9][0-9]*\).*/\3 \1/p' "$1"; }
# "ORDINAL NAME" of a DLL's export table.
exports() {
    "$objdump" -p "$1" | awk '/Ordinal Base/ {base=$NF} /^\[Ordinal\/Name Pointer\] Table/ {names=1; next}
        names && /^\t\[/ {gsub(/[\[\]]/, " "); print $1 + base, $2; next} names && !/^\t/ {names=0}'
}
# "DLL ORDINAL NAME" of an image's imports; NAME is <none> for an import by ordinal, whose
# number objdump prints in hexadecimal for PE32+.
imports() {
    "$objdump" -p "$1" | awk '/DLL Name:/ {dll=tolower($3)} /^\t[0-9a-f]+\t +[0-9a-f]+ +/ {print dll, $2, $3}' |
        while read -r dll ordinal call; do
            [ "$magic" = 020b ] && [ "$call" = '<none>' ] && ordinal=$((16#$ordinal))
            echo "$dll $((10#$ordinal)) $call"
        done
}

for build in "$VELMORA_BUILD" "$(dirname "$VELMORA_BUILD")/x86_64"; do
    arch=$(basename "$build")
    [ -d "$build/device-files" ] || { [ "$arch" = i686 ] && check "$arch build" present missing; continue; }
    case $arch in
    i686) objdump=i686-w64-mingw32-objdump format=pei-i386 magic=010b pointer=4 ;;
    *) objdump=x86_64-w64-mingw32-objdump format=pei-x86-64 magic=020b pointer=8 ;;
    esac
    for library in coredll aygshell; do
        declare -A "named_$library=()"
        declare -n named="named_$library"
        while read -r ordinal name; do named[$ordinal]=$name; done < <(table "$VELMORA_ROOT/platform/$library.def")
        declare -A "device_$library=()"
        declare -n device="device_$library"
        while read -r ordinal name; do device[$ordinal]=$name; done < <(exports "$build/device-files/$library.dll")
        unset -n named device
    done
    for path in Ostrelle.exe:notifier launcher.exe:launcher powerg.cpl:applet setup.dll:setup; do
        name=${path%%:*} file=$build/device-files/${path%%:*} linked=$build/${path#*:}/${path%%:*}
        headers=$("$objdump" -p "$file")
        check "$arch $name format" "$format" "$(sed -n 's/.*file format \(.*\)/\1/p' <<<"$headers")"
        check "$arch $name magic" "$magic" "$(awk '$1 == "Magic" {print $2}' <<<"$headers")"
        check "$arch $name subsystem" 00000009 "$(awk '$1 == "Subsystem" {print $2}' <<<"$headers")"
        check "$arch $name subsystem version" 3.0 "$(awk '$1 == "MajorSubsystemVersion" {major=$2}
            $1 == "MinorSubsystemVersion" {minor=$2} END {print major "." minor}' <<<"$headers")"
        check "$arch $name TLS directory" none "$(awk '$1 == "Entry" && $2 == 9 {print ($3 ~ /^0+$/ && $4 ~ /^0+$/ ? "none" : $3)}' <<<"$headers")"
        # Kept: the image does not carry the flag "relocations stripped", which pins it to its
        # base. (The 64-bit setup.dll has no absolute address, so its table is empty.)
        characteristics=$(awk '$1 == "Characteristics" {print $2}' <<<"$headers")
        check "$arch $name relocations" kept "$( (( ${characteristics:-1} & 1 )) && echo stripped || echo kept)"
        # An empty constructor list is its two sentinels.
        read -r ctors dtors < <("$objdump" -t "$linked" | awk '$NF ~ /^_?__CTOR_LIST__$/ {c=$(NF-1)}
            $NF ~ /^_?__DTOR_LIST__$/ {d=$(NF-1)} END {print c, d}')
        check "$arch $name static constructors" $((2 * pointer)) "$((${dtors:-0} - ${ctors:-0}))"
        count=0
        while read -r dll ordinal call; do
            count=$((count + 1))
            [[ " $platform_libraries " == *" $dll "* ]] || { check "$arch $name library of import $call" "one of $platform_libraries" "$dll"; continue; }
            if [ "$call" != '<none>' ]; then
                grep -qxF "$dll $call" <<<"$by_name" || check "$arch $name import $dll $call" "by ordinal" "by name"
                continue
            fi
            declare -n named="named_${dll%.dll}" device="device_${dll%.dll}"
            check "$arch $name import $dll @$ordinal" "${named[$ordinal]:-a call of the platform table} in the device $dll" \
                "${device[$ordinal]:-nothing} in the device $dll"
            unset -n named device
        done < <(imports "$file")
        # The setup library rides in every cabinet: lean as its platform's were.
        [ "$name" = setup.dll ] && [ "$(stat -c %s "$file")" -gt 4096 ] &&
            check "$arch setup.dll size" "at most 4096 bytes" "$(stat -c %s "$file") bytes"
        [ $fail = 0 ] && echo "ok: $arch $name: CE 3.0 image, $count imports from the platform"
    done
    # The device's own programs are desktop programs.
    ce_calls='SystemParametersInfoW|GetSystemPowerStatusEx|EventModify|SetCleanRebootFlag|GetProcAddressW|RegOpenKeyExW|RegCreateKeyExW'
    for file in "$build"/device-files/*.exe; do
        case $(basename "$file") in Ostrelle.exe | launcher.exe) continue ;; esac
        wrong=$(imports "$file" | awk -v calls="^($ce_calls)\$" '$3 ~ calls && $1 != "coredll.dll" {print $1, $3}')
        check "$arch $(basename "$file"): CE calls from elsewhere than coredll.dll" "" "$wrong"
    done
done
[ $fail = 0 ] && echo "imports: all passed"
exit $fail
