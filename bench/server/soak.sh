#!/usr/bin/env bash
# Soak of velnor-registryd: churn of one-shot reads and writes and of
# listeners that end normally or are killed, for DURATION seconds (default
# 600); prints the server's threads, descriptors and RSS at the start, after
# the first minute, at the end and once idle (after the listener check
# bound), beside the targets. Traffic stays on 127.0.0.1 and the run stops
# by itself.
#
#   bench/server/soak.sh [BUILD_DIR] [DURATION]
set -euo pipefail
build=${1:-build}
duration=${2:-600}
bin=$(cd "$build/bin" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/velnor-soak-XXXXXX")
trap 'kill $(jobs -p) 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"' EXIT
export VELNOR_RUNTIME_DIR=$work/run
mkdir -m 700 "$VELNOR_RUNTIME_DIR"
cat >"$work/tree.yaml" <<'TREE'
host: soak
application:
  nodes:
    value: {type: int32, value: 0, flags: [writable]}
    quiet: {type: int32, value: 0, flags: [writable]}
platform: {}
TREE
"$bin/velnor-registryd" --tree "$work/tree.yaml" --port 0 >"$work/out" 2>"$work/err" &
server=$!
for _ in $(seq 200); do grep -q listening "$work/out" && break; sleep 0.1; done
port=$(sed -n 's/.*:\([0-9]*\)$/\1/p' "$work/out")
rove() { "$bin/velnor-rove" "$@" --port "$port"; }

figures() {  # label
    printf '%-22s threads %4d  descriptors %4d  RSS %6d KiB\n' "$1" \
        "$(ls /proc/$server/task | wc -l)" "$(ls /proc/$server/fd | wc -l)" \
        "$(awk '/VmRSS/ {print $2}' /proc/$server/status)"
}

figures "start"
start=$SECONDS
errors=0 oneshots=0 listeners=0 killed=0 minute_done=0
while (( SECONDS - start < duration )); do
    for i in 1 2 3 4; do
        rove access "value=$((oneshots % 1000))" >/dev/null 2>>"$work/errors" || errors=$((errors + 1))
        rove value >/dev/null 2>>"$work/errors" || errors=$((errors + 1))
        oneshots=$((oneshots + 2))
    done
    # A listener on a node that changes and one on a node that never does;
    # one ends normally, the other is killed.
    rove listen value >/dev/null 2>&1 & a=$!
    rove listen quiet >/dev/null 2>&1 & b=$!
    sleep 0.3
    kill -TERM $a 2>/dev/null || true; kill -9 $b 2>/dev/null || true
    wait $a 2>/dev/null || true; wait $b 2>/dev/null || true
    listeners=$((listeners + 2)); killed=$((killed + 1))
    if (( minute_done == 0 && SECONDS - start >= 60 )); then figures "after 1 minute"; minute_done=1; fi
done
figures "end ($((SECONDS - start)) s)"
sleep 20
figures "idle 20 s later"
echo "one-shot runs: $oneshots, errors: $errors; listeners: $listeners ($killed killed)"
echo "targets: at the end within 10% of the values after 1 minute; idle back to the start within 15 s (listener check)"
