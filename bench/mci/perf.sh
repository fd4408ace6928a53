#!/usr/bin/env bash
# Registry library figures beside the raw omniORB baseline measured in the
# same run, as ratios. Usage: bench/mci/perf.sh [BUILD_DIR] (default build)
# Environment: TREE (registry tree, default the library's test fixture),
# RATE_SECONDS (per call-rate figure, default 3), ONESHOT_RUNS (default 200).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${1:-$root/build}
bin=$build/bin
tree=${TREE:-$root/tests/fixtures/mci-values.yaml}
string_node=${STRING_NODE:-scalars.label}
int_node=${INT_NODE:-actions.target}
rate_seconds=${RATE_SECONDS:-3}
oneshot_runs=${ONESHOT_RUNS:-200}

for program in velnor-registryd bench_echo_server bench_echo_oneshot bench_mci_oneshot bench_mci_call_rate; do
  [[ -x $bin/$program ]] || { echo "perf.sh: $bin/$program is missing (build target bench_mci)" >&2; exit 2; }
done

# Servers on one core, clients on the other, the same for both sides of
# every comparison.
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

# Starts a server that prints "... listening on ADDR:PORT" and sets the
# variable named first to its port.
start_server() {
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

# An empty runtime directory hides the registry's unix socket: TCP only.
tcp_only=(env "VELNOR_RUNTIME_DIR=$work")

rate() { on_client "$@"; }
mci_read_tcp=$(rate "${tcp_only[@]}" "$bin/bench_mci_call_rate" mci-read "$registry_port" "$string_node" "$rate_seconds")
raw_read=$(rate "$bin/bench_mci_call_rate" raw-read "$echo_port" "$rate_seconds")
mci_write_tcp=$(rate "${tcp_only[@]}" "$bin/bench_mci_call_rate" mci-write "$registry_port" "$int_node" "$rate_seconds")
raw_write=$(rate "$bin/bench_mci_call_rate" raw-write "$echo_port" "$rate_seconds")
mci_read_unix=$(rate "$bin/bench_mci_call_rate" mci-read "$registry_port" "$string_node" "$rate_seconds")

# Mean wall time of one run, in milliseconds.
oneshot_ms() {
  local start end
  start=$(date +%s%N)
  for _ in $(seq "$oneshot_runs"); do on_client "$@" >/dev/null; done
  end=$(date +%s%N)
  awk -v ns=$((end - start)) -v n="$oneshot_runs" 'BEGIN { printf "%.3f", ns / n / 1e6 }'
}
raw_oneshot=$(oneshot_ms "$bin/bench_echo_oneshot" "$echo_port")
mci_oneshot=$(oneshot_ms "$bin/bench_mci_oneshot" "$registry_port" "$string_node")

row() {  # figure, mci, baseline, target ("ge X" or "le X")
  awk -v f="$1" -v m="$2" -v b="$3" -v t="$4" 'BEGIN {
    r = m / b; split(t, p, " ")
    ok = (p[1] == "ge") ? (r >= p[2]) : (r <= p[2])
    printf "%-44s %12s %12s %7.2f   %s %s  %s\n", f, m, b, r, (p[1] == "ge" ? ">=" : "<="), p[2], ok ? "ok" : "MISSED"
  }'
}

printf "%-44s %12s %12s %7s   %s\n" "figure" "mci" "raw omniORB" "ratio" "target"
row "string reads/s, TCP (raw getString)" "$mci_read_tcp" "$raw_read" "ge 0.9"
row "int writes/s, TCP (raw setLong)" "$mci_write_tcp" "$raw_write" "ge 0.9"
row "one-shot run, ms (raw: init, 1 call, destroy)" "$mci_oneshot" "$raw_oneshot" "le 1.3"
row "string reads/s, local socket (raw: TCP)" "$mci_read_unix" "$raw_read" "ge 1.3"
echo "(client on cpu $client_cpu, servers on cpu $server_cpu; $rate_seconds s per rate, $oneshot_runs one-shot runs)"
