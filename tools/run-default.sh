#!/bin/bash
# The program's main job on the built-in default: builds setup.exe, makes a
# scratch Wine prefix with the device bench, copies the sample package and
# setup.exe into a folder of it, installs silently from there, shows what was
# installed and the /debug answer, runs the uninstall command exactly as the
# installed-programs entry holds it, and shows that nothing is left.
# Usage: run-default.sh [BUILD_DIR]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
"$root/tools/install-deps.sh"
echo "Building setup.exe and the device bench..."
"$root/tools/build.sh" "$build" setup showstate bench_msports bench_newdev bench_cfgmgr32 >/dev/null

export WINEPREFIX=$build/wine/default WINEDEBUG=-all
wine=/usr/lib/wine/wine64
prefix_log=$build/wine/default-prefix.log
# Whatever step fails, the last lines say what to send when asking for help.
report_failure() {
    local rc=$1 what="the output above"
    [ -s "$prefix_log" ] && what="$what and $prefix_log"
    echo "run-default: failed (exit code $rc). When asking for help, send $what." >&2
}
trap 'rc=$?; [ $rc = 0 ] || report_failure $rc' EXIT
wineserver -k >/dev/null 2>&1 || true
echo "Making a scratch Wine prefix with the device bench (its log: $prefix_log)..."
"$root/tests/bench/make-template-prefix.sh" "$WINEPREFIX" "$build"
package=$WINEPREFIX/drive_c/package
mkdir -p "$package"
cp "$root"/tests/package/* "$build/bin/setup.exe" "$package/"
cp "$build/bin/showstate.exe" "$WINEPREFIX/drive_c/"
wineserver -p </dev/null >/dev/null 2>&1
trap 'rc=$?; wineserver -k >/dev/null 2>&1; [ $rc = 0 ] || report_failure $rc' EXIT

# Runs a Windows program quietly; prints its exit code (Wine passes the
# 32-bit code on as its low byte, so 255 is -1).
run() {
    local folder=$1 rc=0
    shift
    (cd "$folder" && "$wine" "$@" </dev/null >/dev/null 2>&1) || rc=$?
    [ "$rc" = 255 ] && rc=-1
    echo "$rc"
}
show_state() {
    (cd "$WINEPREFIX/drive_c" && "$wine" showstate.exe </dev/null 2>/dev/null) | tr -d '\r' | sed 's/^/    /'
}

echo
echo "== Before: a machine without the driver"
show_state
echo
echo "== setup.exe /s in C:\\package -> exit code $(run "$package" setup.exe /s)"
show_state
echo
echo "== setup.exe /debug -> exit code $(run "$package" setup.exe /debug) (1: installed)"
command=$("$wine" reg query 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\qzvrcom' /v UninstallString \
    2>/dev/null | tr -d '\r' | sed -n 's/.*REG_EXPAND_SZ *//p')
echo
echo "== The installed-programs entry's command: $command"
# The command names setup.exe by its Windows path; start it through cmd as
# the installed-programs list would, and report its exit code.
rc=0
"$wine" cmd /c "$command" </dev/null >/dev/null 2>&1 || rc=$?
[ "$rc" = 255 ] && rc=-1
echo "   -> exit code $rc"
show_state
echo
echo "== setup.exe /debug -> exit code $(run "$package" setup.exe /debug) (0: not installed)"
echo "(The package copy in C:\\windows\\qzvrcom stays, as uninstallation leaves it.)"
echo
echo "== The text log both runs left, C:\\windows\\qzvrcom\\setup.log (the query wrote nothing):"
tr -d '\r' <"$WINEPREFIX/drive_c/windows/qzvrcom/setup.log" | sed 's/^/    /'
echo
echo "Done. The prefix is $WINEPREFIX (its log: $prefix_log); the run log above is"
echo "$WINEPREFIX/drive_c/windows/qzvrcom/setup.log. Next, run every test: bash tools/run-tests.sh"
