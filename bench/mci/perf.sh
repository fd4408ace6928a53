#!/usr/bin/env bash
# Registry library figures beside the raw omniORB baseline measured in the
# same run, as ratios. Usage: bench/mci/perf.sh [BUILD_DIR] (default build)
# Environment: TREE (registry tree, default the library's test fixture),
# ROUNDS (default 5) of ROUND_SECONDS (default 1) per call rate,
# ONESHOT_RUNS (default 200).
#
# The machine is shared: every figure is the median of ROUNDS, and the
# rounds of all programs take turns, so that a burst of load elsewhere
# falls on both sides of a ratio alike. The raw client sets the same call
# timeout on its reference as the library (a fair comparison: the ORB polls
# before every send and receive of a call with a timeout).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${1:-$root/build}
bin=$build/bin
tree=${TREE:-$root/tests/fixtures/mci-values.yaml}
string_node=${STRING_NODE:-scalars.label}
int_node=${INT_NODE:-actions.target}
rounds=${ROUNDS:-5}
round_seconds=${ROUND_SECONDS:-1}
oneshot_runs=${ONESHOT_RUNS:-200}

for program in velnor-registryd bench_echo_server bench_echo_oneshot bench_mci_oneshot bench_mci_call_rate; do
  [[ -x $bin/$program ]] || { echo "perf.sh: $bin/$program is missing (build target bench_mci)" >&2; exit 2; }
done

# Each figure is taken twice: client and server on separate cores (the
# wake-up between cores dominates) and on one shared core (the CPU cost of
# a call dominates). Servers stay on cpu 0; only the clients move.
if [[ $(nproc) -ge 2 ]]; then placements=("0 1" "0 0"); else placements=("0 0"); fi

server_cpu=0
source "$here/../perf-lib.sh"

# The registry's local socket lives in its own runtime directory; an empty
# one hides it from the library: TCP only, like the raw client.
mkdir -p "$work/run" "$work/none"
export VELNOR_RUNTIME_DIR=$work/run
start_server registry_port registry "$bin/velnor-registryd" --tree "$tree" --port 0
start_server echo_port echo "$bin/bench_echo_server" 0 "$work/echo.sock"
tcp_only=(env "VELNOR_RUNTIME_DIR=$work/none")

rate() {  # figure name, then the call_rate command
  local name=$1; shift
  echo "$name $(on_client "$@")"
}

rates_round() {
  rate raw-read "$bin/bench_mci_call_rate" raw-read "$echo_port" "$round_seconds"
  rate mci-read "${tcp_only[@]}" "$bin/bench_mci_call_rate" mci-read "$registry_port" "$string_node" "$round_seconds"
  rate raw-write "$bin/bench_mci_call_rate" raw-write "$echo_port" "$round_seconds"
  rate mci-write "${tcp_only[@]}" "$bin/bench_mci_call_rate" mci-write "$registry_port" "$int_node" "$round_seconds"
  rate raw-read-untimed "$bin/bench_mci_call_rate" raw-read-untimed "$echo_port" "$round_seconds"
  rate raw-read-unix "$bin/bench_mci_call_rate" raw-read-unix "$work/echo.sock" "$round_seconds"
  rate mci-read-local "$bin/bench_mci_call_rate" mci-read "$registry_port" "$string_node" "$round_seconds"
  rate raw-write-unix "$bin/bench_mci_call_rate" raw-write-unix "$work/echo.sock" "$round_seconds"
  rate mci-write-local "$bin/bench_mci_call_rate" mci-write "$registry_port" "$int_node" "$round_seconds"
}

oneshots() {
  local i
  for (( i = 0; i < oneshot_runs; i++ )); do
    oneshot raw-oneshot "$bin/bench_echo_oneshot" "$echo_port"
    # TCP like the raw client, set without an env process in between.
    VELNOR_RUNTIME_DIR=$work/none oneshot mci-oneshot "$bin/bench_mci_oneshot" "$registry_port" "$string_node"
  done
}

row() {  # figure, mci, baseline, target ("ge X", "le X" or "-")
  awk -v f="$1" -v m="$2" -v b="$3" -v t="$4" 'BEGIN {
    r = m / b; split(t, p, " ")
    verdict = ""
    if (p[1] == "ge") verdict = sprintf(">= %s  %s", p[2], r >= p[2] ? "ok" : "MISSED")
    if (p[1] == "le") verdict = sprintf("<= %s  %s", p[2], r <= p[2] ? "ok" : "MISSED")
    printf "%-58s %10s %10s %7.2f   %s\n", f, m, b, r, verdict
  }'
}

for placement in "${placements[@]}"; do
  read -r server_cpu client_cpu <<<"$placement"
  on_client() { taskset -c "$client_cpu" "$@"; }
  declare -A m=()
  while read -r name value; do m[$name]=$value; done < <(
    { for (( r = 0; r < rounds; r++ )); do rates_round; done; oneshots; } | medians)

  echo
  echo "client on cpu $client_cpu, servers on cpu $server_cpu (medians: $rounds rounds of $round_seconds s per rate, $oneshot_runs one-shot runs)"
  printf "%-58s %10s %10s %7s   %s\n" "figure" "mci" "raw" "ratio" "target"
  row "string reads/s, TCP (raw getString)" "${m[mci-read]}" "${m[raw-read]}" "ge 0.9"
  row "int writes/s, TCP (raw setLong)" "${m[mci-write]}" "${m[raw-write]}" "ge 0.9"
  row "one-shot run, ms (raw: init, one call, destroy)" "${m[mci-oneshot]}" "${m[raw-oneshot]}" "le 1.3"
  row "string reads/s, local socket (raw: TCP)" "${m[mci-read-local]}" "${m[raw-read]}" "ge 1.3"
  row "string reads/s, local socket (raw: Unix socket)" "${m[mci-read-local]}" "${m[raw-read-unix]}" "-"
  row "int writes/s, local socket (raw: Unix socket)" "${m[mci-write-local]}" "${m[raw-write-unix]}" "-"
  row "raw: getString/s Unix socket / TCP" "${m[raw-read-unix]}" "${m[raw-read]}" "-"
  row "raw: getString/s without a call timeout / with" "${m[raw-read-untimed]}" "${m[raw-read]}" "-"
  unset m
done
