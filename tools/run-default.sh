#!/bin/bash
# Installs what is needed, builds setup.exe and runs its main job in a
# scratch Wine prefix: the package folder is copied into the prefix and
# setup.exe runs from there, silently, then answers the installed query.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
"$root/tools/install-deps.sh"
"$root/tools/build.sh" "$build" setup bench_msports bench_newdev

export WINEPREFIX=$build/wine/default WINEDEBUG=-all
wine=/usr/lib/wine/wine64
wineserver -k >/dev/null 2>&1 || true
"$root/tests/bench/make-template-prefix.sh" "$WINEPREFIX" "$build"
package=$WINEPREFIX/drive_c/package
mkdir -p "$package"
cp "$build/bin/setup.exe" "$package/"
[ -d "$root/tests/package" ] && cp -r "$root/tests/package/." "$package/"
wineserver -p </dev/null >/dev/null 2>&1
trap 'wineserver -k >/dev/null 2>&1' EXIT

run() {
    local rc=0
    (cd "$package" && "$wine" setup.exe "$@" </dev/null >/dev/null 2>&1) || rc=$?
    # Wine hands the 32-bit exit code on as its low byte: 255 is -1.
    [ "$rc" = 255 ] && rc=-1
    echo "setup.exe $* -> exit code $rc"
}
echo "Package folder: $package"
run /s
run /debug
