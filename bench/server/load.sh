#!/usr/bin/env bash
# Load of a large tree by velnor-registryd: generates a tree of about NODES
# registry nodes (boards of 100 channels of 99 typed values, every tenth
# writable), starts the server on it and prints the time to its ready line,
# the CPU time the start took, and the peak RSS, beside the targets.
#
#   bench/server/load.sh [BUILD_DIR] [NODES]      (default: build 1000000)
nodes=${2:-1000000}
. "$(dirname "$0")/lib.sh" load "${1:-build}"

boards=$(( (nodes + 9999) / 10000 ))
awk -v B="$boards" -v C=100 -v L=99 '
BEGIN {
    split("int32 double bool string uint64 enum float int64 uint32 int32", types, " ")
    print "host: bench"
    print "application:"
    print "  nodes:"
    for (b = 0; b < B; b++) {
        printf "    board%d:\n      nodes:\n", b
        for (c = 0; c < C; c++) {
            printf "        channel%d:\n          nodes:\n", c
            for (l = 0; l < L; l++) {
                t = types[l % 10 + 1]
                if (t == "bool") v = (l % 2 ? "true" : "false")
                else if (t == "string") v = "\"text " l "\""
                else if (t == "enum") v = "slow"
                else if (t == "double" || t == "float") v = l ".25"
                else v = l * 7
                extra = (t == "enum") ? ", domain: [off, slow, fast]" : ""
                w = (l % 10 == 0) ? ", flags: [writable]" : ""
                printf "            v%d: {type: %s, value: %s%s%s}\n", l, t, v, extra, w
            }
        }
    }
    print "platform:"
    print "  nodes: {}"
}' >"$work/tree.yaml"
total=$(( boards * 100 * 100 + boards * 100 + boards + 2 ))
bytes=$(stat -c %s "$work/tree.yaml")

start=$(date +%s%N)
start_server "$work/tree.yaml"
end=$(date +%s%N)
read -r utime stime < <(awk '{print $14, $15}' "/proc/$server/stat")
hz=$(getconf CLK_TCK)
peak=$(awk '/VmHWM/ {print $2}' "/proc/$server/status")
rss=$(awk '/VmRSS/ {print $2}' "/proc/$server/status")
# One read of a deep node: the tree is served.
"$rove" --port "$port" board0.channel0.v1 >/dev/null

printf 'tree: %d registry nodes, %d MB of YAML; load average %s\n' "$total" $((bytes / 1000000)) \
    "$(cut -d' ' -f1-3 /proc/loadavg)"
printf 'start to ready line %6.2f s   (target < 10 s)\n' "$(echo "($end - $start) / 1000000000" | bc -l)"
printf 'CPU time of the start %6.2f s\n' "$(echo "($utime + $stime) / $hz" | bc -l)"
printf 'peak RSS %7d MiB            (target < 1024 MiB); after the start %d MiB\n' $((peak / 1024)) $((rss / 1024))
