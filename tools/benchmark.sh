#!/bin/bash
# Builds the benchmark program and runs it under Wine in a scratch prefix.
# Usage: tools/benchmark.sh [BUILD_DIR]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
# Absolute: Wine takes only an absolute prefix path.
build=$(realpath -m "${1:-$root/build}")
bash "$root/tools/build.sh" "$build" setup_benchmark bench_msports bench_newdev
bench=$build/benchmark
if [ ! -f "$bench/template/.bench-ready" ]; then
    bash "$root/tests/bench/make-template-prefix.sh" "$bench/template" "$build"
fi
bash "$root/tests/bench/run-in-wine.sh" "$bench" "$build/bin/setup_benchmark.exe"
