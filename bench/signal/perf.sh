#!/bin/bash
# Signal figures beside their baselines, as ratios; each the median of
# ROUNDS runs (default 5), the baseline measured right after its figure:
#   stream --stat bytes/s / a raw omniORB octet-sequence pull of the same
#     block bytes (targets: 0.8 from 64 KiB blocks, pulls in flight ahead
#     should pass 1.0)
#   text output, whole runs: elements/s of a `signal --size` run to
#     /dev/null from process start to exit (connect, stream, format,
#     write) / the printf("%11d  ") or printf("%11.6f  ") loop writing the
#     same bytes, also a whole process (target: 3); the two take turns
#   text formatting only (micro-benchmark, one process, no stream):
#     elements/s of the printer / the same printf loop
#   binary output to /dev/null in bytes/s (target: 2 GB/s)
#   DOD Now read of 1000 atoms: median latency (target: under 1 ms)
#   --npy of a 512 MiB stream to a file / --binary of the same stream to a
#     file: the same bytes and a 128-byte header (target: 0.8); the
#     --npy run's peak resident memory (target: under 20 MB)
#   --plot of 10 M atoms / --stat of the same acquisition, wall time
#     (target: under 1.5)
# PERF_ONLY=views runs only the last two.
# Placement: the servers (velnor-registryd, the raw pull's serving child)
# run on SERVER_CPU, the clients on CLIENT_CPU (defaults 0 and 1); set
# both empty to leave placement to the scheduler.
# Usage: bench/signal/perf.sh [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build}
bin=$build/bin
rounds=${ROUNDS:-5}
server_cpu=${SERVER_CPU-0}
client_cpu=${CLIENT_CPU-1}
on() {  # on CPU COMMAND...: runs COMMAND on that processor (or anywhere)
    local cpu=$1
    shift
    if [ -n "$cpu" ]; then taskset -c "$cpu" "$@"; else "$@"; fi
}

[ -x "$bin/bench_oneshot_timer" ] || { echo "perf.sh: $bin/bench_oneshot_timer is missing (build target bench_rove)" >&2; exit 2; }
log=$(mktemp)
# exec: $! must be the server itself, not a shell around it, or the
# server outlives the script.
{
    if [ -n "$server_cpu" ]; then exec taskset -c "$server_cpu" "$bin/velnor-registryd" --tree "$here/signal-bench.yaml" --port 0
    else exec "$bin/velnor-registryd" --tree "$here/signal-bench.yaml" --port 0; fi
} > "$log" &
server=$!
trap 'kill $server 2>/dev/null; rm -f "$log"' EXIT
for _ in $(seq 50); do grep -q listening "$log" && break; sleep 0.1; done
port=$(sed -n 's/.*:\([0-9]*\)$/\1/p' "$log")
rove() { on "$client_cpu" "$bin/velnor-rove" signal --port "$port" "$@"; }
now_ns() { date +%s%N; }
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
# Runs "MEASURE ARGS" and "BASELINE ARGS" ROUNDS times in turn; prints
# the two medians.
paired() {
    local measure=$1 baseline=$2 args=$3 ours="" base=""
    for _ in $(seq "$rounds"); do
        ours+="$($measure $args)"$'\n'
        base+="$($baseline $args)"$'\n'
    done
    echo "$(printf '%s' "$ours" | median) $(printf '%s' "$base" | median)"
}

echo "figure, value, baseline, ratio"
elapsed_ns() {  # COMMAND...: its wall time in ns, output to /dev/null
    local start end
    start=$(now_ns); "$@" > /dev/null 2>&1; end=$(now_ns)
    echo $((end - start))
}

if [ "${PERF_ONLY:-}" != views ]; then

stream_rate() {  # NODE BLOCK_BYTES ATOMS: bytes/s of the stream line of --stat
    rove --stat --size "$3" "$1" 2>&1 | awk -F', ' -v n="$1" '$2 == n { printf "%.0f", $6 }'
}
raw_rate() {  # NODE BLOCK_BYTES ATOMS
    on "$client_cpu" "$bin/bench_raw_pull" "$2" $(( $3 * 8 )) ${server_cpu:+"$server_cpu"}
}
# Runs long enough to pass the stream's first trials of its ways of
# pulling (some 8 MiB each) and a new TCP connection's warm-up.
for case in "s64k 65536 16000000" "s256k 262144 32000000" "s1m 1048576 64000000"; do
    read -r ours raw <<< "$(paired stream_rate raw_rate "$case")"
    set -- $case
    echo "stream --stat bytes/s, block $2 B, $ours, $raw (raw pull), $(ratio "$ours" "$raw")"
