# Sourced by the benchmark scripts: a process with everything it started, and their CPU time and
# memory taken together.

# The process and everything below it.
tree() {
    local pid=$1 child
    echo "$pid"
    for child in $(pgrep -P "$pid" || true); do
        tree "$child"
    done
}

# Clock ticks of user and system time the tree has used.
ticks() {
    local total=0 pid
    for pid in $(tree "$1"); do
        [ -r "/proc/$pid/stat" ] || continue
        total=$((total + $(awk '{sub(/^.*\) /, ""); print $12 + $13}' "/proc/$pid/stat")))
    done
    echo "$total"
}

# The tree's resident set and proportional set (shared pages counted once across it).
memory() {
    local rss=0 pss=0 count=0 pid
    for pid in $(tree "$1"); do
        [ -r "/proc/$pid/smaps_rollup" ] || continue
        rss=$((rss + $(awk '/^Rss:/ {print $2}' "/proc/$pid/smaps_rollup")))
        pss=$((pss + $(awk '/^Pss:/ {print $2}' "/proc/$pid/smaps_rollup")))
        count=$((count + 1))
    done
    awk -v n="$count" -v r="$rss" -v p="$pss" 'BEGIN { printf "%3d processes, RSS %6.1f MiB, PSS %6.1f MiB\n", n, r / 1024, p / 1024 }'
}
