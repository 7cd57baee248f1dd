#!/usr/bin/env bash
# An installed copy used by an ordinary account: cmake --install into a temporary prefix, the
# files a desktop needs (checked with the desktop's own validators), then the installed programs
# run as an unprivileged account (nobody, uid 65534, when this runs as root; else the current
# user) in two homes side by side:
#   gardivo-setup saves its settings in the user's folders (OK pressed through its endpoint),
#   gardivo-monitor watches the Test Pattern and keeps evidence and history there,
#   gardivo starts on a private X display with the browser's sandbox on.
# Nothing may be written under the prefix: its listing before and after is the same.
#   scripts/install_test.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
work=$(mktemp -d)
prefix="$work/prefix"
xvfb_pid=""
cleanup() {
    pkill -P $$ 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    # A program that is still ending may write a last file as the folder goes.
    for _ in $(seq 1 20); do
        rm -rf "$work" 2>/dev/null && break
        sleep 0.25
    done
    return 0
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

cmake --install "$build" --prefix "$prefix" >/dev/null
for f in bin/gardivo bin/gardivo-setup bin/gardivo-monitor \
    lib/gardivo/gardivo lib/gardivo/cfgwiz lib/gardivo/email lib/gardivo/gardivo-monitor \
    lib/gardivo/libgsttrv2filter.so lib/gardivo/libdeinterlace.so lib/gardivo/libgstgardivotestsrc.so \
    lib/gardivo/skins/default/skin.htm lib/gardivo/Info/einfo.txt lib/gardivo/help/help.htm \
    lib/gardivo/sources.txt lib/gardivo/installed lib/gardivo/gardivo.png \
    share/applications/gardivo.desktop share/applications/gardivo-setup.desktop \
    share/icons/hicolor/64x64/apps/gardivo.png share/metainfo/org.tavrin.gardivo.metainfo.xml \
    share/man/man1/gardivo.1 share/man/man1/gardivo-setup.1 share/man/man1/gardivo-monitor.1 \
    lib/systemd/user/gardivo-monitor@.service; do
    [ -e "$prefix/$f" ] || fail "the installed copy has no $f"
done
desktop-file-validate "$prefix"/share/applications/*.desktop || fail "desktop entries"
appstreamcli validate --no-net --pedantic "$prefix/share/metainfo/org.tavrin.gardivo.metainfo.xml" >/dev/null ||
    fail "AppStream metadata"
if command -v systemd-analyze >/dev/null; then
    mkdir -m 700 "$work/units"
    cp "$prefix/lib/systemd/user/gardivo-monitor@.service" "$work/units/gardivo-monitor@front-door.service"
    MANPATH="$prefix/share/man:" XDG_RUNTIME_DIR="$work/units" \
        systemd-analyze verify --user "$work/units/gardivo-monitor@front-door.service" || fail "the user service"
fi
grep -q "^ExecStart=$prefix/bin/gardivo-monitor --start --source %i$" \
    "$prefix/lib/systemd/user/gardivo-monitor@.service" || fail "the service names another program"

# The account the programs run as, and what it may read.
chmod -R go+rX "$work"
listing() { (cd "$prefix" && find . -printf '%p %s %m %T@\n' | sort); }
listing >"$work/before"
if [ "$(id -u)" -eq 0 ]; then
    user_id=65534
else
    user_id=$(id -u)
fi
make_home() {
    mkdir -p "$1/run"
    chmod 700 "$1/run"
    [ "$(id -u)" -eq 0 ] && chown -R 65534:65534 "$1"
    return 0
}
# Runs a command as the account with the given home and nothing of this shell's own settings.
as_user() {
    local home=$1
    shift
    local run=(env -u TAVRIN_REGISTRY_DIR -u XDG_CONFIG_HOME -u XDG_DATA_HOME -u XDG_STATE_HOME
        -u GARDIVO_INSTANCE -u QTWEBENGINE_DISABLE_SANDBOX -u QTWEBENGINE_CHROMIUM_FLAGS
        HOME="$home" XDG_RUNTIME_DIR="$home/run" "$@")
    if [ "$(id -u)" -eq 0 ]; then
        setpriv --reuid=65534 --regid=65534 --clear-groups "${run[@]}"
    else
        "${run[@]}"
    fi
}

. scripts/private_xvfb.sh
start_private_xvfb 1280x1024x24
home1="$work/home1"
home2="$work/home2"
make_home "$home1"
make_home "$home2"

# 1. The setup saves into the user's own folder; OK comes through its endpoint as another
#    program would press it, and the question that follows is answered "no".
as_user "$home1" env GARDIVO_ANSWER=no "$prefix/bin/gardivo-setup" >"$work/setup.out" 2>&1 &
setup_pid=$!
for _ in $(seq 1 100); do
    as_user "$home1" "$build/tests/endpoint_probe" exists TfrmSetup && break
    sleep 0.1
done
as_user "$home1" "$build/tests/endpoint_probe" post TfrmSetup 0x825C 0 0 >/dev/null || fail "the setup's endpoint"
for _ in $(seq 1 100); do
    kill -0 "$setup_pid" 2>/dev/null || break
    sleep 0.1
done
kill -0 "$setup_pid" 2>/dev/null && fail "the setup did not end after OK: $(cat "$work/setup.out")"
[ "$(stat -c %s "$home1/.config/gardivo/watchdog.cfg" 2>/dev/null)" = 1416 ] ||
    fail "the setup saved no settings in the user's folder: $(cat "$work/setup.out")"

# 2. The monitor watches the Test Pattern (a figure walks in after five seconds) in both homes.
for home in "$home1" "$home2"; do
    as_user "$home" "$prefix/bin/gardivo-monitor" --start --seconds 14 >"$work/monitor.out" 2>&1 ||
        fail "gardivo-monitor: $(cat "$work/monitor.out")"
    grep -q "^history:  $home/.local/share/gardivo/watchdog.mdb$" "$work/monitor.out" ||
        fail "the history is not in the user's folder: $(cat "$work/monitor.out")"
    ls "$home"/Gardivo/*/*.bmp >/dev/null 2>&1 || fail "no evidence in $home/Gardivo: $(cat "$work/monitor.out")"
    [ -s "$home/.local/share/gardivo/watchdog.mdb" ] || fail "no history in $home"
    [ -s "$home/.config/gardivo/sources.txt" ] || fail "no sources.txt of the user's own in $home"
done
# Each home's history holds its own evidence only.
grep -q "$home1/Gardivo" "$home1/.local/share/gardivo/watchdog.mdb" || fail "home1's history"
grep -q "$home2/Gardivo" "$home1/.local/share/gardivo/watchdog.mdb" && fail "home2's evidence in home1's history"
grep -q "$home2/Gardivo" "$home2/.local/share/gardivo/watchdog.mdb" || fail "home2's history"

# 3. The windowed program starts with the browser's sandbox on.
as_user "$home2" env DISPLAY="$DISPLAY" GARDIVO_TIMING=1 "$prefix/bin/gardivo" >"$work/gardivo.out" 2>&1 &
gardivo_pid=$!
for _ in $(seq 1 200); do
    grep -q "main page loaded" "$work/gardivo.out" && break
    sleep 0.1
done
grep -q "main page loaded" "$work/gardivo.out" || fail "gardivo showed no page: $(tail -20 "$work/gardivo.out")"
engine=$(pgrep -P "$(pgrep -P $gardivo_pid -x gardivo || echo $gardivo_pid)" -f QtWebEngineProcess || true)
[ -z "$engine" ] && engine=$(pgrep -f "QtWebEngineProcess.*$home2" || pgrep -u "$user_id" -f QtWebEngineProcess || true)
[ -n "$engine" ] || fail "no web engine process"
for pid in $engine; do
    tr '\0' ' ' <"/proc/$pid/cmdline" | grep -q -- "--no-sandbox" && fail "a web engine process without the sandbox"
done
kill -TERM $gardivo_pid
wait $gardivo_pid 2>/dev/null || true
# Its web engine processes end with it.
for _ in $(seq 1 50); do
    alive=""
    for pid in $engine; do
        kill -0 "$pid" 2>/dev/null && alive=1
    done
    [ -z "$alive" ] && break
    sleep 0.1
done

listing >"$work/after"
diff "$work/before" "$work/after" >&2 || fail "something was written under the prefix"
echo "installed copy: files, desktop entries, setup, monitor and windows as an ordinary account (uid $user_id): ok"
