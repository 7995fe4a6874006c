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
# Four parts side by side, each in a prefix of its own: the fault sweep,
# and the kill sweep in three parts of about the same length.
parts=("fault::0/1:fault" "kill-install:install,uninstall:0/1:kill" "kill-reinstall:reinstall:0/2:kill"
       "kill-reinstall-2:reinstall:1/2:kill")
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
python3 - "${reports[@]}" > "$root/docs/reliability.md" <<'PYTHON'
import sys
# Each report: header, "## Summary" table, the part's tables, and last the
# table of calls never made to fail. Joined: one header, every part's
# summary rows in one table, the parts' tables in order (the first part's
# kill sweep heading only once), the last table once.
def split(path):
    text = open(path).read()
    summary = text.index("## Summary")
    body = text.index("\n\n", text.index("|---", summary)) + 2
    last = text.index("## Calls that are never made to fail")
    return text[:summary], text[summary:body].rstrip("\n") + "\n", text[body:last], text[last:]
parts = [split(path) for path in sys.argv[1:]]
out = parts[0][0] + parts[0][1]
for part in parts[1:]:
    out += part[1].split("|---|---|---|---|---|---|\n", 1)[1]
out += "\n"
kill_heading = False
for part in parts:
    body = part[2]
    if body.startswith("# Kill sweep"):
        if kill_heading:
            body = body[body.index("\n## "):].lstrip("\n")
        kill_heading = True
    out += body
sys.stdout.write(out + parts[0][3])
PYTHON
grep -h "faulty run" "$build"/fault-sweep-full-*.log
exit $status
