#!/bin/bash
# Configures and builds into BUILD_DIR (default: build): every target, or
# only the targets named after it.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
shift || true
targets=()
for target in "$@"; do
    targets+=(--target "$target")
done
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
cmake --build "$build" -j"$(nproc)" "${targets[@]}"
