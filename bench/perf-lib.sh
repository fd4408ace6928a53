# Shared pieces of the perf scripts (sourced, not run). The sourcing script
# sets server_cpu before starting servers and defines on_client.

work=$(mktemp -d)
pids=()
cleanup() {
  # CONT too: a server a scenario left stopped takes its TERM only then.
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null && kill -CONT "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Starts a server that prints "... listening on ADDR:PORT" on server_cpu and
# sets the variable named first to its port.
start_server() {  # variable name, log name, command...
  local var=$1 name=$2; shift 2
  if command -v taskset >/dev/null; then
    taskset -c "${server_cpu:-0}" "$@" >"$work/$name.out" 2>"$work/$name.err" &
  else
    "$@" >"$work/$name.out" 2>"$work/$name.err" &
  fi
  pids+=($!)
  for _ in $(seq 100); do
    if grep -q 'listening on' "$work/$name.out" 2>/dev/null; then
      printf -v "$var" '%s' "$(sed -n 's/.*listening on .*:\([0-9]*\)$/\1/p' "$work/$name.out" | head -1)"
      return
    fi
    sleep 0.05
  done
  echo "perf.sh: $name did not start: $(cat "$work/$name.err")" >&2
  exit 1
}

# "name value" lines in, "name median" lines out.
medians() {
  sort -k1,1 -k2,2g | awk '
    function flush() { if (n) printf "%s %s\n", key, (n % 2) ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2 }
    $1 != key { flush(); key = $1; n = 0 }
    { v[++n] = $2 }
    END { flush() }'
}

# Wall time of one run in milliseconds; bash's clock needs no fork.
oneshot() {  # figure name, then the command
  local name=$1 t0 t1; shift
  t0=$EPOCHREALTIME
  on_client "$@" >/dev/null
  t1=$EPOCHREALTIME
  awk -v n="$name" -v a="$t0" -v b="$t1" 'BEGIN { printf "%s %.3f\n", n, (b - a) * 1000 }'
}
