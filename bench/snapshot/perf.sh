#!/usr/bin/env bash
# save, diff and apply on a generated tree of 10,000 writable nodes (100
# groups of 100: int32, double, string, enum, bool[4] in turn).
# Usage: bench/snapshot/perf.sh [BUILD_DIR] (default build)
# Build first: cmake --build BUILD_DIR --target bench_snapshot
# Environment: RUNS (runs per figure, default 5), CHANGED (nodes changed
# before the apply, default 1000).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${1:-$root/build}
bin=$build/bin
runs=${RUNS:-5}
changed=${CHANGED:-1000}

for program in velnor-rove velnor-registryd; do
  [[ -x $bin/$program ]] || { echo "perf.sh: $bin/$program is missing (build target bench_snapshot)" >&2; exit 2; }
done

if [[ $(nproc) -ge 2 ]]; then server_cpu=0; client_cpu=1; else server_cpu=0; client_cpu=0; fi
on_client() { taskset -c "$client_cpu" "$@"; }

source "$here/../perf-lib.sh"

tree=$work/tree.yaml
awk 'BEGIN {
  print "host: snapshot-bench"
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
}' >"$tree"

start_server port registry "$bin/velnor-registryd" --tree "$tree" --port 0
rove() { on_client "$bin/velnor-rove" "$@" --port "$port"; }
tcp() { VELNOR_RUNTIME_DIR=$work "$@"; }

rove save -o "$work/saved.yaml"
nodes=$(sed -n 's/^count: //p' "$work/saved.yaml")
# CHANGED int32 and double nodes, spread over the tree, get other values:
# the file with the changes is applied, then the saved one puts them back.
awk -v want="$changed" '
  /^  - / && done < want && (/type: int32/ || /type: double/) { sub(/value: [^}]*}/, "value: 7}"); done++ }
  { print }' "$work/saved.yaml" >"$work/changed.yaml"

timed() {  # figure name, then the command; status 0, or 1 for diff's differences
  local name=$1 t0 t1 status=0; shift
  t0=$EPOCHREALTIME
  "$@" >/dev/null || status=$?
  t1=$EPOCHREALTIME
  if (( status > 1 )); then echo "perf.sh: $name failed with status $status" >&2; exit 1; fi
  awk -v n="$name" -v a="$t0" -v b="$t1" 'BEGIN { printf "%s %.1f\n", n, (b - a) * 1000 }'
  return 0
}
rounds() {
  local i
  for (( i = 0; i < runs; i++ )); do
    timed save-local rove save -o "$work/again.yaml"
    tcp timed save-tcp rove save -o "$work/again.yaml"
    timed diff-equal rove diff "$work/saved.yaml"
    timed apply-changes rove apply "$work/changed.yaml"
    timed diff-changed rove diff "$work/saved.yaml"
    timed apply-back rove apply "$work/saved.yaml"
    timed apply-dry rove apply "$work/changed.yaml" --dry-run
  done
}
declare -A t=()
while read -r name value; do t[$name]=$value; done < <(rounds | medians)

differing=$(rove apply "$work/changed.yaml" --dry-run | grep -c '^would set ' || true)
printf "%-52s %10s\n" "figure ($nodes nodes, $changed changed, medians of $runs)" "ms"
printf "%-52s %10s\n" "save, local socket" "${t[save-local]}"
printf "%-52s %10s\n" "save, TCP" "${t[save-tcp]}"
printf "%-52s %10s\n" "diff, no difference" "${t[diff-equal]}"
printf "%-52s %10s\n" "diff, $differing differences" "${t[diff-changed]}"
printf "%-52s %10s\n" "apply --dry-run, $changed to write" "${t[apply-dry]}"
printf "%-52s %10s   (target < 2000)\n" "apply, $changed nodes written and read back, local" "${t[apply-changes]}"
printf "%-52s %10s\n" "apply, $changed nodes back" "${t[apply-back]}"
echo "(client on cpu $client_cpu, server on cpu $server_cpu; snapshot $(stat -c %s "$work/saved.yaml") bytes)"
