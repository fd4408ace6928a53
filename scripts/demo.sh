#!/usr/bin/env bash
# Builds the tool and the registry server (only those two; the tests and
# benchmarks build when ./scripts/test.sh runs), starts the demo registry
# (examples/demo.yaml) in the background when none answers on the default
# port, and runs velnor-rove against it.
#
#   scripts/demo.sh [velnor-rove arguments]   (default: dump)
#   scripts/demo.sh --stop                    stops the demo registry it started
#
# The registry's pid is recorded in the build directory; --stop ends that
# process only when it is still this build's velnor-registryd. The demo's
# saved values are not worth a failed start: a damaged state file (or one of
# an earlier version) is replaced.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${BUILD_DIR:-$top/build}")
server=$build/bin/velnor-registryd
pidfile=$build/demo-registryd.pid

# The recorded pid, when that process still runs this build's server.
recorded_registry() {
  local pid argv0
  pid=$(cat "$pidfile" 2>/dev/null) && [[ $pid =~ ^[0-9]+$ ]] || return 1
  argv0=$(tr '\0' '\n' <"/proc/$pid/cmdline" 2>/dev/null | head -n 1) || return 1
  [ "$argv0" = "$server" ] || return 1
  echo "$pid"
}

stop_registry() {
  local pid
  if ! pid=$(recorded_registry); then
    rm -f "$pidfile"
    echo "no demo registry started by scripts/demo.sh is running" >&2
    return 0
  fi
  kill -TERM "$pid"
  for _ in $(seq 1 100); do  # 5 s
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
  done
  if kill -0 "$pid" 2>/dev/null; then
    echo "demo registry (pid $pid) did not stop within 5 s" >&2
    return 1
  fi
  rm -f "$pidfile"
  echo "stopped demo registry (pid $pid)" >&2
}

if [ "${1:-}" = "--stop" ]; then
  [ $# -eq 1 ] || { echo "usage: scripts/demo.sh --stop" >&2; exit 2; }
  stop_registry
  exit
fi

mkdir -p "$build"
echo "building velnor-rove and velnor-registryd (first run takes a few minutes)..." >&2
buildlog=$build/demo-build.log
if ! BUILD_DIR=$build bash "$top/scripts/build.sh" --target velnor-rove --target velnor-registryd >"$buildlog"; then
  tail -n 30 "$buildlog" >&2
  echo "build failed; the whole output is in $buildlog" >&2
  exit 1
fi

port=$(sed -n 's/^constexpr std::uint16_t c_defaultPort = \([0-9]*\);$/\1/p' "$top/idl/contract/velnor/wire.h")
if ! (exec 3<>/dev/tcp/127.0.0.1/"$port") 2>/dev/null; then
  log="$build/demo-registryd.log"
  nohup "$server" --tree "$top/examples/demo.yaml" --port "$port" \
    --state "$build/demo-state.yaml" --discard-damaged-state >"$log" 2>&1 &
  pid=$!
  echo "$pid" >"$pidfile"
  for _ in $(seq 1 100); do  # 5 s
    grep -q '^velnor-registryd listening on ' "$log" 2>/dev/null && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
  done
  if ! grep -q '^velnor-registryd listening on ' "$log" 2>/dev/null; then
    echo "the demo registry did not start; its log ($log):" >&2
    cat "$log" >&2
    exit 1
  fi
  echo "started demo registry (pid $pid, port $port, log $log); stop it with scripts/demo.sh --stop" >&2
fi
[ $# -eq 0 ] && set -- dump
exec "$build/bin/velnor-rove" "$@"
