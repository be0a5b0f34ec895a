#!/usr/bin/env bash
# The applet holds the names of the device library, its procedures and the settings event only
# scrambled. None may appear plainly in the library as installed: not as a narrow or a wide
# string, in no section, not in a symbol table. The one exception is the import table, where the
# loader needs the names of what the library imports (coredll.dll itself).
set -uo pipefail
# The setup library, the package's other library, is held to the same rule.
status=0
for file in powerg.cpl setup.dll; do
library="$VELMORA_BUILD/device-files/$file"
[ -f "$library" ] || { echo "FAIL: expected $library, found none"; exit 1; }
imports=$(i686-w64-mingw32-objdump -p "$library" |
    awk '/DLL Name:/ {print $3} /^\t[0-9a-f]+\t +[0-9]+ +[A-Za-z_]/ {print $3}')
python3 - "$library" "$imports" <<'EOF2'
import re, sys
data, imports = open(sys.argv[1], "rb").read(), sys.argv[2].lower().split()
fail = 0
for name in ["coredll.dll", "CreateEventW", "EventModify", "BackLightChangeEvent",
             "SetCleanRebootFlag"]:
    for encoding, allowed in [("ascii", imports.count(name.lower())), ("utf-16-le", 0)]:
        found = len(re.findall(re.escape(name.encode(encoding)), data, re.IGNORECASE))
        if found > allowed:
            print(f"FAIL: {sys.argv[1]}: {name} as {encoding}: expected at most {allowed} (imports), found {found}")
            fail = 1
print(f"names: none in plain form in {sys.argv[1]}" if not fail else "names: found in plain form")
sys.exit(fail)
EOF2
[ $? = 0 ] || status=1
done
exit $status
