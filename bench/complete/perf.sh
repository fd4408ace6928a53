#!/usr/bin/env bash
# Bash completion of a node with many children: the wall time of the
# completion function (the tool's answer read, filtered and quoted, as bash
# runs it on Tab) beside the time of `velnor-rove --complete` alone, for
# 1,000, 4,000 and 10,000 children named l0, l1, ... and for 10,000 children
# whose names need quoting (q;0, q;1, ...). Medians of ROUNDS runs (default 5).
#
#   bench/complete/perf.sh [BUILD_DIR]
#
# COMPLETION=FILE times another completion script (an older one, to compare);
# SIZES="1000:l 4000:l" chooses the trees (count:name prefix).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${1:-$root/build}
bin=$build/bin
completion=${COMPLETION:-$root/completion/velnor-rove.bash}
for program in velnor-registryd velnor-rove; do
  [[ -x $bin/$program ]] || { echo "perf.sh: $bin/$program is missing" >&2; exit 2; }
done
if [[ $(nproc) -ge 2 ]]; then server_cpu=0; client_cpu=1; else server_cpu=0; client_cpu=0; fi
on_client() { if command -v taskset >/dev/null; then taskset -c "$client_cpu" "$@"; else "$@"; fi; }
source "$here/../perf-lib.sh"
export VELNOR_RUNTIME_DIR=$work

# One bash that sources the script and times the completion function ROUNDS
# times: "name wall-ms cpu-ms candidates" lines, the CPU time being that of
# bash and the tool it runs (user and system): on a loaded machine it tells
# what the work costs when the wall time no longer does.
time_function() {  # figure name, port
  on_client bash --norc --noprofile -c '
    source "$1"
    TIMEFORMAT="%R %U %S"
    for (( r = 0; r < $4; r++ )); do
      COMP_WORDS=("$2" --port "$3" wide.) COMP_CWORD=3
      COMP_LINE="${COMP_WORDS[*]}" COMP_POINT=${#COMP_LINE} COMPREPLY=()
      { time _velnor_rove; } 2>"$6"
      read -r real user sys <"$6"
      echo "$5 $real $user $sys ${#COMPREPLY[@]}"
    done' bash "$completion" "$bin/velnor-rove" "$2" "${ROUNDS:-5}" "$1" "$work/times"
}

echo "figure median-wall-ms median-cpu-ms candidates"
for size in ${SIZES:-1000:l 4000:l 10000:l 10000:q;}; do
  count=${size%%:*} name=${size#*:}
  tree=$work/wide-$count.yaml
  awk -v n="$count" -v name="$name" 'BEGIN {
    print "host: wide-host\napplication:\n  nodes:\n    wide:\n      nodes:"
    for (i = 0; i < n; i++) printf "        \"%s%d\": {type: int32, value: %d}\n", name, i, i
  }' >"$tree"
  start_server port "registry-$count" "$bin/velnor-registryd" --tree "$tree" --port 0
  label="$count-${name%;}"
  for (( r = 0; r < ${ROUNDS:-5}; r++ )); do
    oneshot "tool-$label" "$bin/velnor-rove" access --complete wide. --long true --port "$port" -- wide.
  done | medians | sed 's/$/ - -/'
  results=$(time_function "bash-$label" "$port")
  candidates=$(awk 'NR == 1 { print $5 }' <<<"$results")
  wall=$(awk '{ print $1, $2 * 1000 }' <<<"$results" | medians)
  cpu=$(awk '{ print $1, ($3 + $4) * 1000 }' <<<"$results" | medians | awk '{ print $2 }')
  echo "$wall $cpu $candidates"
done
