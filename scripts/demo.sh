#!/usr/bin/env bash
# Builds the tool and the registry server, starts the demo registry
# (examples/demo.yaml) in the background when none answers on the default
# port, and runs velnor-rove against it. Arguments go to velnor-rove
# (default: dump). The demo's saved values are not worth a failed start: a
# damaged state file (or one of an earlier version) is replaced.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
bash "$top/scripts/build.sh" >/dev/null
port=$(sed -n 's/^constexpr std::uint16_t c_defaultPort = \([0-9]*\);$/\1/p' "$top/idl/contract/velnor/wire.h")
if ! (exec 3<>/dev/tcp/127.0.0.1/"$port") 2>/dev/null; then
  log="$build/demo-registryd.log"
  nohup "$build/bin/velnor-registryd" --tree "$top/examples/demo.yaml" --port "$port" \
    --state "$build/demo-state.yaml" --discard-damaged-state >"$log" 2>&1 &
  for _ in $(seq 1 100); do
    grep -q '^velnor-registryd listening on ' "$log" 2>/dev/null && break
    sleep 0.05
  done
  echo "started demo registry (pid $!, port $port, log $log)" >&2
fi
[ $# -eq 0 ] && set -- dump
exec "$build/bin/velnor-rove" "$@"
