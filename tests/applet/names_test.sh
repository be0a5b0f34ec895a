#!/usr/bin/env bash
# The applet holds the names of the device library, its procedures and the settings event
# only scrambled: none of them may appear in the library as a wide string.
set -uo pipefail
library="$VELMORA_BUILD/device-files/powerg.cpl"
[ -f "$library" ] || { echo "FAIL: expected $library, found none"; exit 1; }
fail=0
for name in coredll.dll CreateEventW EventModify BackLightChangeEvent SetCleanRebootFlag; do
    found=$(strings -a -e l "$library" | grep -c -F "$name")
    if [ "$found" != 0 ]; then
        echo "FAIL: $name: expected no wide string, found $found"
        fail=1
    fi
done
# The event is no import either, so it must not be there in any form.
if strings -a "$library" | grep -q -F BackLightChangeEvent; then
    echo "FAIL: BackLightChangeEvent: expected nowhere in the library, found as a narrow string"
    fail=1
fi
[ $fail = 0 ] && echo "names: none in plain form"
exit $fail
