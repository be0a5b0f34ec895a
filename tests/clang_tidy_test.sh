#!/usr/bin/env bash
# The package's code keeps its naming rules (.clang-tidy): clang-tidy reads each source of the
# applet, the notifier, the launcher, the setup library and their common part as the build
# compiles it (the build's compile commands, for the cross compiler's target and headers), and
# any finding fails.
set -uo pipefail
db=$VELMORA_BUILD/compile_commands.json
command -v clang-tidy >/dev/null || { echo "FAIL: expected Debian's clang-tidy, found none"; exit 1; }
[ -f "$db" ] || { echo "FAIL: expected the build's compile commands $db, found none"; exit 1; }
# The package's sources, and the compiler that builds them.
mapfile -t sources < <(/usr/bin/python3 - "$db" "$VELMORA_ROOT" <<'PY'
import json, os, sys
root = os.path.realpath(sys.argv[2])
entries = json.load(open(sys.argv[1]))
parts = tuple(os.path.join(root, part) + os.sep for part in ('applet', 'notifier', 'launcher', 'setup', 'common'))
files = sorted({os.path.realpath(e['file']) for e in entries
                if os.path.realpath(e['file']).startswith(parts)})
compilers = {e['command'].split()[0] for e in entries if os.path.realpath(e['file']) in files}
print(' '.join(sorted(compilers)))
print('\n'.join(files))
PY
)
compiler=${sources[0]:-}
sources=("${sources[@]:1}")
for part in applet notifier launcher setup common; do
    n=$(printf '%s\n' "${sources[@]}" | grep -c "/$part/")
    [ "$n" -gt 0 ] || { echo "FAIL: expected sources of $part/ in $db, found none"; exit 1; }
done
[ -x "$(command -v "$compiler")" ] || { echo "FAIL: expected one compiler of the package, got '$compiler'"; exit 1; }
# The cross compiler's C++ and MinGW headers; its own built-in ones are GCC's, clang has its own.
extra=(--extra-arg=--target="$("$compiler" -dumpmachine)" --extra-arg=-nostdinc++)
while read -r dir; do
    case $dir in */include | */include-fixed) [[ $dir == */lib/gcc/* ]] && continue ;; esac
    extra+=(--extra-arg=-isystem"$dir")
done < <("$compiler" -xc++ -E -v - </dev/null 2>&1 | sed -n '/^#include <...>/,/^End of search/p' | sed -n 's/^ //p')
out=$(cd "$VELMORA_ROOT" && clang-tidy -p "$VELMORA_BUILD" --quiet "${extra[@]}" "${sources[@]}" 2>&1)
rc=$?
findings=$(grep -c ': \(warning\|error\):' <<<"$out")
if [ $rc != 0 ] || [ "$findings" != 0 ]; then
    echo "FAIL: clang-tidy on ${#sources[@]} sources: expected no finding and exit 0, actual $findings findings and exit $rc:"
    grep -A2 ': \(warning\|error\):' <<<"$out"
    exit 1
fi
echo "ok: clang-tidy finds nothing in ${#sources[@]} sources of the package"
