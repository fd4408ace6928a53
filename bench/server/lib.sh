# Sourced by the bench/server scripts: strict mode, a work directory that is
# removed on exit (with every background job ended), a runtime directory of
# its own, and a server started on a tree.
#
#   . "$(dirname "$0")/lib.sh" NAME BUILD_DIR    sets $bin, $rove and $work
#   start_server TREE [OPTION...]                sets $server and $port
set -euo pipefail
bin=$(cd "$2/bin" && pwd)
rove=$bin/velnor-rove
work=$(mktemp -d "${TMPDIR:-/tmp}/velnor-$1-XXXXXX")
trap 'kill $(jobs -p) 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"' EXIT
export VELNOR_RUNTIME_DIR=$work/run
mkdir -m 700 "$VELNOR_RUNTIME_DIR"

start_server() {  # tree [option...]
    local tree=$1
    shift
    "$bin/velnor-registryd" --tree "$tree" --port 0 "$@" >"$work/out" 2>"$work/err" &
    server=$!
    until grep -q listening "$work/out"; do
        if ! kill -0 "$server" 2>/dev/null; then
            cat "$work/err" >&2
            exit 1
        fi
        sleep 0.05
    done
    port=$(sed -n 's/.*:\([0-9]*\)$/\1/p' "$work/out")
}
