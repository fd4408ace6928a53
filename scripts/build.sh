#!/usr/bin/env bash
# Installs what is missing, configures and builds into build/ (or $BUILD_DIR).
#
#   scripts/build.sh [--target NAME]... [CMake configure arguments]
#
# Without --target it builds everything (tests and benchmarks included).
# Extra arguments go to CMake's configure step (e.g. -DVELNOR_ASAN=ON).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
targets=()
while [ $# -ge 2 ] && [ "$1" = "--target" ]; do
  targets+=(--target "$2")
  shift 2
done
bash "$top/scripts/setup.sh"
if [ ! -f "$build/build.ninja" ] || [ $# -gt 0 ]; then
  cmake -S "$top" -B "$build" -G Ninja "$@" >/dev/null
fi
cmake --build "$build" -j"$(nproc)" "${targets[@]}"
