#!/bin/bash
# Runs one Windows test executable under Wine in a scratch copy of the
# template prefix, with a persistent server of its own, and removes the
# server afterwards. Used as the cross-compiling emulator of the tests.
# Usage: run-in-wine.sh BENCH_DIR PROGRAM.exe [ARGS...]
# BENCH_PREFIX_NAME names the prefix copy (default: the program's name);
# BENCH_KEEP_PREFIX=1 keeps it afterwards.
set -u
bench=$1
program=$2
shift 2
name=${BENCH_PREFIX_NAME:-$(basename "$program" .exe)}
template=$bench/template
prefix=$bench/prefixes/$name
wine=/usr/lib/wine/wine64

if [ ! -f "$template/.bench-ready" ]; then
    echo "run-in-wine: no template prefix at $template (run the bench_template test first)" >&2
    exit 1
fi
export WINEPREFIX=$prefix WINEDEBUG=${WINEDEBUG:--all}
# A server left from an earlier run of the same name must not see the new copy.
wineserver -k >/dev/null 2>&1
rm -rf "$prefix"
mkdir -p "$bench/prefixes"
if ! cp -a "$template" "$prefix"; then
    echo "run-in-wine: copying the template prefix to $prefix failed" >&2
    exit 1
fi

# Detached streams: services started by the server must not hold our pipe.
wineserver -p </dev/null >/dev/null 2>&1
"$wine" cmd /c exit </dev/null >/dev/null 2>&1
"$wine" "$program" "$@"
rc=$?
# A run that ends without a word (a crash, or a program Wine could not
# start) still says what it was.
[ $rc = 0 ] || echo "run-in-wine: $(basename "$program") $* ended with exit code $rc in $prefix" >&2
wineserver -k >/dev/null 2>&1
# A prefix copy takes some 700 MB: it goes unless kept for a look
# (BENCH_KEEP_PREFIX=1).
[ "${BENCH_KEEP_PREFIX:-0}" = 1 ] || rm -rf "$prefix"
exit $rc
