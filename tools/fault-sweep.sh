#!/bin/bash
# Full fault and kill sweeps: every call of every counted function of every
# scenario fails once, and every call of the install, reinstall and
# uninstall is where a run is killed and then run again, the calls made
# inside the system's device installation (the K rows of fault_table.h)
# included; each run in a child process under Wine, on the sweep's lived-in
# machine; writes docs/reliability.md.
# The two sweeps run side by side, each in a prefix of its own; their
# reports are joined (tools/join-sweep-reports.py) into one that opens
# with the summary of both.
# Usage: tools/fault-sweep.sh [BUILD_DIR]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
bash "$root/tools/build.sh" "$build" fault_sweep bench_msports bench_newdev bench_cfgmgr32 sample_package
if [ ! -f "$build/wine/template/.bench-ready" ]; then
    "$root/tests/bench/make-template-prefix.sh" "$build/wine/template" "$build"
fi
# Six parts side by side, each in a prefix of its own: the fault sweep in
# two halves of the functions (about 20 minutes of a core each), and the
# kill sweep in four (about 35 each, a kill being two runs). More parts
# than cores keep both cores busy until the end.
parts=("fault::0/2:fault" "fault-2::1/2:fault"
       "kill-install:install,uninstall:0/2:kill" "kill-install-2:install,uninstall:1/2:kill"
       "kill-reinstall:reinstall:0/2:kill" "kill-reinstall-2:reinstall:1/2:kill")
start=$(date +%s)
pids=()
reports=()
for part in "${parts[@]}"; do
    IFS=: read -r name scenarios share sweeps <<< "$part"
    args=(--full --sweeps "$sweeps" --share "$share" --report "Z:$build/reliability-full-$name.md")
    [ -n "$scenarios" ] && args+=(--scenario "$scenarios")
    BENCH_PREFIX_NAME=fault_sweep_full_$name "$root/tests/bench/run-in-wine.sh" "$build/wine" \
        "$build/bin/fault_sweep.exe" "${args[@]}" > "$build/fault-sweep-full-$name.log" 2>&1 &
    pids+=($!)
    reports+=("$build/reliability-full-$name.md")
done
status=0
for pid in "${pids[@]}"; do
    wait "$pid" || status=1
done
python3 "$root/tools/join-sweep-reports.py" $(( $(date +%s) - start )) "${reports[@]}" > "$root/docs/reliability.md"
grep -h "faulty run" "$build"/fault-sweep-full-*.log
exit $status
