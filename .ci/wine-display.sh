# Shared by the scripts that run the Windows program under Wine: the failure report, the
# polling wait and a virtual display. The sourcing script sets ci_name and work first.

fail() {
    echo "$ci_name: $*" >&2
    for f in "$work"/*.log; do
        [ -f "$f" ] && { echo "---- $(basename "$f")" >&2; tail -n 60 "$f" >&2; }
    done
    exit 1
}

# wait_for SECONDS WHAT COMMAND...: polls COMMAND every 0.2 s.
wait_for() {
    local seconds=$1 what=$2
    shift 2
    for _ in $(seq $((seconds * 5))); do
        "$@" && return 0
        sleep 0.2
    done
    fail "no $what after ${seconds} s"
}

# Xvfb on the first free display; its pid in xvfb, DISPLAY exported.
start_virtual_display() {
    local display=99
    while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do
        display=$((display + 1))
    done
    Xvfb ":$display" -screen 0 1280x800x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
    xvfb=$!
    export DISPLAY=":$display"
    wait_for 20 "virtual display" test -e "/tmp/.X11-unix/X$display"
}
