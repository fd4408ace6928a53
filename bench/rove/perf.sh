#!/usr/bin/env bash
# velnor-rove's one-shot runs against the cost of starting an empty
# statically linked C program, and its registry call rates against raw
# omniORB, measured side by side in one run; figures beside their targets.
# Usage: bench/rove/perf.sh [BUILD_DIR] (default build)
# Build first: cmake --build BUILD_DIR --target bench_rove
# Environment: TREE (default examples/demo.yaml), RUNS (one-shot runs of each
# program, default 400), BLOCKS (the runs are cut into this many blocks, whose
# medians give the spread, default 4), ROUNDS (default 5) of RATE_SECONDS
# (raw call rate, default 1) and one `velnor-rove bench` each.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${1:-$root/build}
bin=$build/bin
tree=${TREE:-$root/examples/demo.yaml}
runs=${RUNS:-400}
blocks=${BLOCKS:-4}
rate_seconds=${RATE_SECONDS:-1}
rounds=${ROUNDS:-5}

for program in velnor-rove velnor-registryd bench_echo_server bench_echo_oneshot bench_mci_call_rate \
               bench_oneshot_timer bench_empty_static bench_omniorb_floor; do
  [[ -x $bin/$program ]] || { echo "perf.sh: $bin/$program is missing (build target bench_rove)" >&2; exit 2; }
done

# Servers on one core, clients on the other, the same for both sides;
# without taskset (util-linux) the scheduler places them.
if [[ $(nproc) -ge 2 ]]; then server_cpu=0; client_cpu=1; else server_cpu=0; client_cpu=0; fi
if command -v taskset >/dev/null; then
  on_client() { taskset -c "$client_cpu" "$@"; }
  placement="client on cpu $client_cpu, servers on cpu $server_cpu"
else
  on_client() { "$@"; }
  placement="no taskset: placed by the scheduler"
fi

source "$here/../perf-lib.sh"

start_server registry_port registry "$bin/velnor-registryd" --tree "$tree" --port 0
start_server echo_port echo "$bin/bench_echo_server" 0 "$work/echo.sock"

# An empty runtime directory hides the registry's local socket: TCP only,
# like the raw client.
rove=$bin/velnor-rove
port=(--port "$registry_port")

# One-shot runs: the timer spawns every program itself (no shell or taskset
# in between), in turns, pinned to the client core; medians of all runs, and
# the lowest and highest median of BLOCKS blocks as the spread.
declare -A o=() lo=() hi=() rss=()
while read -r name median low high kb; do
  o[$name]=$median lo[$name]=$low hi[$name]=$high rss[$name]=$kb
done < <(on_client "$bin/bench_oneshot_timer" "$runs" "$blocks" \
  empty 0 "$bin/bench_empty_static" --- \
  help 1 "$rove" help --- \
  read 0 "$rove" access -q app-name "${port[@]}" --- \
  write 0 "$rove" access tracing.level=1 "${port[@]}" --- \
  complete 0 "$rove" access boards.g --complete boards.g --long true "${port[@]}" --- \
  read-tcp 0 -e "VELNOR_RUNTIME_DIR=$work" "$rove" access -q app-name "${port[@]}" --- \
  raw-tcp 0 "$bin/bench_echo_oneshot" "$echo_port" --- \
  orb-linked 0 "$bin/bench_omniorb_floor" --- \
  orb-call 0 "$bin/bench_omniorb_floor" "$echo_port" "$work/echo.sock")

# The rates take turns over ROUNDS rounds and each figure is the median, so
# that a burst of load elsewhere falls on both sides of a ratio alike.
field() { awk -v k="$1" 'index($0, k) == 1 { print $NF }' <<<"$2"; }
rate_rounds() {
  local r out out_tcp
  for (( r = 0; r < rounds; r++ )); do
    echo "raw-read $(on_client "$bin/bench_mci_call_rate" raw-read "$echo_port" "$rate_seconds")"
    out_tcp=$(VELNOR_RUNTIME_DIR=$work on_client "$rove" bench "${port[@]}")
    echo "raw-write $(on_client "$bin/bench_mci_call_rate" raw-write "$echo_port" "$rate_seconds")"
    out=$(on_client "$rove" bench "${port[@]}")
    for k in GetValue SetValue DumpSubTree; do
      echo "tcp-$k $(field "$k" "$out_tcp")"
      echo "local-$k $(field "$k" "$out")"
    done
  done
}
declare -A m=()
while read -r name value; do m[$name]=$value; done < <(rate_rounds | medians)

