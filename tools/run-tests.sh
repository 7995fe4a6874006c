#!/bin/bash
# Installs what is needed, builds, and runs every test under Wine.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
"$root/tools/install-deps.sh"
"$root/tools/build.sh" "$build"
cd "$build"
ctest -j2 --output-on-failure
