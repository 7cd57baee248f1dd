# Sourced by the scripts that need a display when there is none.
#   start_private_xvfb WIDTHxHEIGHTxDEPTH
# Starts Xvfb on a display number it picks itself (no clash with a server already running),
# waits until it accepts clients, exports DISPLAY and sets xvfb_pid. -noreset keeps the server
# up between clients: a test starting just as the previous one left would otherwise find it
# resetting and fail to connect.
start_private_xvfb() {
    local screen=$1 number_file
    number_file=$(mktemp)
    Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp -noreset 3>"$number_file" >/dev/null 2>&1 &
    xvfb_pid=$!
    local tries=0
    while [ ! -s "$number_file" ]; do
        if ! kill -0 "$xvfb_pid" 2>/dev/null || [ $((tries += 1)) -gt 200 ]; then
            rm -f "$number_file"
            echo "Xvfb did not start" >&2
            return 1
        fi
        sleep 0.05
    done
    export DISPLAY=":$(head -n 1 "$number_file")"
    rm -f "$number_file"
}
