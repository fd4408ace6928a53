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

# Both sides of every comparison run with the same placement; each
# figure is taken twice: client and server on separate cores (wake-up
# latency between cores dominates) and on one shared core (the CPU cost of
# a call dominates).
if [[ $(nproc) -ge 2 ]]; then placements=("0 1" "0 0"); else placements=("0 0"); fi

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
  taskset -c 0 "$@" >"$work/$name.out" 2>"$work/$name.err" &
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
# The library gives every call a 10 s deadline; the raw client with the
# same deadline shows what the deadline itself costs.
with_deadline=(env ORBclientCallTimeOutPeriod=10000)

# Mean wall time of one run, in milliseconds.
oneshot_ms() {
  local start end
  start=$(date +%s%N)
  for _ in $(seq "$oneshot_runs"); do on_client "$@" >/dev/null; done
  end=$(date +%s%N)
  awk -v ns=$((end - start)) -v n="$oneshot_runs" 'BEGIN { printf "%.3f", ns / n / 1e6 }'
}

row() {  # figure, mci, baseline, target ("ge X", "le X" or "-")
  awk -v f="$1" -v m="$2" -v b="$3" -v t="$4" 'BEGIN {
    r = m / b; split(t, p, " ")
    verdict = ""
    if (p[1] == "ge") verdict = sprintf(">= %s  %s", p[2], r >= p[2] ? "ok" : "MISSED")
    if (p[1] == "le") verdict = sprintf("<= %s  %s", p[2], r <= p[2] ? "ok" : "MISSED")
    printf "%-52s %12s %12s %7.2f   %s\n", f, m, b, r, verdict
  }'
}

for placement in "${placements[@]}"; do
  read -r server_cpu client_cpu <<<"$placement"
  # Servers stay on cpu 0; only the clients move.
  on_client() { taskset -c "$client_cpu" "$@"; }
  mci_read_tcp=$(on_client "${tcp_only[@]}" "$bin/bench_mci_call_rate" mci-read "$registry_port" "$string_node" "$rate_seconds")
  raw_read=$(on_client "$bin/bench_mci_call_rate" raw-read "$echo_port" "$rate_seconds")
  raw_read_deadline=$(on_client "${with_deadline[@]}" "$bin/bench_mci_call_rate" raw-read "$echo_port" "$rate_seconds")
  mci_write_tcp=$(on_client "${tcp_only[@]}" "$bin/bench_mci_call_rate" mci-write "$registry_port" "$int_node" "$rate_seconds")
  raw_write=$(on_client "$bin/bench_mci_call_rate" raw-write "$echo_port" "$rate_seconds")
  raw_write_deadline=$(on_client "${with_deadline[@]}" "$bin/bench_mci_call_rate" raw-write "$echo_port" "$rate_seconds")
  mci_read_unix=$(on_client "$bin/bench_mci_call_rate" mci-read "$registry_port" "$string_node" "$rate_seconds")
  raw_oneshot=$(oneshot_ms "$bin/bench_echo_oneshot" "$echo_port")
  mci_oneshot=$(oneshot_ms "$bin/bench_mci_oneshot" "$registry_port" "$string_node")

  echo
  echo "client on cpu $client_cpu, servers on cpu $server_cpu ($rate_seconds s per rate, $oneshot_runs one-shot runs)"
  printf "%-52s %12s %12s %7s   %s\n" "figure" "mci" "raw omniORB" "ratio" "target"
  row "string reads/s, TCP (raw getString)" "$mci_read_tcp" "$raw_read" "ge 0.9"
  row "string reads/s, TCP (raw with the same deadline)" "$mci_read_tcp" "$raw_read_deadline" "-"
  row "int writes/s, TCP (raw setLong)" "$mci_write_tcp" "$raw_write" "ge 0.9"
  row "int writes/s, TCP (raw with the same deadline)" "$mci_write_tcp" "$raw_write_deadline" "-"
  row "one-shot run, ms (raw: init, one call, destroy)" "$mci_oneshot" "$raw_oneshot" "le 1.3"
  row "string reads/s, local socket (raw: TCP)" "$mci_read_unix" "$raw_read" "ge 1.3"
done
