#!/usr/bin/env bash
# velnor-rove figures beside the raw omniORB baseline measured in the same
# run, as ratios. Usage: bench/rove/perf.sh [BUILD_DIR] (default build)
# Build first: cmake --build BUILD_DIR --target bench_rove
# Environment: TREE (default examples/demo.yaml), RUNS (one-shot runs, 300),
# ROUNDS (default 5) of RATE_SECONDS (raw call rate, default 1) and one
# `velnor-rove bench` each.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${1:-$root/build}
bin=$build/bin
tree=${TREE:-$root/examples/demo.yaml}
runs=${RUNS:-300}
rate_seconds=${RATE_SECONDS:-1}
rounds=${ROUNDS:-5}

for program in velnor-rove velnor-registryd bench_echo_server bench_echo_oneshot bench_mci_call_rate; do
  [[ -x $bin/$program ]] || { echo "perf.sh: $bin/$program is missing (build target bench_rove)" >&2; exit 2; }
done

# Servers on one core, clients on the other, the same for both sides.
if [[ $(nproc) -ge 2 ]]; then server_cpu=0; client_cpu=1; else server_cpu=0; client_cpu=0; fi
on_client() { taskset -c "$client_cpu" "$@"; }

source "$here/../perf-lib.sh"

start_server registry_port registry "$bin/velnor-registryd" --tree "$tree" --port 0
start_server echo_port echo "$bin/bench_echo_server" 0

# An empty runtime directory hides the registry's local socket: TCP only,
# like the raw client. Set without an env process in between.
tcp() { VELNOR_RUNTIME_DIR=$work "$@"; }

# The programs take turns, so that load from elsewhere falls on all alike.
oneshot_rounds() {
  local i
  for (( i = 0; i < runs; i++ )); do
    oneshot raw "$bin/bench_echo_oneshot" "$echo_port"
    tcp oneshot rove-tcp "$bin/velnor-rove" access app-name --port "$registry_port"
    oneshot rove-local "$bin/velnor-rove" access app-name --port "$registry_port"
    oneshot complete "$bin/velnor-rove" access boards.g --complete boards.g --long true --port "$registry_port"
  done
}
declare -A o=()
while read -r name value; do o[$name]=$value; done < <(oneshot_rounds | medians)

# The rates take turns over ROUNDS rounds and each figure is the median, so
# that a burst of load elsewhere falls on both sides of a ratio alike.
field() { awk -v k="$1" 'index($0, k) == 1 { print $NF }' <<<"$2"; }
rate_rounds() {
  local r out out_tcp
  for (( r = 0; r < rounds; r++ )); do
    echo "raw-read $(on_client "$bin/bench_mci_call_rate" raw-read "$echo_port" "$rate_seconds")"
    out_tcp=$(tcp on_client "$bin/velnor-rove" bench --port "$registry_port")
    echo "raw-write $(on_client "$bin/bench_mci_call_rate" raw-write "$echo_port" "$rate_seconds")"
    out=$(on_client "$bin/velnor-rove" bench --port "$registry_port")
    for k in GetValue SetValue DumpSubTree; do
      echo "tcp-$k $(field "$k" "$out_tcp")"
      echo "local-$k $(field "$k" "$out")"
    done
  done
}
declare -A m=()
while read -r name value; do m[$name]=$value; done < <(rate_rounds | sort -k1,1 -k2,2g | awk '
  function flush() { if (n) printf "%s %s\n", key, (n % 2) ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2 }
  $1 != key { flush(); key = $1; n = 0 }
  { v[++n] = $2 }
  END { flush() }')
raw_read=${m[raw-read]}
raw_write=${m[raw-write]}

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

printf "%-46s %12s %12s %7s   %s\n" "figure" "velnor-rove" "raw omniORB" "ratio" "target"
row "one-shot access <scalar>, ms median, TCP" "${o[rove-tcp]}" "${o[raw]}" "le 1.3"
row "one-shot access <scalar>, ms median, local" "${o[rove-local]}" "${o[raw]}" "le 1.3"
limit "--complete on the demo tree, ms median" "${o[complete]}" 20
row "bench GetValue(std::string)/s, TCP" "${m[tcp-GetValue]}" "$raw_read" "ge 0.9"
row "bench SetValue(int32_t)/s, TCP" "${m[tcp-SetValue]}" "$raw_write" "ge 0.9"
row "bench GetValue(std::string)/s, local socket" "${m[local-GetValue]}" "$raw_read" "ge 0.9"
row "bench SetValue(int32_t)/s, local socket" "${m[local-SetValue]}" "$raw_write" "ge 0.9"
limit "bench DumpSubTree * 200, s, TCP" "${m[tcp-DumpSubTree]}" 1
limit "bench DumpSubTree * 200, s, local socket" "${m[local-DumpSubTree]}" 1
echo "(client on cpu $client_cpu, servers on cpu $server_cpu; $runs one-shot runs each; one-shot runs and rates interleaved; rates: medians of $rounds rounds)"
