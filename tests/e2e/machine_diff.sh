#!/bin/bash
# Installs the sample package silently in a scratch copy of the bench prefix,
# runs the uninstall command exactly as the installed-programs entry holds
# it, and compares the whole registry (HKLM) and file tree of drive C with
# the state before: every difference must be listed, with its reason, in
# expected-differences.txt.
# Usage: machine_diff.sh BENCH_DIR BUILD_DIR
set -u
bench=$1
build=$2
here=$(cd "$(dirname "$0")" && pwd)
export WINEPREFIX=$bench/prefixes/machine_diff WINEDEBUG=-all
wine=/usr/lib/wine/wine64
work=$bench/machine_diff
wineserver -k >/dev/null 2>&1
rm -rf "$WINEPREFIX" "$work"
mkdir -p "$work"
cp -a "$bench/template" "$WINEPREFIX"
wineserver -p </dev/null >/dev/null 2>&1
trap 'wineserver -k >/dev/null 2>&1; rm -rf "$WINEPREFIX"' EXIT
"$wine" cmd /c exit </dev/null >/dev/null 2>&1
package=$WINEPREFIX/drive_c/package
mkdir -p "$package"
cp "$here/../package/"* "$build/bin/setup.exe" "$package/"

# One line per file (path and size) and per registry line, each registry
# value tagged with its key.
snapshot() {
    (cd "$WINEPREFIX/drive_c" && find . -path ./package -prune -o -type f -printf '%p %s\n' | sort) >"$work/$1.files"
    "$wine" regedit /E 'C:\hklm.reg' HKEY_LOCAL_MACHINE </dev/null >/dev/null 2>&1
    iconv -f UTF-16 -t UTF-8 "$WINEPREFIX/drive_c/hklm.reg" | tr -d '\r' |
        awk '/^\[/ { key = $0; sub(/^.*\\/, "", key); sub(/\]$/, "", key); print; next } { print $0 " [" key "]" }' \
        >"$work/$1.reg"
    rm -f "$WINEPREFIX/drive_c/hklm.reg"
    sed -i '/^\.\/hklm\.reg /d' "$work/$1.files"
}

snapshot before
rc=0
(cd "$package" && "$wine" setup.exe /s </dev/null >/dev/null 2>&1) || rc=$?
[ "$rc" = 0 ] || { echo "silent install failed: exit code $rc"; exit 1; }
command=$("$wine" reg query 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\qzvrcom' /v UninstallString \
    2>/dev/null | tr -d '\r' | sed -n 's/.*REG_EXPAND_SZ *//p')
echo "uninstall command: $command"
"$wine" cmd /c "$command" </dev/null >/dev/null 2>&1 || rc=$?
[ "$rc" = 0 ] || { echo "uninstall failed: exit code $rc"; exit 1; }
snapshot after

patterns=$(grep -v '^#' "$here/expected-differences.txt" | grep -v '^$')
unexplained=0
while IFS= read -r line; do
    if echo "$line" | grep -qE "$patterns"; then
        echo "expected: $line"
    else
        echo "UNEXPLAINED: $line"
        unexplained=$((unexplained + 1))
    fi
done < <({ diff "$work/before.files" "$work/after.files"; diff "$work/before.reg" "$work/after.reg"; } | grep "^[<>]")
echo "$unexplained unexplained difference(s)"
[ "$unexplained" = 0 ]
