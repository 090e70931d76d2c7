#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Tray mode with a panel on each edge of the screen (the work area a window manager would leave
# for it, set on the root window): the popover lies inside the available area, beside the panel
# that holds the item. It leaves a screenshot of the left panel's case.
# shellcheck source-path=SCRIPTDIR disable=SC2154 # e2e_begin sets the arguments' variables
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
e2e_begin popover-placement.sh "app_binary wm screenshot picture" "$@"
export QT_QPA_PLATFORM=xcb
e2e_own_config
e2e_on_exit() { "$wm" workarea none || true; }

set_workarea() { "$wm" workarea "$@" || fail "the work area could not be set"; }
click_item() { item_activate "$app" "$1" "$2" || fail "Activate failed"; }
# Whether the popover shows and passes the check $1 (of X, Y, WIDTH and HEIGHT, which this sets).
popover_passes() {
    local window
    window=$(xdotool search --onlyvisible --pid "$app" 2>/dev/null | head -n 1) || return 1
    [[ -n $window ]] || return 1
    eval "$(xdotool getwindowgeometry --shell "$window" 2>/dev/null)" || return 1
    "$1"
}
# Waits for the popover (already opening, or opened by a click at X Y) to pass CHECK; one opened
# before the app heard of a new work area is closed and opened again, twice at most. Then closes
# it by a click at X Y.
# Usage: open_placed NAME CHECK [X Y]
open_placed() {
    local name=$1 check=$2 attempt
    for ((attempt = 1; attempt <= 3; attempt++)); do
        if [[ $# -ge 4 ]]; then click_item "$3" "$4"; fi
        if within 5 popover_passes "$check"; then
            ok "$name: the popover at $X,$Y ${WIDTH}x$HEIGHT"
            return 0
        fi
        [[ $# -ge 4 ]] || break
        click_item "$3" "$4"
        within 5 no_window_of "$app" || break
    done
    fail "$name: the popover is at ${X:-?},${Y:-?} ${WIDTH:-?}x${HEIGHT:-?}"
}
close_by_click() {
    click_item "$1" "$2"
    expect 5 "a click on the item did not close the popover" no_window_of "$app"
}
# inside AX AY AW AH: the popover lies inside that available area.
inside() { ((X >= $1 && Y >= $2 && X + WIDTH <= $1 + $3 && Y + HEIGHT <= $2 + $4)); }
first_run_place() { inside 0 0 1280 760 && ((X + WIDTH == 1280 && Y + HEIGHT == 760)); }
left_panel_place() { inside 60 0 1220 800 && ((X == 60 && Y <= 400 && Y + HEIGHT >= 400)); }
right_panel_place() { inside 0 0 1220 800 && ((X + WIDTH == 1220 && Y + HEIGHT == 800)); }
top_panel_place() { inside 0 32 1280 768 && ((Y == 32)); }

set_workarea 0 0 1280 760
e2e_start app "$app_binary"
app=${e2e_pids[app]}
expect 10 "the status item did not register" item_listed "$app"
open_placed "bottom panel, first run: at the area's corner, above the panel" first_run_place
close_by_click 1250 780

set_workarea 60 0 1220 800
open_placed "left panel, item in the middle: right of it at the item's height" left_panel_place 30 400
"$screenshot" "$picture" || fail "no screenshot"
close_by_click 30 400

set_workarea 0 0 1220 800
open_placed "right panel, item at its bottom end: left of it, down at the item" right_panel_place 1250 795
close_by_click 1250 795

set_workarea 0 32 1280 768
open_placed "top panel: right under it" top_panel_place 1200 16
