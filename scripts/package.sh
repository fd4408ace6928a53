#!/usr/bin/env bash
# Builds the Debian package from the build tree (build/ or $BUILD_DIR) into
# its package/ folder and prints the package's path.
#
#   scripts/package.sh [--check]
#
# --check then unpacks the package into a scratch root (dpkg -x, nothing is
# installed on the machine) and uses what it installed: the file list is
# exactly the programs, man pages, completion and examples; the installed
# velnor-rove loads no shared library but glibc's and prints its help; man
# formats both installed pages without a warning; bash-completion's own
# loader, in an interactive bash, finds the installed completion and it
# completes a node path against the installed velnor-registryd serving the
# installed demo tree. Exits non-zero on the first failure.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
check=0
case ${1:-} in
    --check) check=1 ;;
    "") ;;
    *) echo "usage: scripts/package.sh [--check]" >&2; exit 2 ;;
esac

log() { echo "package: $*" >&2; }
fail() { log "FAILED: $*"; exit 1; }

bash "$top/scripts/setup.sh"
[ -f "$build/build.ninja" ] || cmake -S "$top" -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target velnor-rove velnor-registryd velnor-man-pages >/dev/null
out=$build/package
rm -rf "$out"
mkdir -p "$out"
if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1; then
    cat "$out/cpack.log" >&2
    fail "cpack"
