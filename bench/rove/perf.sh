#!/usr/bin/env bash
# velnor-rove figures beside the raw omniORB baseline measured in the same
# run, as ratios. Usage: bench/rove/perf.sh [BUILD_DIR] (default build)
# Build first: cmake --build BUILD_DIR --target bench_rove
# Environment: TREE (default examples/demo.yaml), RUNS (one-shot runs, 300),
# RATE_SECONDS (raw call-rate measurement, default 3).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${1:-$root/build}
bin=$build/bin
tree=${TREE:-$root/examples/demo.yaml}
runs=${RUNS:-300}
rate_seconds=${RATE_SECONDS:-3}

for program in velnor-rove velnor-registryd bench_echo_server bench_echo_oneshot bench_mci_call_rate; do
  [[ -x $bin/$program ]] || { echo "perf.sh: $bin/$program is missing (build target bench_rove)" >&2; exit 2; }
done

# Servers on one core, clients on the other, the same for both sides.
if [[ $(nproc) -ge 2 ]]; then server_cpu=0; client_cpu=1; else server_cpu=0; client_cpu=0; fi
on_client() { taskset -c "$client_cpu" "$@"; }

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

start_server() {  # variable name, log name, command...
  local var=$1 name=$2; shift 2
  taskset -c "$server_cpu" "$@" >"$work/$name.out" 2>"$work/$name.err" &
  pids+=($!)
  for _ in $(seq 100); do
    if grep -q 'listening on' "$work/$name.out" 2>/dev/null; then
      printf -v "$var" '%s' "$(sed -n 's/.*listening on .*:\([0-9]*\)$/\1/p' "$work/$name.out" | head -1)"
      return
    fi
    sleep 0.05
  done
  echo "perf.sh: $name did not start: $(cat "$work/$name.err")" >&2
  exit 1
}

start_server registry_port registry "$bin/velnor-registryd" --tree "$tree" --port 0
start_server echo_port echo "$bin/bench_echo_server" 0

# Median wall time of one run in milliseconds; bash's clock needs no fork.
median_ms() {
  local i t0 t1
  for (( i = 0; i < runs; i++ )); do
    t0=$EPOCHREALTIME
    on_client "$@" >/dev/null
    t1=$EPOCHREALTIME
    echo "$t0 $t1"
  done | awk '{ print ($2 - $1) * 1000 }' | sort -g |
    awk '{ v[NR] = $1 } END { m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; printf "%.3f", m }'
}

# An empty runtime directory hides the registry's local socket: TCP only,
# like the raw client. Exported in a subshell, so no extra program runs.
tcp() { ( export VELNOR_RUNTIME_DIR=$work; "$@" ); }

raw_oneshot=$(median_ms "$bin/bench_echo_oneshot" "$echo_port")
rove_oneshot_tcp=$(tcp median_ms "$bin/velnor-rove" access app-name --port "$registry_port")
rove_oneshot=$(median_ms "$bin/velnor-rove" access app-name --port "$registry_port")
raw_oneshot_2=$(median_ms "$bin/bench_echo_oneshot" "$echo_port")
complete=$(median_ms "$bin/velnor-rove" access boards.g --complete boards.g --long true --port "$registry_port")

raw_read=$(on_client "$bin/bench_mci_call_rate" raw-read "$echo_port" "$rate_seconds")
raw_write=$(on_client "$bin/bench_mci_call_rate" raw-write "$echo_port" "$rate_seconds")
bench_tcp=$(tcp on_client "$bin/velnor-rove" bench --port "$registry_port")
bench=$(on_client "$bin/velnor-rove" bench --port "$registry_port")
field() { awk -v k="$1" 'index($0, k) == 1 { print $NF }' <<<"$2"; }

row() {  # figure, rove, baseline, target ("ge X" or "le X")
  awk -v f="$1" -v m="$2" -v b="$3" -v t="$4" 'BEGIN {
    r = m / b; split(t, p, " ")
    ok = (p[1] == "ge") ? (r >= p[2]) : (r <= p[2])
    printf "%-46s %12s %12s %7.2f   %s %s  %s\n", f, m, b, r, (p[1] == "ge" ? ">=" : "<="), p[2], ok ? "ok" : "MISSED"
  }'
}
limit() {  # figure, value, bound
  awk -v f="$1" -v m="$2" -v b="$3" 'BEGIN {
    printf "%-46s %12s %12s %7s   < %s  %s\n", f, m, "", "", b, (m < b) ? "ok" : "MISSED" }'
}

raw_mid=$(awk -v a="$raw_oneshot" -v b="$raw_oneshot_2" 'BEGIN { printf "%.3f", (a + b) / 2 }')
printf "%-46s %12s %12s %7s   %s\n" "figure" "velnor-rove" "raw omniORB" "ratio" "target"
row "one-shot access <scalar>, ms median, TCP" "$rove_oneshot_tcp" "$raw_mid" "le 1.3"
row "one-shot access <scalar>, ms median, local" "$rove_oneshot" "$raw_mid" "le 1.3"
limit "--complete on the demo tree, ms median" "$complete" 20
row "bench GetValue(std::string)/s, TCP" "$(field 'GetValue' "$bench_tcp")" "$raw_read" "ge 0.9"
row "bench SetValue(int32_t)/s, TCP" "$(field 'SetValue' "$bench_tcp")" "$raw_write" "ge 0.9"
row "bench GetValue(std::string)/s, local socket" "$(field 'GetValue' "$bench")" "$raw_read" "ge 0.9"
row "bench SetValue(int32_t)/s, local socket" "$(field 'SetValue' "$bench")" "$raw_write" "ge 0.9"
limit "bench DumpSubTree * 200, s, TCP" "$(field 'DumpSubTree' "$bench_tcp")" 1
limit "bench DumpSubTree * 200, s, local socket" "$(field 'DumpSubTree' "$bench")" 1
echo "(client on cpu $client_cpu, servers on cpu $server_cpu; $runs one-shot runs each; raw one-shot measured before and after: $raw_oneshot / $raw_oneshot_2 ms)"