row() {  # figure, value, baseline, target ("ge X" or "le X"), spread
  awk -v f="$1" -v m="$2" -v b="$3" -v t="$4" -v s="${5-}" 'BEGIN {
    r = m / b; split(t, p, " ")
    ok = (p[1] == "ge") ? (r >= p[2]) : (r <= p[2])
    printf "%-44s %10s %10s %6.2f  %s %-4s %-6s  %s\n", f, m, b, r, (p[1] == "ge" ? ">=" : "<="), p[2],
           ok ? "ok" : "missed", s
  }'
}
limit() {  # figure, value, bound
  awk -v f="$1" -v m="$2" -v b="$3" 'BEGIN {
    printf "%-44s %10s %10s %6s  < %-5s %-6s\n", f, m, "", "", b, (m < b) ? "ok" : "missed" }'
}
spread() { echo "${lo[$1]}-${hi[$1]}"; }
oneshot_row() {  # figure, name, target against the empty program
  row "$1" "${o[$2]}" "${o[empty]}" "le $3" "$(spread "$2") ms, ${rss[$2]} kB"
}

echo "one-shot runs, median ms; baseline: an empty static C program (median ${o[empty]} ms, blocks $(spread empty))"
printf "%-44s %10s %10s %6s  %-12s %s\n" "figure" "velnor-rove" "baseline" "ratio" "target" "block medians, peak RSS"
oneshot_row "help" help 2
oneshot_row "access -q <string node>, local socket" read 2.5
oneshot_row "access <int node>=1, local socket" write 2.5
oneshot_row "--complete on the demo tree" complete 3
row "access -q <string node>, TCP / raw omniORB" "${o[read-tcp]}" "${o[raw-tcp]}" "le 1.3" \
    "$(spread read-tcp) ms, ${rss[read-tcp]} kB; raw $(spread raw-tcp) ms, ${rss[raw-tcp]} kB"
echo
echo "the floor under them: a program linked like velnor-rove with the ORB, without the tool's own work"
printf "%-44s %10s %10s %6s  %s\n" "figure" "floor" "baseline" "ratio" "block medians, peak RSS"
floor_row() {  # figure, name
  awk -v f="$1" -v m="${o[$2]}" -v b="${o[empty]}" -v s="$(spread "$2") ms, ${rss[$2]} kB" \
    'BEGIN { printf "%-44s %10s %10s %6.2f  %s\n", f, m, b, m / b, s }'
}
floor_row "started and ended, omniORB linked in" orb-linked
floor_row "one omniORB call over a local socket" orb-call
echo
echo "registry call rates, medians of $rounds interleaved rounds; baseline: raw omniORB, same call time-out"
printf "%-44s %10s %10s %6s  %s\n" "figure" "velnor-rove" "raw" "ratio" "target"
row "bench GetValue(std::string)/s, TCP" "${m[tcp-GetValue]}" "${m[raw-read]}" "ge 0.9"
row "bench SetValue(int32_t)/s, TCP" "${m[tcp-SetValue]}" "${m[raw-write]}" "ge 0.9"
row "bench GetValue(std::string)/s, local socket" "${m[local-GetValue]}" "${m[raw-read]}" "ge 0.9"
row "bench SetValue(int32_t)/s, local socket" "${m[local-SetValue]}" "${m[raw-write]}" "ge 0.9"
limit "bench DumpSubTree * 200, s, TCP" "${m[tcp-DumpSubTree]}" 1
limit "bench DumpSubTree * 200, s, local socket" "${m[local-DumpSubTree]}" 1
echo "($placement; $runs one-shot runs of each program taking turns, in $blocks blocks)"
