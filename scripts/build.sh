#!/usr/bin/env bash
# Installs what is missing, configures and builds into build/ (or $BUILD_DIR).
# Extra arguments go to CMake's configure step (e.g. -DVELNOR_ASAN=ON).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
bash "$top/scripts/setup.sh"
if [ ! -f "$build/build.ninja" ] || [ $# -gt 0 ]; then
  cmake -S "$top" -B "$build" -G Ninja "$@" >/dev/null
fi
cmake --build "$build" -j"$(nproc)"