done

printer=$(on "$client_cpu" "$bin/bench_signal_printer" --benchmark_repetitions="$rounds" \
    --benchmark_report_aggregates_only=true --benchmark_format=csv 2>/dev/null)
printer_rate() {  # NAME: median items per second
    printf '%s\n' "$printer" | awk -F, -v n="\"$1_median\"" '$1 == n { printf "%.0f", $(NF - 3) }'
}
for case in "short int16" "double double"; do
    set -- $case
    ours=$(printer_rate "BM_Printer<$1>")
    base=$(printer_rate "BM_Printf<$1>")
    echo "text formatting only (micro-benchmark) $2 elements/s, $ours, $base (printf), $(ratio "$ours" "$base")"
done

# Whole runs taking turns (ROUNDS of each), timed by the one-shot timer,
# which spawns them itself with standard output on /dev/null; medians in ms.
whole_runs() {  # NODE ATOMS TYPE: "velnor-rove_ms printf_ms"
    on "$client_cpu" "$bin/bench_oneshot_timer" "$rounds" 1 \
        rove 0 "$bin/velnor-rove" signal --port "$port" --size "$2" "$1" --- \
        printf 0 "$bin/bench_printf_baseline" "$3" "$2" 4 |
        awk '{ ms[$1] = $2 } END { print ms["rove"], ms["printf"] }'
}
per_second() { awk -v n="$1" -v ms="$2" 'BEGIN { printf "%.0f", n / (ms / 1000) }'; }
for case in "text16 4000000 int16" "textd 2000000 double"; do
    set -- $case
    read -r ours_ms base_ms <<< "$(whole_runs "$@")"
    ours=$(per_second $(( $2 * 4 )) "$ours_ms")
    base=$(per_second $(( $2 * 4 )) "$base_ms")
    echo "text $3 whole run elements/s ($ours_ms ms), $ours, $base (printf loop, whole process, $base_ms ms), $(ratio "$ours" "$base")"
done

binary_rate() {
    local ns
    ns=$(elapsed_ns rove -B --size 100000000 s1m)
    awk -v ns="$ns" 'BEGIN { printf "%.0f", 800000000 / (ns / 1e9) }'
}
binary=$(for _ in $(seq "$rounds"); do binary_rate; echo; done | median)
echo "binary bytes/s to /dev/null, $binary, 2000000000 (target), $(ratio "$binary" 2000000000)"

median_us=$(on "$client_cpu" "$bin/bench_dod_latency" "$port" now 500)
echo "DOD Now 1000 atoms median us, $median_us, 1000 (target), $(ratio "$median_us" 1000)"
fi

# The views of the signal command. s1m: atoms of 8 bytes.
scratch=$(mktemp -d)
trap 'kill $server 2>/dev/null; rm -f "$log"; rm -rf "$scratch"' EXIT
npy_atoms=67108864  # 512 MiB
npy_run() { rove --npy "$scratch/x.npy" --npy-meta none --size "$npy_atoms" s1m; }
binary_run() { rove -B --size "$npy_atoms" s1m > "$scratch/x.bin"; }
file_rate() {  # RUN: bytes/s
    local ns
    ns=$(elapsed_ns "$1")
    rm -f "$scratch"/x.*
    awk -v ns="$ns" -v b=$(( npy_atoms * 8 )) 'BEGIN { printf "%.0f", b / (ns / 1e9) }'
}
npy_rate() { file_rate npy_run; }
binary_file_rate() { file_rate binary_run; }
read -r npy_bps binary_bps <<< "$(paired npy_rate binary_file_rate "")"
echo "--npy 512 MiB stream to a file bytes/s, $npy_bps, $binary_bps (--binary to a file), $(ratio "$npy_bps" "$binary_bps")"
rss_kb=$( { /usr/bin/time -f %M "$bin/velnor-rove" signal --port "$port" --npy "$scratch/x.npy" --npy-meta none \
    --size "$npy_atoms" s1m; } 2>&1 | tail -n 1)
rm -f "$scratch"/x.*
echo "--npy 512 MiB stream peak resident kB, $rss_kb, 20480 (target), $(ratio "$rss_kb" 20480)"

plot_atoms=10000000
plot_ns() { elapsed_ns rove --plot --plot-size 80x16 --size "$plot_atoms" s1m; }
stat_ns() { elapsed_ns rove --stat --size "$plot_atoms" s1m; }
read -r plot stat <<< "$(paired plot_ns stat_ns "")"
echo "--plot 10 M atoms ms, $(( plot / 1000000 )), $(( stat / 1000000 )) (--stat of the same), $(ratio "$plot" "$stat")"
