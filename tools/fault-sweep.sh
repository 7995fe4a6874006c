#!/bin/bash
# Full fault and kill sweeps: every call of every counted function of every
# scenario fails once, and every call of the install, reinstall and
# uninstall is where a run is killed and then run again; each run in a child
# process under Wine; writes docs/reliability.md.
# The two sweeps run side by side, each in a prefix of its own; their
# reports are joined into one that opens with the summary of both.
# Usage: tools/fault-sweep.sh [BUILD_DIR]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
bash "$root/tools/build.sh" "$build" fault_sweep bench_msports bench_newdev sample_package
if [ ! -f "$build/wine/template/.bench-ready" ]; then
    "$root/tests/bench/make-template-prefix.sh" "$build/wine/template" "$build"
fi
run_sweep() {
    BENCH_PREFIX_NAME=fault_sweep_full_$1 "$root/tests/bench/run-in-wine.sh" "$build/wine" \
        "$build/bin/fault_sweep.exe" --full --sweeps "$1" --report "Z:$build/reliability-full-$1.md"
}
run_sweep fault > "$build/fault-sweep-full-fault.log" 2>&1 &
fault=$!
run_sweep kill > "$build/fault-sweep-full-kill.log" 2>&1 &
kill=$!
status=0
wait $fault || status=1
wait $kill || status=1
python3 - "$build/reliability-full-fault.md" "$build/reliability-full-kill.md" > "$root/docs/reliability.md" <<'PYTHON'
import sys
# Each report: header, "## Summary" table, the sweep's tables, and last the
# table of calls never made to fail. Joined: one header, both summaries in
# one table, the fault tables, the kill tables, the last table once.
def split(path):
    text = open(path).read()
    summary = text.index("## Summary")
    body = text.index("\n\n", text.index("|---", summary)) + 2
    last = text.index("## Calls that are never made to fail")
    return text[:summary], text[summary:body].rstrip("\n") + "\n", text[body:last], text[last:]
fault, kill = split(sys.argv[1]), split(sys.argv[2])
rows = kill[1].split("|---|---|---|---|---|---|\n", 1)[1]
sys.stdout.write(fault[0] + fault[1] + rows + "\n" + fault[2] + kill[2] + fault[3])
PYTHON
grep -h "faulty run" "$build/fault-sweep-full-fault.log" "$build/fault-sweep-full-kill.log"
exit $status
