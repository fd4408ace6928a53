#!/usr/bin/env bash
# Soak of velnor-registryd: churn of one-shot reads and writes, of reads
# killed mid-call, and of listeners that end normally or are killed, for
# DURATION seconds (default 600); prints the server's threads, descriptors
# and RSS at the start, after the first minute, at the end and while idle
# until they are back (at most 60 s), beside the targets. Traffic stays on
# 127.0.0.1 and the run stops by itself.
#
#   bench/server/soak.sh [BUILD_DIR] [DURATION]
duration=${2:-600}
. "$(dirname "$0")/lib.sh" soak "${1:-build}"
{
    echo "host: soak"
    echo "application:"
    echo "  nodes:"
    echo "    value: {type: int32, value: 0, flags: [writable]}"
    echo "    quiet: {type: int32, value: 0, flags: [writable]}"
    # A read that takes a while, to be killed in the middle.
    printf '    big: {type: double, value: ['
    seq -s, 1 200000 | tr -d '\n'
    echo ']}'
    echo "platform: {}"
} >"$work/tree.yaml"
start_server "$work/tree.yaml"

threads() { ls "/proc/$server/task" | wc -l; }
descriptors() { ls "/proc/$server/fd" | wc -l; }
rss() { awk '/VmRSS/ {print $2}' "/proc/$server/status"; }
figures() {  # label
    printf '%-26s threads %4d  descriptors %4d  RSS %7d KiB   (load average %s)\n' "$1" \
        "$(threads)" "$(descriptors)" "$(rss)" "$(cut -d' ' -f1-3 /proc/loadavg)"
}

# The ORB starts its connection scavenger with the first connection, and
# keeps a worker thread 10 s after its last call (idleThreadTimeout): the
# baseline is taken after one read, once the worker has gone.
"$rove" value --port "$port" >/dev/null
settled=$SECONDS
until (( $(threads) <= 8 )) || (( SECONDS - settled >= 30 )); do sleep 1; done
figures "start (after one read)"
base_threads=$(threads) base_descriptors=$(descriptors)
start=$SECONDS
errors=0 oneshots=0 listeners=0 killed=0 cut=0 minute_done=0
while (( SECONDS - start < duration )); do
    for i in 1 2 3 4; do
        "$rove" access "value=$((oneshots % 1000))" --port "$port" >/dev/null 2>>"$work/errors" || errors=$((errors + 1))
        "$rove" value --port "$port" >/dev/null 2>>"$work/errors" || errors=$((errors + 1))
        oneshots=$((oneshots + 2))
    done
    # A read of 200,000 elements killed at some point of its call.
    "$rove" big --port "$port" >/dev/null 2>&1 &
    c=$!
    sleep "0.0$((RANDOM % 10))"
    kill -9 $c 2>/dev/null || true
    wait $c 2>/dev/null || true
    cut=$((cut + 1))
    # A listener on a node that changes and one on a node that never does;
    # one ends normally, the other is killed.
    "$rove" listen value --port "$port" >/dev/null 2>&1 &
    a=$!
    "$rove" listen quiet --port "$port" >/dev/null 2>&1 &
    b=$!
    sleep 0.3
    kill -TERM $a 2>/dev/null || true
    kill -9 $b 2>/dev/null || true
    wait $a 2>/dev/null || true
    wait $b 2>/dev/null || true
    listeners=$((listeners + 2)) killed=$((killed + 1))
    echo "$(( (SECONDS - start) / 60 )) $(threads) $(rss)" >>"$work/samples"
    if (( minute_done == 0 && SECONDS - start >= 60 )); then
        figures "after 1 minute"
        minute_done=1
    fi
done
figures "end ($((SECONDS - start)) s)"
idle=$SECONDS
until (( $(threads) <= base_threads && $(descriptors) <= base_descriptors )) || (( SECONDS - idle >= 60 )); do sleep 0.5; done
figures "idle, back after $((SECONDS - idle)) s"
# Per minute of churn, the range of the threads and RSS sampled after each round.
awk '{ m = $1; if (!(m in tmin) || $2 < tmin[m]) tmin[m] = $2; if ($2 > tmax[m]) tmax[m] = $2;
       if (!(m in rmin) || $3 < rmin[m]) rmin[m] = $3; if ($3 > rmax[m]) rmax[m] = $3; last = m }
     END { for (m = 0; m <= last; m++) if (m in tmin)
               printf "minute %2d: threads %d-%d, RSS %d-%d KiB\n", m + 1, tmin[m], tmax[m], rmin[m], rmax[m] }' "$work/samples"
echo "one-shot runs: $oneshots, errors: $errors; reads killed mid-call: $cut; listeners: $listeners ($killed killed)"
echo "targets: at the end within 10% of the values after 1 minute; idle back to the start within 25 s"
echo "(a killed listener is checked after 10 s idle, the check takes 5 s at most; the ORB's idle workers end 10 s after their last call)"
