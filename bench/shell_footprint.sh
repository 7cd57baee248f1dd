#!/usr/bin/env bash
# How long gardivo takes to show its main page, and how much memory it and its web engine
# processes hold with three skin windows open (main page, video page on the Test Pattern,
# history page), at the start and after each minute of idling.
#   bench/shell_footprint.sh [build dir] [minutes]
# It runs a copy of the program directory with three small pages of its own, so the figures do
# not depend on the skin installed. Without a display it starts a private Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build}
minutes=${2:-5}
program_dir=$(mktemp -d)
registry_dir=$(mktemp -d)
runtime_dir=$(mktemp -d)
chmod 700 "$runtime_dir"
xvfb_pid=""
gardivo_pid=""
cleanup() {
    [ -n "$gardivo_pid" ] && kill "$gardivo_pid" 2>/dev/null && wait "$gardivo_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$program_dir" "$registry_dir" "$runtime_dir"
}
trap cleanup EXIT

# The program directory: everything the build made, except the skins.
for entry in "$build_dir"/Gardivo/*; do
    case "$(basename "$entry")" in
    skins | watchdog.cfg | watchdog.mdb) ;;
    *) cp -r "$entry" "$program_dir/" ;;
    esac
done
mkdir -p "$program_dir/skins/default"
cat >"$program_dir/skins/default/skin.htm" <<'EOF'
<html><head><script>
function DescChange(k, v) { document.getElementById(k) && (document.getElementById(k).textContent = v); }
function CreateHistoryWindow() {}
window.external.RegisterID('ControlPanel');
window.external.WindowShape(4, 0, 0, 352, 0, 352, 300, 0, 300);
window.external.MoveTo(20, 20);
window.external.CreateContentWindow('skins/default/screen.htm');
window.external.CreateContentWindow('skins/default/history.htm');
</script></head><body style="background:#234;color:#eee;font:14px serif">
<h3>Control panel</h3><p>mode <span id="mode">StandBy</span>, picture <span id="dimension">-</span></p>
</body></html>
EOF
cat >"$program_dir/skins/default/screen.htm" <<'EOF'
<html><head><script>
window.external.RegisterID('Screen');
window.external.WindowShape(4, 0, 0, 352, 0, 352, 300, 0, 300);
window.external.MoveTo(400, 20);
window.external.SetWindowRegion(16, 16, 336, 256);
</script></head><body style="background:#ff00ff"></body></html>
EOF
cat >"$program_dir/skins/default/history.htm" <<'EOF'
<html><head><script>
function InitGroups() {}
function SelectRecord() {}
window.external.RegisterID('History');
window.external.WindowShape(4, 0, 0, 352, 0, 352, 300, 0, 300);
window.external.MoveTo(20, 360);
window.external.InitGroups();
window.external.HistoryRows().then(function (rows) { document.body.textContent = rows.length + ' rows'; });
</script></head><body style="background:#eee"></body></html>
EOF

if [ -z "${DISPLAY:-}" ]; then
    . scripts/private_xvfb.sh
    start_private_xvfb 1280x1024x24
fi
export TAVRIN_REGISTRY_DIR="$registry_dir" XDG_RUNTIME_DIR="$runtime_dir" GARDIVO_TIMING=1
export QTWEBENGINE_CHROMIUM_FLAGS="${QTWEBENGINE_CHROMIUM_FLAGS:---disable-gpu}"

"$program_dir/gardivo" 2>"$program_dir/gardivo.err" &
gardivo_pid=$!

. bench/process_tree.sh
# gardivo and every process it started (the web engine's).
footprint() {
    local pid
    memory "$gardivo_pid"
    if [ -n "${FOOTPRINT_DETAIL:-}" ]; then
        for pid in $(tree "$gardivo_pid"); do
            [ -r "/proc/$pid/smaps_rollup" ] || continue
            awk -v name="$(tr '\0' ' ' <"/proc/$pid/cmdline" | cut -c1-60)" '/^Rss:/ {r = $2} /^Pss:/ {p = $2}
                END { printf "      RSS %6.1f PSS %6.1f MiB  %s\n", r / 1024, p / 1024, name }' "/proc/$pid/smaps_rollup"
        done
    fi
}

for _ in $(seq 1 100); do
    grep -q "main page" "$program_dir/gardivo.err" 2>/dev/null && break
    sleep 0.1
done
grep "main page" "$program_dir/gardivo.err" || { echo "the main page never loaded" >&2; exit 1; }
sleep 5
printf 'after   5 s: '
footprint
for minute in $(seq 1 "$minutes"); do
    sleep 60
    printf 'after %3d min: ' "$minute"
    footprint
done
