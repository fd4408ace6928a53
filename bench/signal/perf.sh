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
#     file: the same bytes and a 128-byte header (target: 0.8); the peak
#     resident memory of --stat, --binary to a file and --npy runs of that
#     stream (target for --npy: under 20 MB), and the resident size of an
#     8 GiB --npy run in its first and second half (target: flat)
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
# Resident memory: the peak (by /usr/bin/time) of ROUNDS whole 512 MiB runs
# each of --stat, --binary to a file and --npy to a file, taking turns; then
# whether it stays flat: the resident size of one 8 GiB --npy run (to
# /dev/null, so that no disk holds it up) sampled every 50 ms, the most in
# the first half of the run against the most in the second.
memory_run() {  # NAME OUTPUT ARGS...: "NAME status peak_kB" to $peaks, "NAME half kB" samples to $samples
    local name=$1 output=$2 timed pid start elapsed rss status=0 pin=() ms=() kb=()
    shift 2
    timed=$(mktemp -p "$scratch")
    # Not through on(): $! must be the timer, and velnor-rove its child.
    [ -n "$client_cpu" ] && pin=(taskset -c "$client_cpu")
    "${pin[@]}" /usr/bin/time -f %M -o "$timed" "$bin/velnor-rove" signal --port "$port" "$@" > "$output" 2>/dev/null &
    local runner=$!
    start=$(now_ns)
    while kill -0 "$runner" 2>/dev/null; do
        pid=$(pgrep -P "$runner" -n velnor-rove || true)
        rss=$( [ -n "$pid" ] && awk '/^VmRSS/ { print $2 }' "/proc/$pid/status" 2>/dev/null || true)
        if [ -n "$rss" ]; then
            ms+=($(( ($(now_ns) - start) / 1000000 )))
            kb+=("$rss")
        fi
        sleep 0.05
    done
    wait "$runner" || status=$?
    elapsed=$(( ($(now_ns) - start) / 1000000 ))
    for i in "${!ms[@]}"; do
        if [ $(( ms[i] * 2 )) -lt "$elapsed" ]; then echo "$name first ${kb[i]}"; else echo "$name second ${kb[i]}"; fi
    done >> "$samples"
    echo "$name $status $(tail -n 1 "$timed")" >> "$peaks"
    rm -f "$timed" "$scratch"/x.*
}
peaks=$scratch/peaks
samples=$scratch/samples
for _ in $(seq "$rounds"); do
    memory_run stat /dev/null --stat --size "$npy_atoms" s1m
    memory_run binary "$scratch/x.bin" -B --size "$npy_atoms" s1m
    memory_run npy /dev/null --npy "$scratch/x.npy" --npy-meta none --size "$npy_atoms" s1m
done
memory_run long /dev/null --npy /dev/null --loop 1 --npy-meta none --size $(( npy_atoms * 16 )) s1m
peak_of() {  # NAME: "median max" of its runs' peaks, kB
    awk -v n="$1" '$1 == n { print $3 }' "$peaks" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)], v[NR] }'
}
sampled_max() {  # NAME HALF: the most of its samples, kB
    awk -v n="$1" -v h="$2" '$1 == n && $2 == h && $3 > m { m = $3 } END { print m + 0 }' "$samples"
}
failed() { awk -v n="$1" '$1 == n && $2 != 0' "$peaks" | wc -l; }
for name in stat binary npy; do
    read -r peak most <<< "$(peak_of "$name")"
    case $name in
        stat) what="--stat of the 512 MiB stream" ;;
        binary) what="--binary of the 512 MiB stream to a file" ;;
        npy) what="--npy of the 512 MiB stream to a file" ;;
    esac
    echo "$what peak resident kB (median; the most of $rounds: $most; runs failed: $(failed "$name")), $peak, 20480 (target for --npy), $(ratio "$peak" 20480)"
done
first=$(sampled_max long first)
second=$(sampled_max long second)
echo "--npy of 8 GiB to /dev/null resident kB, most in the second half, $second, $first (most in the first half; flat: 1.0), $(ratio "$second" "$first")"

plot_atoms=10000000
plot_ns() { elapsed_ns rove --plot --plot-size 80x16 --size "$plot_atoms" s1m; }
stat_ns() { elapsed_ns rove --stat --size "$plot_atoms" s1m; }
read -r plot stat <<< "$(paired plot_ns stat_ns "")"
echo "--plot 10 M atoms ms, $(( plot / 1000000 )), $(( stat / 1000000 )) (--stat of the same), $(ratio "$plot" "$stat")"
