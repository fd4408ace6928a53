#!/usr/bin/env bash
# Builds everything and runs the whole test suite (unit and end-to-end).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
bash "$top/scripts/build.sh" "$@"
cd "$build"
ctest --output-on-failure -j"$(nproc)" --timeout 300
