#!/usr/bin/env bash
# --glob expansion over a tree of 10,000 nodes (100 boards of 99 values):
# the median time of each pattern's expansion, in-process, over the TCP
# connection. Usage: bench/rove/glob.sh [BUILD_DIR] (build target bench_glob)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${1:-$root/build}
bin=$build/bin
for program in velnor-registryd bench_glob; do
  [[ -x $bin/$program ]] || { echo "glob.sh: $bin/$program is missing (build target bench_glob)" >&2; exit 2; }
done
if [[ $(nproc) -ge 2 ]]; then server_cpu=0; client_cpu=1; else server_cpu=0; client_cpu=0; fi
source "$here/../perf-lib.sh"

tree=$work/glob-tree.yaml
awk 'BEGIN {
  print "host: glob-host\napplication:\n  nodes:\n    boards:\n      nodes:"
  for (b = 0; b < 100; b++) {
    printf "        b%d:\n          nodes:\n", b
    for (n = 0; n < 99; n++) printf "            n%d: {type: int32, value: %d, flags: [writable]}\n", n, n
  }
}' >"$tree"
start_server port registry "$bin/velnor-registryd" --tree "$tree" --port 0
echo "pattern matches median-ms"
VELNOR_RUNTIME_DIR=$work taskset -c "$client_cpu" "$bin/bench_glob" "$port" "${ROUNDS:-21}"
