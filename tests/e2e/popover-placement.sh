#!/usr/bin/env bash
# End to end inside the private desktop session, in tray mode, with panels on each edge of the
# screen: the session has no window manager, so the test sets the work area one would leave for
# its panels (_NET_WORKAREA on the root window, which Qt reads as the screen's available
# geometry). Each time the popover's window must lie inside the available area, beside the panel
# that holds the item:
#  - a bottom panel: the first run opens the popover by itself at its bottom-right corner, above
#    the panel;
#  - a left panel, the item in its middle: right of the panel, around the item's height;
#  - a right panel, the item at its bottom end: left of the panel, its bottom on the area's;
#  - a top panel: under it.
# It leaves a screenshot of the left panel's case, and the whole screen available afterwards.
set -euo pipefail

# shellcheck source=tests/e2e/session.sh
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
e2e_require_session popover-placement.sh "ZORVIKMAC WINDOW_MANAGER_TOOL SCREENSHOT_TOOL SCREENSHOT" "$@"
app_binary=$1
wm=$2
screenshot=$3
picture=$4
export QT_QPA_PLATFORM=xcb
# Settings of its own, so this is a first run whatever ran before in the session.
XDG_CONFIG_HOME=$(mktemp -d -p "$ZORVIK_SESSION_DIR" placement-config.XXXXXX)
export XDG_CONFIG_HOME
log=$(mktemp -p "$ZORVIK_SESSION_DIR" placement.XXXXXX)
app=""

fail() {
    echo "FAIL: $*"
    echo "--- the app's log"
    cat "$log"
    e2e_describe_stuck "$app"
    exit 1
}
cleanup() {
    [[ -n $app ]] && kill "$app" 2>/dev/null && wait "$app" 2>/dev/null
    "$wm" workarea none || true
}
trap cleanup EXIT

# Sets the work area (X Y WIDTH HEIGHT) and gives the app a moment to hear of it: Qt follows the
# root window's property as it changes.
set_workarea() {
    "$wm" workarea "$@" || fail "the work area could not be set"
    sleep 0.5
}
item() {
    gdbus call --session -d org.kde.StatusNotifierWatcher -o /StatusNotifierWatcher \
        -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher \
        RegisteredStatusNotifierItems 2>/dev/null | grep -o "org.kde.StatusNotifierItem-$app-[0-9]*" | head -n 1
}
# A click on the item at X Y, as the panel reports it.
click_item() {
    gdbus call --session -d "$item_name" -o /StatusNotifierItem \
        -m org.kde.StatusNotifierItem.Activate "$1" "$2" >/dev/null || fail "Activate failed"
}
no_window() { [[ -z $(xdotool search --onlyvisible --pid "$app" 2>/dev/null) ]]; }
# Sets X, Y, WIDTH and HEIGHT to the popover's window, once it shows.
read_popover() {
    local window
    window=$(e2e_visible_window "$app" 5) || fail "$1: the popover did not open"
    # A moment for the placement after the content has measured itself.
    sleep 0.3
    window=$(e2e_visible_window "$app" 5) || fail "$1: the popover went away"
    eval "$(xdotool getwindowgeometry --shell "$window")"
    echo "$1: popover at $X,$Y ${WIDTH}x$HEIGHT"
}
# inside AX AY AW AH: the popover lies inside that available area.
inside() {
    ((X >= $1 && Y >= $2 && X + WIDTH <= $1 + $3 && Y + HEIGHT <= $2 + $4))
}

set_workarea 0 0 1280 760
"$app_binary" >"$log" 2>&1 &
app=$!
within 10 bash -c "[[ -n \$(gdbus call --session -d org.kde.StatusNotifierWatcher -o /StatusNotifierWatcher -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher RegisteredStatusNotifierItems 2>/dev/null | grep -o 'StatusNotifierItem-$app-') ]]" ||
    fail "the status item did not register"
item_name=$(item)

read_popover "bottom panel, first run"
inside 0 0 1280 760 || fail "the first-run popover is not inside the area above a bottom panel"
((X + WIDTH == 1280 && Y + HEIGHT == 760)) ||
    fail "the first-run popover is not at the bottom-right corner above the panel"
echo "ok: with a bottom panel the first run opens the popover at its corner, above the panel"
click_item 1250 780
within 5 no_window || fail "a click on the item did not close the popover"

set_workarea 60 0 1220 800
click_item 30 400
read_popover "left panel, item in the middle"
inside 60 0 1220 800 || fail "the popover is not inside the area beside a left panel"
((X == 60 && Y <= 400 && Y + HEIGHT >= 400)) ||
    fail "the popover is not right of the left panel at the item's height"
"$screenshot" "$picture" || fail "no screenshot"
echo "ok: with a left panel the popover opens beside it at the item's height (screenshot: $picture)"
click_item 30 400
within 5 no_window || fail "a click on the item did not close the popover"

set_workarea 0 0 1220 800
click_item 1250 795
read_popover "right panel, item at its bottom end"
inside 0 0 1220 800 || fail "the popover is not inside the area beside a right panel"
((X + WIDTH == 1220 && Y + HEIGHT == 800)) ||
    fail "the popover is not left of the right panel, down at the item"
echo "ok: with a right panel and the item at its bottom end the popover opens left of it, inside the screen"
click_item 1250 795
within 5 no_window || fail "a click on the item did not close the popover"

set_workarea 0 32 1280 768
click_item 1200 16
read_popover "top panel"
inside 0 32 1280 768 || fail "the popover is not inside the area under a top panel"
((Y == 32)) || fail "the popover does not open right under the top panel"
echo "ok: with a top panel the popover opens under it"
