#!/usr/bin/env bash
# The plain dump against dump --json of the same tree: a tree of 10,000
# nodes with values (100 groups of 100: int32, double, string, enum,
# bool[4] in turn) and one of 100,000 nodes (100 groups of 999 leaves, one
# in ten with a value: int32 or string), the largest a tree file may hold.
# Usage: bench/dump/perf.sh [BUILD_DIR] (default build)
# Build first: cmake --build BUILD_DIR --target bench_dump
# Environment: RUNS (runs per figure, default 11).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${1:-$root/build}
bin=$build/bin
runs=${RUNS:-11}

for program in velnor-rove velnor-registryd; do
  [[ -x $bin/$program ]] || { echo "perf.sh: $bin/$program is missing (build target bench_dump)" >&2; exit 2; }
done

if [[ $(nproc) -ge 2 ]]; then server_cpu=0; client_cpu=1; else server_cpu=0; client_cpu=0; fi
on_client() { taskset -c "$client_cpu" "$@"; }

source "$here/../perf-lib.sh"

awk 'BEGIN {
  print "host: dump-bench"
  print "application:"
  print "  nodes:"
  for (g = 0; g < 100; g++) {
    printf "    g%02d:\n      nodes:\n", g
    for (n = 0; n < 100; n++) {
      k = n % 5
      if (k == 0) printf "        n%02d: {type: int32, value: %d, flags: [writable]}\n", n, g * 100 + n
      if (k == 1) printf "        n%02d: {type: double, value: %d.25, flags: [writable]}\n", n, n
      if (k == 2) printf "        n%02d: {type: string, value: \"text %d\", flags: [writable]}\n", n, n
      if (k == 3) printf "        n%02d: {type: enum, domain: [a, b, c], value: a, flags: [writable]}\n", n
      if (k == 4) printf "        n%02d: {type: bool, value: [true, false, true, false], flags: [writable]}\n", n
    }
  }
}' >"$work/small.yaml"
awk 'BEGIN {
  print "host: dump-bench"
  print "application:"
  print "  nodes:"
  for (g = 0; g < 100; g++) {
    printf "    g%02d:\n      nodes:\n", g
    for (n = 0; n < 999; n++) {
      k = n % 20
      if (k == 0) printf "        n%03d: {type: int32, value: %d}\n", n, g * 1000 + n
      else if (k == 10) printf "        n%03d: {type: string, value: \"text %d\"}\n", n, n
      else printf "        n%03d: {}\n", n
    }
  }
}' >"$work/large.yaml"

start_server small registry-small "$bin/velnor-registryd" --tree "$work/small.yaml" --port 0
start_server large registry-large "$bin/velnor-registryd" --tree "$work/large.yaml" --port 0

timed() {  # figure name, port, then the arguments
  local name=$1 port=$2 t0 t1; shift 2
  t0=$EPOCHREALTIME
  on_client "$bin/velnor-rove" "$@" --port "$port" >/dev/null
  t1=$EPOCHREALTIME
  awk -v n="$name" -v a="$t0" -v b="$t1" 'BEGIN { printf "%s %.1f\n", n, (b - a) * 1000 }'
}
rounds() {
  local i
  for (( i = 0; i < runs; i++ )); do
    timed small-plain "$small" dump
    timed small-json "$small" dump --json
    timed large-plain "$large" dump
    timed large-json "$large" dump --json
    timed large-json-level1 "$large" dump --json -l 1
  done
}
declare -A t=()
while read -r name value; do t[$name]=$value; done < <(rounds | medians)

nodes() { on_client "$bin/velnor-rove" dump --port "$1" | wc -l; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
printf "%-44s %10s %10s %8s\n" "figure (medians of $runs runs, ms)" "dump" "--json" "ratio"
for tree in small large; do
  port=${!tree}
  printf "%-44s %10s %10s %8s   (target <= 3)\n" "whole tree, $(nodes "$port") nodes" "${t[$tree-plain]}" \
    "${t[$tree-json]}" "$(ratio "${t[$tree-json]}" "${t[$tree-plain]}")"
done
printf "%-44s %10s %10s\n" "dump --json -l 1 of the $(nodes "$large")-node tree" "" "${t[large-json-level1]}"
echo "(client on cpu $client_cpu, server on cpu $server_cpu; load average $(cut -d' ' -f1-3 /proc/loadavg))"
