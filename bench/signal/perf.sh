#!/bin/bash
# Signal figures beside their baselines, as ratios, from one run:
#   stream throughput with --stat / raw omniORB octet-sequence pull (same block bytes)
#   text output atoms/s / printf loop of the same bytes
#   binary output to /dev/null in bytes/s (target: 2 GB/s)
#   DOD Now read of 1000 atoms: median latency (target: < 1 ms)
# Usage: bench/signal/perf.sh [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build}
bin=$build/bin
log=$(mktemp)
"$bin/velnor-registryd" --tree "$here/signal-bench.yaml" --port 0 > "$log" &
server=$!
trap 'kill $server 2>/dev/null; rm -f "$log"' EXIT
for _ in $(seq 50); do grep -q listening "$log" && break; sleep 0.1; done
port=$(sed -n 's/.*:\([0-9]*\)$/\1/p' "$log")
rove() { "$bin/velnor-rove" signal --port "$port" "$@"; }
now_ns() { date +%s%N; }

stream_rate() {  # bytes/s of the stream line of --stat
    rove --stat --size "$2" "$1" 2>&1 | awk -F', ' -v n="$1" '$2 == n { printf "%.0f", $6 }'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

echo "figure, value, baseline, ratio"
for case in "s64k 65536 4000000" "s1m 1048576 16000000"; do
    set -- $case
    ours=$(stream_rate "$1" "$3")
    raw=$("$bin/bench_raw_pull" "$2" $(( $3 * 8 )))
    echo "stream --stat bytes/s, block $2 B, $ours, $raw, $(ratio "$ours" "$raw")"
done

text_rate() {  # atoms/s (elements) of the text output to /dev/null
    local start end
    start=$(now_ns); rove --size "$2" "$1" > /dev/null; end=$(now_ns)
    awk -v n="$2" -v ns=$((end - start)) 'BEGIN { printf "%.0f", n * 4 / (ns / 1e9) }'
}
for case in "text16 int16" "textd double"; do
    set -- $case
    ours=$(text_rate "$1" 2000000)
    base=$("$bin/bench_printf_baseline" "$2" 2000000 4 2>&1 > /dev/null)
    echo "text $2 elements/s, $ours, $base (printf), $(ratio "$ours" "$base")"
done

start=$(now_ns); rove -B --size 100000000 s1m > /dev/null; end=$(now_ns)
binary=$(awk -v ns=$((end - start)) 'BEGIN { printf "%.0f", 800000000 / (ns / 1e9) }')
echo "binary bytes/s to /dev/null, $binary, 2000000000 (target), $(ratio "$binary" 2000000000)"

median=$("$bin/bench_dod_latency" "$port" now 500)
echo "DOD Now 1000 atoms median us, $median, 1000 (target), $(ratio "$median" 1000)"