fi
debs=("$out"/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "expected one .deb in $out"
deb=${debs[0]}
echo "$deb"
[ $check -eq 1 ] || exit 0

scratch=$(mktemp -d "${TMPDIR:-/tmp}/velnor-package-XXXXXX")
server_pid=""
cleanup() {
    # The browser check's tmux server (and the browser in it), if it runs.
    if [ -S "$scratch/tmux" ]; then tmux -S "$scratch/tmux" kill-server 2>/dev/null || true; fi
    if [ -n "$server_pid" ]; then
        kill "$server_pid" 2>/dev/null || true
        wait "$server_pid" 2>/dev/null || true
    fi
    rm -rf "$scratch"
}
trap cleanup EXIT
root=$scratch/root
dpkg -x "$deb" "$root"
usr=$root/usr

# Nothing but these: no test, benchmark or library of the tree installs.
expected="./usr/bin/velnor-registryd
./usr/bin/velnor-rove
./usr/share/bash-completion/completions/velnor-rove
./usr/share/doc/velnor-rove/examples/demo.yaml
./usr/share/doc/velnor-rove/examples/velnor-registryd.service
./usr/share/man/man1/velnor-registryd.1.gz
./usr/share/man/man1/velnor-rove.1.gz"
files=$(cd "$root" && find . ! -type d | LC_ALL=C sort)
[ "$files" = "$expected" ] || fail "file list differs: $(diff <(echo "$expected") <(echo "$files") | grep '^[<>]' | tr '\n' ' ')"
depends=$(dpkg-deb -f "$deb" Depends)
[[ $depends == *libc6* ]] || fail "Depends not computed: '$depends'"
log "ok: $(basename "$deb"): $(echo "$files" | wc -l) files; Depends: $depends"

# A one-shot run of the tool pays for every shared library it loads: a
# library that brings one back (as a shared yaml-cpp once brought the C++
# runtime) doubles the cost of a run without a word. Only glibc's own.
needed=$(readelf -d "$usr/bin/velnor-rove" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | LC_ALL=C sort)
[ "$(grep -v '^ld-' <<<"$needed")" = "libc.so.6" ] ||
    fail "installed velnor-rove needs shared libraries other than glibc's: $(echo $needed)"
log "ok: installed velnor-rove loads only $(echo $needed)"

# The installed tool answers as the built one does (help ends with status 1).
status=0
help=$("$usr/bin/velnor-rove" help 2>&1) || status=$?
built_status=0
built_help=$("$build/bin/velnor-rove" help 2>&1) || built_status=$?
[ "$help" = "$built_help" ] && [ $status -eq $built_status ] && [[ $help == *"Available commands:"* ]] ||
    fail "installed 'velnor-rove help' (status $status): $help"
log "ok: installed 'velnor-rove help' prints the commands ($(echo "$help" | wc -l) lines, status $status)"

for page in velnor-rove velnor-registryd; do
    text=$(MANWIDTH=80 MANPAGER=cat man --warnings -l "$usr/share/man/man1/$page.1.gz" 2>"$scratch/man.err") ||
        fail "man -l $page.1.gz: $(cat "$scratch/man.err")"
    [ ! -s "$scratch/man.err" ] || fail "man -l $page.1.gz warns: $(cat "$scratch/man.err")"
    [[ $text == *NAME*"$page "* ]] || fail "man -l $page.1.gz: no NAME section naming $page"
    log "ok: man -l $page.1.gz: $(echo "$text" | wc -l) lines, no warning"
done

# The installed server on a free port, its socket in a directory of the check.
run=$scratch/run
mkdir -m 700 "$run"
VELNOR_RUNTIME_DIR=$run "$usr/bin/velnor-registryd" --tree "$usr/share/doc/velnor-rove/examples/demo.yaml" \
    --port 0 >"$scratch/server.out" 2>"$scratch/server.err" &
server_pid=$!
port=""
for _ in $(seq 1 200); do  # 10 s
    port=$(sed -n '1s/^velnor-registryd listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$scratch/server.out")
    [ -n "$port" ] && break
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.05
done
[ -n "$port" ] || fail "installed velnor-registryd did not start: $(cat "$scratch/server.out" "$scratch/server.err")"

# An interactive bash with bash-completion: its loader must find the
# completion under the installed name and directory, and the function it
# defines must come from that file (not from one installed on this machine).
# What an interactive bash without a terminal says anyway is left out.
bash_errors() {
    grep -v -e 'cannot set terminal process group' -e 'no job control in this shell' -e '^exit$' "$scratch/bash.err" || true
}
completion=$usr/share/bash-completion/completions/velnor-rove
loader=/usr/share/bash-completion/bash_completion
[ -f "$loader" ] || fail "$loader missing (scripts/setup.sh installs bash-completion)"
script='
source "$LOADER"
__load_completion velnor-rove || { echo "not found by the loader"; exit 1; }
fn=$(complete -p velnor-rove | sed -n "s/.* -F \([^ ]*\) .*/\1/p")
shopt -s extdebug
from=$(declare -F "$fn" | cut -d" " -f3-)
[ "$from" = "$COMPLETION" ] || { echo "completion loaded from $from"; exit 1; }
shopt -u extdebug
COMP_WORDS=(velnor-rove dump --port "$PORT" boards.board0.g)
COMP_CWORD=4
COMP_LINE="${COMP_WORDS[*]}"
COMP_POINT=${#COMP_LINE}
"$fn" velnor-rove boards.board0.g "$PORT"
printf "%s\n" "${COMPREPLY[@]}"
'
got=$(env PATH="$usr/bin:$PATH" XDG_DATA_DIRS="$usr/share" BASH_COMPLETION_USER_DIR="$scratch/none" \
    HOME="$scratch" HISTFILE=/dev/null VELNOR_RUNTIME_DIR="$run" LOADER="$loader" COMPLETION="$completion" \
    PORT="$port" bash --norc --noprofile -i -c "$script" 2>"$scratch/bash.err") ||
    fail "completion in bash -i: $got $(bash_errors)"
[ "$got" = "boards.board0.gain" ] || fail "completion of 'boards.board0.g' gave '$got', expected 'boards.board0.gain'"
log "ok: bash -i, bash-completion loads $completion; 'velnor-rove dump --port $port boards.board0.g<TAB>' -> $got"

# browse with the static ncursesw: it finds the system's terminfo entries
# and draws the demo's tree in a terminal (a private tmux server).
if command -v tmux >/dev/null; then
    printf 'set -g remain-on-exit on\n' >"$scratch/tmux.conf"
    tmx=(tmux -S "$scratch/tmux" -f "$scratch/tmux.conf")
    "${tmx[@]}" new-session -d -x 100 -y 30 \
        "env TERM=xterm-256color LANG=C.UTF-8 VELNOR_RUNTIME_DIR=$run $usr/bin/velnor-rove browse --port $port"
    drawn=""
    for _ in $(seq 1 200); do  # 10 s
        drawn=$("${tmx[@]}" capture-pane -p 2>/dev/null || true)
        grep -q "trigger" <<<"$drawn" && break
        sleep 0.05
    done
    "${tmx[@]}" send-keys q 2>/dev/null || true
    "${tmx[@]}" kill-server 2>/dev/null || true
    grep -q "trigger" <<<"$drawn" || fail "installed velnor-rove browse drew no tree: $drawn"
    log "ok: installed velnor-rove browse draws the demo's tree with the system's terminfo"
fi
log "ok: all checks passed"
