#!/usr/bin/env bash
# Whole-process CPU of gardivo watching the Test Pattern with its windows shown (the default
# skin's 640x480 video window), against the headless monitor watching the same source at the same
# size, measured in the same run, rounds interleaved. With --memory-minutes N it then keeps the
# windowed program watching for N minutes and prints the resident memory of all its processes
# each minute.
#   bench/gardivo_cpu.sh [--build DIR] [--seconds S] [--rounds R] [--memory-minutes N]
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=build seconds=20 rounds=3 memory_minutes=0
while [ $# -gt 0 ]; do
    case "$1" in
    --build) build_dir=$2; shift ;;
    --seconds) seconds=$2; shift ;;
    --rounds) rounds=$2; shift ;;
    --memory-minutes) memory_minutes=$2; shift ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
    esac
    shift
done

program_dir=$(mktemp -d)
registry_dir=$(mktemp -d)
runtime_dir=$(mktemp -d)
chmod 700 "$runtime_dir"
xvfb_pid=""
cleanup() {
    pkill -P $$ 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$program_dir" "$registry_dir" "$runtime_dir"
}
trap cleanup EXIT
for entry in "$build_dir"/Gardivo/*; do
    case "$(basename "$entry")" in
    watchdog.cfg | watchdog.mdb) ;;
    *) cp -r "$entry" "$program_dir/" ;;
    esac
done
if [ -z "${DISPLAY:-}" ]; then
    . scripts/private_xvfb.sh
    start_private_xvfb 1280x1024x24
fi
export TAVRIN_REGISTRY_DIR="$registry_dir" XDG_RUNTIME_DIR="$runtime_dir" HOME="$program_dir"
export QTWEBENGINE_CHROMIUM_FLAGS="${QTWEBENGINE_CHROMIUM_FLAGS:---disable-gpu}"
hz=$(getconf CLK_TCK)

. bench/process_tree.sh
# Percent of one core over the measured seconds, after a warm-up.
measure() {
    local pid=$1 warmup=$2 before after
    sleep "$warmup"
    before=$(ticks "$pid")
    sleep "$seconds"
    after=$(ticks "$pid")
    awk -v t=$((after - before)) -v s="$seconds" -v hz="$hz" 'BEGIN { printf "%.2f", 100 * t / (s * hz) }'
}

headless=() windowed=()
for round in $(seq 1 "$rounds"); do
    "$program_dir/gardivo-monitor" --start --source "Test Pattern" --size 640x480 --program-dir "$program_dir/" \
        --seconds $((seconds + 10)) >/dev/null 2>&1 &
    pid=$!
    headless+=("$(measure "$pid" 5)")
    kill -INT "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true

    GARDIVO_SOURCE="Test Pattern" GARDIVO_START_WATCHING=2 "$program_dir/gardivo" >/dev/null 2>&1 &
    pid=$!
    windowed+=("$(measure "$pid" 8)")
    kill -TERM "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    echo "round $round: headless ${headless[-1]}% of a core, windowed ${windowed[-1]}%"
done
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }
h=$(median "${headless[@]}")
w=$(median "${windowed[@]}")
awk -v h="$h" -v w="$w" 'BEGIN { printf "median: headless %.2f%%, windowed %.2f%% of a core (windowed / headless %.2fx)\n", h, w, w / h }'

if [ "$memory_minutes" -gt 0 ]; then
    GARDIVO_SOURCE="Test Pattern" GARDIVO_START_WATCHING=2 "$program_dir/gardivo" >/dev/null 2>&1 &
    pid=$!
    sleep 10
    printf 'watching, after 10 s: '
    memory "$pid"
    for minute in $(seq 1 "$memory_minutes"); do
        sleep 60
        printf 'watching, after %d min: ' "$minute"
        memory "$pid"
    done
    kill -TERM "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
fi
