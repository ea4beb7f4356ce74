#!/usr/bin/env bash
# VELDAR on a real X desktop, driven as a user drives it: a virtual display (Xvfb) of its own,
# a window manager (openbox) and, where the test wants one, an XEmbed notification area
# (trayer). The program runs from a fresh folder beside a COM1 link to the device simulator;
# xdotool clicks and types, xwininfo and xprop tell what the window manager shows.
#
# Usage: desktop_test.sh PROGRAM DEVSIM TEST   (TEST: one of the test_* functions below)
# Exit status 77 (skipped) when one of the desktop tools is missing.
set -euo pipefail

program=$1
devsim=$2
test=$3

for tool in Xvfb openbox trayer xdotool xwininfo xprop; do
    if ! command -v "$tool" >/dev/null; then
        echo "skipped: $tool is not installed (./veldar.sh test installs it)"
        exit 77
    fi
done

work=$(mktemp -d)
pids=()
app=
cleanup() {
    local status=$?
    if [ "$status" -ne 0 ] && [ "$status" -ne 77 ]; then
        for log in "$work"/*.log; do
            [ -s "$log" ] && { echo "--- $(basename "$log")"; tail -n 30 "$log"; }
        done
    fi
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null || true
        wait "${pids[i]}" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAILED: $*" >&2
    exit 1
}

# Polls until the command succeeds, at most $1 seconds.
wait_until() {
    local limit=$1
    shift
    local deadline=$((SECONDS + limit))
    until "$@" 2>/dev/null; do
        [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.05
    done
}

# Nothing in the environment may lead Qt or the window manager elsewhere (a desktop session's
# D-Bus tray, its theme, the user's openbox configuration).
unset DBUS_SESSION_BUS_ADDRESS XDG_CURRENT_DESKTOP DESKTOP_SESSION QT_QPA_PLATFORMTHEME \
    XDG_CONFIG_HOME WAYLAND_DISPLAY
export HOME=$work/home XDG_RUNTIME_DIR=$work/runtime QT_QPA_PLATFORM=xcb
mkdir -p "$HOME" && mkdir -m 700 "$XDG_RUNTIME_DIR"

readonly ScreenWidth=1280 ScreenHeight=800 TrayHeight=24

work_area() { xprop -root _NET_WORKAREA | sed 's/.*= //; s/,//g' | cut -d' ' -f1-4; }

# Xvfb on a free display (it picks the number), then openbox and, with "tray", trayer along
# the bottom edge; returns once the window manager runs and the work area leaves the tray out.
start_desktop() {
    local display_file=$work/display fd
    exec {fd}>"$display_file"
    Xvfb -displayfd "$fd" -screen 0 "${ScreenWidth}x${ScreenHeight}x24" -nolisten tcp \
        >"$work/xvfb.log" 2>&1 &
    pids+=($!)
    exec {fd}>&-
    wait_until 10 test -s "$display_file" || fail "Xvfb did not start"
    export DISPLAY=:$(head -n 1 "$display_file")
    # Ready once it has started: a window mapped while it starts up may never be managed.
    openbox --startup "touch $work/openbox-ready" >"$work/openbox.log" 2>&1 &
    pids+=($!)
    wait_until 10 test -f "$work/openbox-ready" || fail "openbox did not start"
    if [ "${1:-}" = tray ]; then
        # A width of its own: sized to its icons, it would show only once one has come.
        trayer --edge bottom --align right --widthtype pixel --width 32 --height "$TrayHeight" \
            --SetDockType true --SetPartialStrut true >"$work/trayer.log" 2>&1 &
        pids+=($!)
        wait_until 15 eval '[ "$(work_area | cut -d" " -f4)" = $((ScreenHeight - TrayHeight)) ]' ||
            fail "the tray did not take its place: work area $(work_area)"
    fi
}

# The simulated device on COM1 beside a copy of the program: it answers the wake-up and the
# requests, and starts no dump by itself.
start_device() {
    mkdir -p "$work/app"
    cp "$program" "$work/app/veldar"
    "$devsim" --link-dir "$work/app" --com 1 --generate 3 --dumps 100 --timeout 0 \
        >"$work/devsim.log" 2>&1 &
    pids+=($!)
    wait_until 10 test -L "$work/app/COM1" || fail "the device simulator did not start"
}

start_program() {
    (cd "$work/app" && exec ./veldar) >"$work/veldar.log" 2>&1 &
    app=$!
    pids+=("$app")
    wait_until 15 main_window >/dev/null || fail "the main window was not created"
}

# Ends the program with "Quitter" or a signal and checks its exit status.
expect_exit_status_0() {
    local deadline=$((SECONDS + 15)) status=0
    while kill -0 "$app" 2>/dev/null; do
        [ "$SECONDS" -lt "$deadline" ] || fail "the program did not end"
        sleep 0.05
    done
    wait "$app" || status=$?
    [ "$status" -eq 0 ] || fail "the program ended with status $status"
}

main_window() { xdotool search --name '^VELDAR - Version' | head -n 1 | grep .; }

# Never an empty window id: xwininfo and xprop would wait for a click on the window instead.
winfo() { [ -n "$1" ] && xwininfo -id "$1"; }
# "x y width height" of a window's inside, on the screen.
window_geometry() {
    winfo "$1" | awk '/Absolute upper-left X/ { x = $NF } /Absolute upper-left Y/ { y = $NF }
                      /^ *Width:/ { w = $NF } /^ *Height:/ { h = $NF } END { print x, y, w, h }'
}
viewable() { winfo "$1" | grep -q 'Map State: IsViewable'; }
wm_state() { xprop -id "$1" WM_STATE | sed -n 's/.*window state: //p'; }
active_window() { printf '%d\n' "$(xprop -root _NET_ACTIVE_WINDOW | sed 's/.*# //')"; }

# The outer rectangle as "left top width height", frame included, once the window manager
# has framed the window.
frame_geometry() {
    local extents x y w h
    extents=$(xprop -id "$1" _NET_FRAME_EXTENTS | sed -n 's/.*= //p' | tr -d ,)
    [ -n "$extents" ] || return 1
    read -r fl fr ft fb <<<"$extents"
    [ "$ft" -gt 0 ] || return 1
    read -r x y w h <<<"$(window_geometry "$1")"
    echo "$((x - fl)) $((y - ft)) $((w + fl + fr)) $((h + ft + fb))"
}
outer_height_is() { [ "$(frame_geometry "$1" | cut -d' ' -f4)" = "$2" ]; }
# Collapsed, frame included, in the bottom-right corner of the work area.
collapsed_in_the_corner() {
    local left top width height wl wt ww wh
    read -r left top width height <<<"$(frame_geometry "$1")"
    read -r wl wt ww wh <<<"$(work_area)"
    [ "$height" = 106 ] && [ $((left + width)) -eq $((wl + ww)) ] &&
        [ $((top + height)) -eq $((wt + wh)) ]
}

# Waits until the window's outer geometry has stayed the same for a quarter of a second.
wait_settled() {
    local last="" now same=0 deadline=$((SECONDS + 10))
    while [ "$same" -lt 5 ]; do
        [ "$SECONDS" -lt "$deadline" ] || return 1
        now=$(frame_geometry "$1" || true)
        if [ -n "$now" ] && [ "$now" = "$last" ]; then same=$((same + 1)); else same=0; fi
        last=$now
        sleep 0.05
    done
}

# The middle of the program's icon in the tray.
tray_icon_xy() {
    local panel icon x y w h
    panel=$(xdotool search --onlyvisible --name '^panel$' | head -n 1)
    # Never an empty id: xwininfo would wait for a click on the window it should tell about.
    [ -n "$panel" ] || return 1
    icon=$(xwininfo -tree -id "$panel" | awk '/"VELDAR"/ { print $1; exit }')
    [ -n "$icon" ] || return 1
    read -r x y w h <<<"$(window_geometry "$icon")"
    echo "$((x + w / 2)) $((y + h / 2))"
}
tray_click() {
    local xy
    xy=$(tray_icon_xy) || fail "the icon is not in the tray"
    # shellcheck disable=SC2086
    xdotool mousemove $xy click "$@"
}

# A point of the window's client area, given relative to it.
click_in_window() {
    local window=$1 dx=$2 dy=$3
    shift 3
    local x y
    read -r x y _ <<<"$(window_geometry "$window")"
    xdotool mousemove $((x + dx)) $((y + dy)) click "$@"
}
double_click_logo() { click_in_window "$1" 290 56 --repeat 2 --delay 60 1; }

# The program's popup menu, when one is shown: its height. A menu is the program's only
# window that bypasses the window manager straight on the root window (the tray icon's sits
# in the tray).
shown_menu_height() {
    local w
    for w in $(xdotool search --onlyvisible --classname '^veldar$'); do
        if winfo "$w" | grep -q 'Override Redirect State: yes' &&
            xwininfo -children -id "$w" | grep -q 'Parent window id: .*(the root window)'; then
            window_geometry "$w" | cut -d' ' -f4
            return 0
        fi
    done
    return 1
}
no_menu_shown() { ! shown_menu_height >/dev/null; }

# The program has started and gone to the tray: the window manager has seen the window (it
# framed it) and it is hidden again.
# The program has started and gone to the tray: its window has been shown once (Qt stamps the
# user time on it just before) and is hidden again.
wait_in_tray() {
    local window=$1
    wait_until 10 tray_icon_xy >/dev/null || fail "the icon never reached the tray"
    # Only the one property: the icon's alone fills more than a pipe, and grep -q leaving
    # early would fail the pipeline.
    wait_until 15 eval 'xprop -id "$window" _NET_WM_USER_TIME | grep -q "= [0-9]" && ! viewable "$window"' ||
        fail "the program did not go to the tray"
}

# A right-click on the icon until the menu shows (a loaded machine may lose a click).
open_tray_menu() {
    local try
    for try in 1 2 3; do
        tray_click 3
        wait_until 3 shown_menu_height >/dev/null && return 0
    done
    fail "no menu on a right-click on the icon"
}

show_from_tray() {
    local window=$1 try
    wait_in_tray "$window"
    # The first showing may still be on its way out of the window manager: once more then.
    for try in 1 2 3; do
        tray_click --repeat 2 --delay 60 1
        wait_until 3 viewable "$window" && return 0
    done
    fail "a double-click on the icon did not show the window"
}

# --- the tests, one for each fault they mend ---

# Item 1: a right-click on the icon while the program waits for a file name shows nothing, and
# the first right-click after the wait shows the whole menu again, "Quitter" included.
test_item1_tray_menu_after_the_name_wait() {
    start_desktop tray
    start_device
    start_program
    local window height
    window=$(main_window)
    wait_in_tray "$window"
    open_tray_menu
    height=$(shown_menu_height)
    # "Montrer", then a dump started by a double-click on the CTS lamp; the device sends no
    # header, so the program waits for a typed name.
    xdotool key Up Up Return
    wait_until 10 viewable "$window" || fail "Montrer did not show the window"
    wait_until 10 no_menu_shown || fail "the menu stayed"
    click_in_window "$window" 36 44 --repeat 2 --delay 60 1
    # Focus away (a click on the desktop): the program takes it back just before the wait.
    xdotool mousemove 5 5 click 1
    wait_until 15 grep -q 'tx: OVER' "$work/devsim.log" || fail "no dump"
    wait_until 10 eval '[ "$(active_window)" = "$window" ]' || fail "the wait did not begin"

    tray_click 3
    if wait_until 1 shown_menu_height >/dev/null; then fail "a menu during the name wait"; fi
    # Whatever popped up unseen gives way.
    xdotool key Escape

    click_in_window "$window" 197 64 1 # "Ok"
    wait_until 10 test -f "$work/app/Recup.txt" || fail "the capture was not saved"
    wait_until 10 eval '! viewable "$window"' || fail "the window did not go back to the tray"
    tray_click 3
    wait_until 5 shown_menu_height >/dev/null || fail "no menu after the name wait"
    [ "$(shown_menu_height)" = "$height" ] ||
        fail "the menu after the wait is $(shown_menu_height) high, $height before"
    xdotool key Up Return # "Quitter"
    expect_exit_status_0
}

# Item 2: without a notification area the window is an ordinary window, on screen in its
# corner at every start (nothing else would show it), says so on stderr, is minimised when
# closed, and offers the tray menu on a right-click.
test_item2_no_tray_at_start() {
    start_desktop
    start_device
    local start window
    for start in 1 2 3; do
        start_program
        window=$(main_window)
        # Nowhere else to be found: on screen, not minimised.
        wait_until 10 viewable "$window" ||
            fail "start $start: the window is not on screen (WM_STATE: $(wm_state "$window"))"
        wait_until 10 collapsed_in_the_corner "$window" ||
            fail "start $start: at $(frame_geometry "$window"), work area $(work_area)"
        xprop -id "$window" _NET_WM_WINDOW_TYPE | grep -q '= _NET_WM_WINDOW_TYPE_NORMAL$' ||
            fail "start $start: not an ordinary window: $(xprop -id "$window" _NET_WM_WINDOW_TYPE)"
        wait_until 5 grep -q 'zone de notification' "$work/veldar.log" ||
            fail "start $start: nothing said on stderr"
        [ "$(grep -c 'zone de notification' "$work/veldar.log")" = 1 ] ||
            fail "start $start: said more than once"
        if [ "$start" = 1 ]; then
            click_in_window "$window" 120 50 3
            wait_until 5 shown_menu_height >/dev/null || fail "no menu on the window"
            xdotool key Escape
            wait_until 5 no_menu_shown || fail "the menu stayed"
            xdotool windowactivate --sync "$window" key alt+F4
            wait_until 10 eval '[ "$(wm_state "$window")" = Iconic ]' ||
                fail "closed, the window is not minimised again"
        fi
        kill -TERM "$app"
        expect_exit_status_0
    done
}

# Item 3: the window manager is asked for a close button only; a window it minimises anyway
# comes back, restored and active, by a double-click on the icon and by "Montrer".
test_item3_a_minimised_window_comes_back() {
    start_desktop tray
    start_device
    start_program
    local window hints
    window=$(main_window)
    show_from_tray "$window"
    # _MOTIF_WM_HINTS: flags, functions, decorations; no minimise function (8) nor button (32).
    hints=$(xprop -id "$window" _MOTIF_WM_HINTS | sed 's/.*= //; s/,//g')
    read -r _ functions decorations _ <<<"$hints"
    [ $((functions & 8)) -eq 0 ] && [ $((decorations & 32)) -eq 0 ] ||
        fail "a minimise button is asked for: $hints"

    xdotool windowminimize "$window"
    wait_until 10 eval '[ "$(wm_state "$window")" = Iconic ]' || fail "not minimised"
    tray_click --repeat 2 --delay 60 1
    wait_until 10 eval '[ "$(wm_state "$window")" = Normal ] && viewable "$window"' ||
        fail "a double-click on the icon did not bring the minimised window back"
    wait_until 10 eval '[ "$(active_window)" = "$window" ]' || fail "restored, not active"

    xdotool windowminimize "$window"
    wait_until 10 eval '[ "$(wm_state "$window")" = Iconic ]' || fail "not minimised"
    open_tray_menu
    xdotool key Up Up Return # "Montrer"
    wait_until 10 eval '[ "$(wm_state "$window")" = Normal ] && viewable "$window"' ||
        fail "Montrer did not bring the minimised window back"
}

# Item 6: at the first showing the outer height is 106, frame included, and the window sits in
# the bottom-right corner of the work area; the two heights are exact every time.
test_item6_collapsed_height_at_the_first_show() {
    start_desktop tray
    start_device
    start_program
    local window round
    window=$(main_window)
    show_from_tray "$window"
    wait_until 10 collapsed_in_the_corner "$window" ||
        fail "outer geometry at the first show: $(frame_geometry "$window"), work area $(work_area)"
    for round in 1 2; do
        double_click_logo "$window"
        wait_until 10 outer_height_is "$window" 450 ||
            fail "expanded ($round): $(frame_geometry "$window")"
        double_click_logo "$window"
        wait_until 10 outer_height_is "$window" 106 ||
            fail "collapsed ($round): $(frame_geometry "$window")"
    done
    xdotool windowactivate --sync "$window" key alt+F4
    wait_until 10 eval '! viewable "$window"' || fail "the close button did not hide the window"
    show_from_tray "$window"
    wait_until 10 outer_height_is "$window" 106 || fail "shown again: $(frame_geometry "$window")"
}

# Item 7: expanded at its place at the bottom of the work area, the window keeps its bottom
# edge there and comes back to its place when collapsed; higher up its top-left corner stays.
test_item7_the_expanded_window_stays_on_the_screen() {
    start_desktop tray
    start_device
    start_program
    local window before after wl wt ww wh
    window=$(main_window)
    show_from_tray "$window"
    wait_settled "$window" || fail "the window does not come to rest: $(frame_geometry "$window")"
    read -r wl wt ww wh <<<"$(work_area)"
    before=$(frame_geometry "$window")
    read -r left top _ height <<<"$before"

    double_click_logo "$window"
    wait_until 10 eval '[ "$(frame_geometry "$window" | cut -d" " -f4)" -gt 300 ]' &&
        wait_settled "$window" || fail "expanded: $(frame_geometry "$window")"
    read -r eleft etop _ eheight <<<"$(frame_geometry "$window")"
    [ $((etop + eheight)) -eq $((top + height)) ] && [ "$eleft" -eq "$left" ] ||
        fail "the bottom edge moved: $before, expanded $eleft $etop $eheight"
    [ $((etop + eheight)) -le $((wt + wh)) ] || fail "below the work area"
    [ "$eheight" = 450 ] || fail "expanded to $eheight"
    double_click_logo "$window"
    wait_until 10 outer_height_is "$window" 106 || fail "collapsed: $(frame_geometry "$window")"
    wait_until 5 eval '[ "$(frame_geometry "$window")" = "$before" ]' ||
        fail "collapsed at $(frame_geometry "$window"), was at $before"

    # Room below: the top-left corner stays.
    xdotool windowmove "$window" 300 100
    wait_until 10 eval '[ "$(frame_geometry "$window" | cut -d" " -f1-2)" != "$left $top" ]' ||
        fail "the window did not move"
    after=$(frame_geometry "$window")
    double_click_logo "$window"
    wait_until 10 outer_height_is "$window" 450 || fail "expanded: $(frame_geometry "$window")"
    [ "$(frame_geometry "$window" | cut -d' ' -f1-2)" = "$(cut -d' ' -f1-2 <<<"$after")" ] ||
        fail "the top-left corner moved: $after, expanded $(frame_geometry "$window")"
}

# Item 8: a box waits for an answer (the port did not open at start) while the technician
# quits from the tray: the box goes, the program ends with 0 and writes its settings.
test_item8_quit_from_the_tray_while_a_box_is_open() {
    start_desktop tray
    mkdir -p "$work/app"
    cp "$program" "$work/app/veldar"
    # A port no machine has: its open fails and the box waits.
    printf '[PORT_COMM]\r\nCOM77\r\n[CHEMIN_DESTINATION]\r\n%s\r\n[VOIR_DONNEES]\r\n0\r\n[NOM_FIC_AUTO]\r\n0\r\n[ECRASER_FICHIER]\r\n0\r\n' \
        "$work/app" >"$work/app/VELDAR.ini"
    touch -d '2000-01-01' "$work/app/VELDAR.ini"
    start_program
    local box
    wait_until 15 eval 'box=$(xdotool search --onlyvisible --name "^VELDAR$" | head -n 1); [ -n "$box" ]' ||
        fail "no box for the port that did not open"
    wait_until 10 tray_icon_xy >/dev/null || fail "the icon is not in the tray"
    tray_click 3
    wait_until 5 shown_menu_height >/dev/null || fail "no menu while the box is open"
    xdotool key Up Return # "Quitter"
    expect_exit_status_0
    [ -n "$(find "$work/app/VELDAR.ini" -newermt '2001-01-01')" ] ||
        fail "VELDAR.ini was not written"
}

# Item 9: a panel appears after the start (the tray here): the window the user never moved
# goes above it, into the corner of the area left.
test_item9_a_panel_that_comes_later_pushes_the_window_up() {
    start_desktop
    start_device
    start_program
    local window
    window=$(main_window)
    wait_until 10 viewable "$window" || fail "the window is not on screen"
    wait_until 10 collapsed_in_the_corner "$window" ||
        fail "at $(frame_geometry "$window"), work area $(work_area)"
    trayer --edge bottom --align right --widthtype pixel --width 32 --height "$TrayHeight" \
        --SetDockType true --SetPartialStrut true >"$work/trayer.log" 2>&1 &
    pids+=($!)
    wait_until 15 eval '[ "$(work_area | cut -d" " -f4)" = $((ScreenHeight - TrayHeight)) ]' ||
        fail "the panel did not take its place: work area $(work_area)"
    wait_until 10 collapsed_in_the_corner "$window" ||
        fail "at $(frame_geometry "$window") under the panel, work area $(work_area)"
    kill -TERM "$app"
    expect_exit_status_0
}

# Item 10: at a scale of 2 the folder dialog opens in the middle of the screen.
test_item10_the_folder_dialog_in_the_middle_at_scale_2() {
    export QT_SCALE_FACTOR=2
    start_desktop tray
    start_device
    start_program
    wait_until 10 tray_icon_xy >/dev/null || fail "the icon is not in the tray"
    sleep 1
    tray_click 3
    wait_until 5 shown_menu_height >/dev/null || fail "no menu"
    xdotool key Up Up Up Return # "Enregistrer sous..."
    local dialog x y w h
    wait_until 10 eval 'dialog=$(xdotool search --onlyvisible --name "lection du r" | head -n 1); [ -n "$dialog" ]' ||
        fail "no folder dialog"
    sleep 0.5
    read -r x y w h <<<"$(window_geometry "$dialog")"
    local dx=$((x + w / 2 - ScreenWidth / 2)) dy=$((y + h / 2 - ScreenHeight / 2))
    [ "${dx#-}" -le 10 ] && [ "${dy#-}" -le 10 ] ||
        fail "the dialog's centre is $dx, $dy px from the screen's ($x $y $w $h)"
    xdotool key Escape
    kill -TERM "$app"
    expect_exit_status_0
}

"test_$test"
echo "passed: $test"
