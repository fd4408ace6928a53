#!/usr/bin/env bash
# velnor-rove browse measured in a pseudo-terminal (bench_browse), each
# figure beside its target: the demo's first screen, a level of 10,000
# nodes expanded, a key press redrawn with 10,000 nodes loaded, 1,000 watched
# nodes changing 10 times a second, idle, a plot of a 100,000 atoms/s stream,
# and the resident memory.
# Usage: bench/browse/perf.sh [BUILD_DIR] (default build)
# Build first: cmake --build BUILD_DIR --target bench_browse
# Environment: RUNS (runs of the first screen and the expansion, default 5),
# SECONDS_EACH (length of the CPU measurements, default 10).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${1:-$root/build}
bin=$build/bin
runs=${RUNS:-5}
seconds=${SECONDS_EACH:-10}

for program in velnor-rove velnor-registryd bench_browse; do
  [[ -x $bin/$program ]] || { echo "perf.sh: $bin/$program is missing (build target bench_browse)" >&2; exit 2; }
done

# Servers on one core, the browser on the other.
if [[ $(nproc) -ge 2 ]]; then server_cpu=0; client_cpu=1; else server_cpu=0; client_cpu=0; fi
if command -v taskset >/dev/null; then on_client() { taskset -c "$client_cpu" "$@"; }; else on_client() { "$@"; }; fi

source "$here/../perf-lib.sh"

tree=$work/tree.yaml
awk 'BEGIN {
  print "host: browse-bench"
  print "application:"
  print "  nodes:"
  print "    level:"
  print "      nodes:"
  print "        big:"
  print "          nodes:"
  for (n = 0; n < 10000; n++) printf "            n%05d: {type: int32, value: %d, flags: [writable]}\n", n, n
  print "    watch:"
  print "      nodes:"
  for (n = 0; n < 1000; n++) printf "        w%04d: {type: uint64, value: 0, update: {period: 0.1, generator: counter}}\n", n
  print "    signals:"
  print "      nodes:"
  print "        adc: {signal: {access: stream, atom: int16, components: [va, vb, vc, vd], generator: sine, rate: 100000, block: 4096}}"
}' >"$tree"

start_server demo_port demo "$bin/velnor-registryd" --tree "$root/examples/demo.yaml" --port 0
start_server bench_port bench "$bin/velnor-registryd" --tree "$tree" --port 0
bench_pid=${pids[-1]}

run() { on_client "$bin/bench_browse" "$bin/velnor-rove" "$@"; }

: >"$work/figures"
for (( r = 0; r < runs; r++ )); do
  run first-screen "$demo_port" - >>"$work/figures"
  run expand "$bench_port" level >>"$work/figures"
  run quit-stopped "$bench_port" level "$bench_pid" >>"$work/figures"
done
run watch "$bench_port" watch "$seconds" >>"$work/figures"
run idle "$demo_port" - "$seconds" >>"$work/figures"
run plot "$bench_port" signals "$seconds" >>"$work/figures"

# Medians of the repeated figures; the last value of the others.
declare -A f=() lo=() hi=()
while read -r name median; do f[$name]=$median; done < <(medians <"$work/figures")
while read -r name low high; do lo[$name]=$low; hi[$name]=$high; done < <(
  sort -k1,1 -k2,2g "$work/figures" | awk '$1 != k { if (k) print k, lo, hi; k = $1; lo = $2 } { hi = $2 } END { print k, lo, hi }')

row() {  # label, figure name, target, unit
  printf '%-58s %10s %-4s (%s .. %s)  target %s\n' "$1" "${f[$2]:--}" "$4" "${lo[$2]:--}" "${hi[$2]:--}" "$3"
}
echo "velnor-rove browse, $(nproc) cores; runs of the first screen and the expansion: $runs (median, lowest .. highest)"
row "first screen of the demo registry, outside (spawn to bytes)" first_screen_ms "< 100 ms" ms
row "first screen of the demo registry, inside (start to frame)" first_screen_inside_first_screen_us "< 100000 us" us
row "a level of 10,000 children expanded (key to bytes)" expand_10000_ms "< 200 ms" ms
row "key press redrawn, 10,000 nodes loaded, median" key_redraw_median_ms "< 16 ms" ms
row "key press redrawn, 10,000 nodes loaded, 99th percentile" key_redraw_p99_ms "< 16 ms" ms
row "key press to frame inside, worst of 200" expand_inside_max_key_to_screen_us "< 16000 us" us
row "resident memory, 10,000 nodes loaded" rss_10000_kib "< 51200 KiB" KiB
row "q with the server stopped, key to process end" quit_stopped_ms "< 200 ms" ms
row "1,000 watched nodes x 10 changes/s: CPU of one core" watch_cpu_percent "< 20 %" %
row "1,000 watched nodes: frames per second" watch_frames_per_s "<= 60" /s
row "1,000 watched nodes: worst change to the frame drawing it" watch_inside_max_change_wait_us "<= one frame (16667 us)" us
row "1,000 watched nodes: frames that drew a change late" watch_inside_late_change_frames "0 of ${f[watch_inside_change_frames]:-?}" ""
row "1,000 watched nodes: frames with a change a frame skipped" watch_inside_skipped_change_frames "0 of ${f[watch_inside_change_frames]:-?}" ""
row "1,000 watched nodes: worst change to screen (wait + draw)" watch_inside_max_change_to_screen_us "" us
row "1,000 watched nodes: worst frame (render and present)" watch_inside_max_frame_us "" us
row "idle: CPU of one core" idle_cpu_percent "not measurable" %
row "idle: frames written" idle_frames "0" ""
row "plot of a 100,000 atoms/s stream: CPU of one core" plot_cpu_percent "< 30 %" %
row "plot of a 100,000 atoms/s stream: frames per second" plot_frames_per_s ">= 10" /s
row "plot: resident memory" plot_rss_kib "< 51200 KiB" KiB
