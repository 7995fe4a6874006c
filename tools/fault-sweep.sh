#!/bin/bash
# Full fault and kill sweeps: every call of every counted function of every
# scenario fails once, and every call of the install, reinstall and
# uninstall is where a run is killed and then run again; each run in a child
# process under Wine; writes docs/reliability.md.
# Usage: tools/fault-sweep.sh [BUILD_DIR]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
bash "$root/tools/build.sh" "$build" fault_sweep bench_msports bench_newdev
if [ ! -f "$build/wine/template/.bench-ready" ]; then
    "$root/tests/bench/make-template-prefix.sh" "$build/wine/template" "$build"
fi
BENCH_PREFIX_NAME=fault_sweep_full "$root/tests/bench/run-in-wine.sh" "$build/wine" "$build/bin/fault_sweep.exe" \
    --full --report "Z:$root/docs/reliability.md"
