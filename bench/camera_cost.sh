#!/usr/bin/env bash
# What one camera costs to watch, on the same live stream, three contestants measured in one run
# with their rounds interleaved:
#   gardivo   gardivo-monitor watching the stream (detection on, no screen);
#   motion    Motion (Debian's motion package) in the foreground, detection on, no output files,
#             its frame rate set to the stream's;
#   floor     the stream decoded to a fakesink by gst-launch-1.0, and nothing else.
# Streams: 640x480 at 30 MJPEG over HTTP, and 1920x1080 at 25 H.264 over RTSP, both served on
# loopback by the tests' own camera servers (their CPU is not counted).
#   bench/camera_cost.sh [--build DIR] [--seconds S] [--rounds R] [--only mjpeg|h264]
# Needs the build's tests (the servers), gstreamer1.0-tools and motion (installed when missing
# and run as root).
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=build seconds=20 rounds=3 only=""
while [ $# -gt 0 ]; do
    case "$1" in
    --build) build_dir=$2; shift ;;
    --seconds) seconds=$2; shift ;;
    --rounds) rounds=$2; shift ;;
    --only) only=$2; shift ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
    esac
    shift
done
for tool in gst-launch-1.0 motion; do
    if ! command -v "$tool" >/dev/null; then
        if [ "$(id -u)" -eq 0 ]; then
            DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends gstreamer1.0-tools motion >/dev/null
        else
            echo "camera_cost.sh needs $tool (apt-get install gstreamer1.0-tools motion)" >&2
            exit 1
        fi
    fi
done

work=$(mktemp -d)
cleanup() {
    pkill -P $$ 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/program" "$work/registry" "$work/motion"
for entry in "$build_dir"/Gardivo/*; do
    case "$(basename "$entry")" in
    watchdog.cfg | watchdog.mdb) ;;
    *) cp -r "$entry" "$work/program/" ;;
    esac
done
export TAVRIN_REGISTRY_DIR="$work/registry" HOME="$work/program"
export GST_PLUGIN_PATH="$build_dir/Gardivo"
hz=$(getconf CLK_TCK)
. bench/process_tree.sh

# Starts a server and prints its port.
serve() {
    local out="$work/$1.out"
    "$build_dir/tests/$1" "${@:2}" >"$out" 2>&1 &
    for _ in $(seq 1 100); do
        if grep -q '^port ' "$out"; then
            awk '/^port / {print $2; exit}' "$out"
            return
        fi
        sleep 0.1
    done
    echo "$1 did not start" >&2
    exit 1
}

# Percent of one core the process tree used over the measured seconds, after a warm-up.
measure() {
    local pid=$1 before after
    sleep 6
    before=$(ticks "$pid")
    sleep "$seconds"
    after=$(ticks "$pid")
    awk -v t=$((after - before)) -v s="$seconds" -v hz="$hz" 'BEGIN { printf "%.2f", 100 * t / (s * hz) }'
}

stop() {
    kill -INT "$1" 2>/dev/null || true
    sleep 0.5
    kill -KILL "$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
}

median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }

# One stream: its gardivo source line, its address for Motion, its floor pipeline, its rate.
run_stream() {
    local label=$1 line=$2 netcam=$3 floor=$4 rate=$5 width=$6 height=$7
    printf 'Camera|%s\n' "$line" >"$work/program/sources.txt"
    cat >"$work/motion/motion.conf" <<EOF
daemon off
setup_mode off
log_level 1
netcam_url $netcam
width $width
height $height
framerate $rate
picture_output off
movie_output off
snapshot_interval 0
stream_port 0
webcontrol_port 0
target_dir $work/motion
EOF
    local g=() m=() f=() pid
    for round in $(seq 1 "$rounds"); do
        "$work/program/gardivo-monitor" --start --source Camera --program-dir "$work/program/" \
            >"$work/gardivo.log" 2>&1 &
        pid=$!
        g+=("$(measure "$pid")")
        stop "$pid"
        grep -q "first picture" "$work/gardivo.log" || { echo "gardivo got no picture:" >&2; cat "$work/gardivo.log" >&2; exit 1; }

        motion -n -c "$work/motion/motion.conf" >"$work/motion.log" 2>&1 &
        pid=$!
        m+=("$(measure "$pid")")
        stop "$pid"

        # shellcheck disable=SC2086
        gst-launch-1.0 -q $floor >"$work/floor.log" 2>&1 &
        pid=$!
        f+=("$(measure "$pid")")
        stop "$pid"
        echo "$label round $round: gardivo ${g[-1]}%, motion ${m[-1]}%, floor ${f[-1]}% of a core"
    done
    local mg mm mf
    mg=$(median "${g[@]}") mm=$(median "${m[@]}") mf=$(median "${f[@]}")
    awk -v l="$label" -v g="$mg" -v m="$mm" -v f="$mf" 'BEGIN {
        printf "%s median: gardivo %.2f%%, motion %.2f%%, floor %.2f%% of a core; gardivo/motion %.2fx, gardivo/floor %.2fx\n",
               l, g, m, f, (m > 0 ? g / m : 0), (f > 0 ? g / f : 0) }'
}

if [ -z "$only" ] || [ "$only" = mjpeg ]; then
    port=$(serve mjpeg_test_server --size 640x480 --rate 30)
    url="http://127.0.0.1:$port/video.mjpg"
    run_stream "MJPEG 640x480@30" \
        "souphttpsrc location=$url is-live=true ! multipartdemux ! jpegdec" "$url" \
        "souphttpsrc location=$url is-live=true ! multipartdemux ! jpegdec ! fakesink" 30 640 480
    pkill -f mjpeg_test_server || true
fi
if [ -z "$only" ] || [ "$only" = h264 ]; then
    port=$(serve rtsp_test_server --size 1920x1080 --rate 25 --protocols tcp)
    url="rtsp://127.0.0.1:$port/stream"
    run_stream "H.264 1920x1080@25" "$url" "$url" \
        "rtspsrc location=$url protocols=tcp ! rtph264depay ! h264parse ! avdec_h264 ! fakesink" 25 1920 1080
fi
