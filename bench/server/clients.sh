#!/usr/bin/env bash
# Concurrent clients of velnor-registryd: CLIENTS loops (default 100) run
# a one-shot read and a one-shot write every PAUSE seconds (default 0.5;
# 0: back to back) for DURATION seconds (default 60), every fifth write
# going to a node that LISTENERS listeners (default 10) follow. Prints
# the read times (p50, p90, p99, of whole one-shot runs), the errors and the
# notifications lost (writes of the followed node that a listener did not
# print), beside the targets.
#
#   bench/server/clients.sh [BUILD_DIR] [CLIENTS] [DURATION] [LISTENERS] [PAUSE]
clients=${2:-100}
duration=${3:-60}
listeners=${4:-10}
pause=${5:-0.5}
. "$(dirname "$0")/lib.sh" clients "${1:-build}"
{
    echo "host: clients"
    echo "application:"
    echo "  nodes:"
    echo "    followed: {type: int32, value: 0, flags: [writable]}"
    for i in $(seq 0 $((clients - 1))); do echo "    n$i: {type: int32, value: 0, flags: [writable]}"; done
    echo "platform: {}"
} >"$work/tree.yaml"
start_server "$work/tree.yaml"

listener_pids=()
for l in $(seq "$listeners"); do
    "$rove" listen followed --port "$port" >"$work/listen.$l" 2>&1 &
    listener_pids+=($!)
done
for l in $(seq "$listeners"); do
    for _ in $(seq 600); do grep -q "Listen following" "$work/listen.$l" && break; sleep 0.1; done
done

client() {  # index
    local i=$1 n=0 t0 t1
    local end=$((SECONDS + duration))
    while (( SECONDS < end )); do
        t0=$EPOCHREALTIME
        if "$rove" "n$i" --port "$port" >/dev/null 2>>"$work/errors.$i"; then
            t1=$EPOCHREALTIME
            echo "$t0 $t1" >>"$work/reads.$i"
        else
            echo read >>"$work/failed.$i"
        fi
        "$rove" access "n$i=$n" --port "$port" >/dev/null 2>>"$work/errors.$i" || echo write >>"$work/failed.$i"
        if (( n % 5 == 0 )); then
            if "$rove" access "followed=$n" --port "$port" >/dev/null 2>>"$work/errors.$i"; then
                echo >>"$work/followed.$i"
            else
                echo write >>"$work/failed.$i"
            fi
        fi
        n=$((n + 1))
        sleep "$pause"
    done
}

# CPU seconds: the server's (utime + stime) and the whole machine's busy time.
server_cpu() { awk -v hz="$(getconf CLK_TCK)" '{ sub(/^.*\) /, ""); printf "%.2f", ($12 + $13) / hz }' "/proc/$server/stat"; }
machine_busy() { awk -v hz="$(getconf CLK_TCK)" '$1 == "cpu" { printf "%.2f", ($2 + $3 + $4 + $7 + $8) / hz }' /proc/stat; }
cpu_before=$(server_cpu)
busy_before=$(machine_busy)
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
pids=()
for i in $(seq 0 $((clients - 1))); do
    client "$i" &
    pids+=($!)
done
wait "${pids[@]}"
load_after=$(cut -d' ' -f1-3 /proc/loadavg)
cpu_after=$(server_cpu)
busy_after=$(machine_busy)

written=$({ cat "$work"/followed.* 2>/dev/null || true; } | wc -l)
# Every listener prints one line per write of the followed node.
printed() { grep -c '^clients.followed=' "$work/listen.$1" || true; }
for l in $(seq "$listeners"); do
    for _ in $(seq 300); do (( $(printed "$l") >= written )) && break; sleep 0.1; done
done
lost=0
for l in $(seq "$listeners"); do lost=$((lost + written - $(printed "$l"))); done
kill "${listener_pids[@]}" 2>/dev/null || true

cat "$work"/reads.* | awk '{printf "%.3f\n", ($2 - $1) * 1000}' | sort -n >"$work/times"
reads=$(wc -l <"$work/times")
pick() { awk -v q="$1" -v n="$reads" 'NR == int((n - 1) * q) + 1 {print; exit}' "$work/times"; }
failed=$({ cat "$work"/failed.* 2>/dev/null || true; } | wc -l)
printf '%d clients for %d s, a read and a write every %s s each, load average %s before, %s after\n' "$clients" "$duration" \
    "$pause" "$load_before" "$load_after"
printf 'reads: %d, read time p50 %s ms, p90 %s ms, p99 %s ms   (target p50 < 70 ms)\n' "$reads" "$(pick 0.5)" "$(pick 0.9)" "$(pick 0.99)"
printf 'errors: %d   (target 0)\n' "$failed"
awk -v s="$(awk -v a="$cpu_before" -v b="$cpu_after" 'BEGIN { print b - a }')" \
    -v m="$(awk -v a="$busy_before" -v b="$busy_after" 'BEGIN { print b - a }')" -v d="$duration" -v c="$(nproc)" \
    'BEGIN { printf "CPU: the machine busy %.0f of %d core-seconds, the server %.1f of them (%.0f%%); the rest is the clients and everything else\n", m, d * c, s, 100 * s / m }'
printf 'writes of the followed node: %d, listeners: %d, notifications lost: %d   (target 0)\n' "$written" "$listeners" "$lost"
if (( failed > 0 )); then sort "$work"/errors.* | uniq -c | sort -rn | head -5; fi
