#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Xfce 4.18 (see xfce-host.sh) runs the tray app: the panel draws its item (and none once it quit),
# the tooltip and xfce4-notifyd's notification hold the code and Copy puts it back, and a click
# opens the popover against a top and a bottom panel. It leaves SCREENSHOT and *-panel/popover-*.png.
# shellcheck source-path=SCRIPTDIR disable=SC2154 # e2e_begin sets the arguments' variables
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
source "$e2e_here/xfce-host.sh"
e2e_begin xfce-journey.sh "app_binary phone screenshot picture" "$@"
trap 'echo "FAIL: line $LINENO: $BASH_COMMAND"' ERR
xfce_require
export QT_QPA_PLATFORM=xcb
# A returning user: the first-run popover would hide the panel's end.
e2e_own_config
e2e_returning_user
code=482913
label="482 913"
start=$SECONDS
# Crops of the screen that the checks look at, out of the logs that are searched for the code.
work=$(mktemp -d -p "$ZORVIK_SESSION_DIR" xfce-work.XXXXXX)
e2e_on_exit() {
    set +e
    trap - ERR
    # The pointer off the panel, so that no tooltip of it stays for the next test's screenshots.
    xdotool mousemove 640 400 2>/dev/null
    xfce_stop
    e2e_reset_session "$phone"
}

screen_shot() { "$screenshot" "$@" || fail "no screenshot: $*"; }
# Prints what the command after it prints once it succeeds, asking again for up to 5 s: a window
# the panel lays out again for a moment is not found where it was.
settled() {
    local i output
    for ((i = 0; i < 100; i++)); do
        if output=$("$@"); then
            ((i == 0)) || echo "note: $* answered after $i tries" >&2
            echo "$output"
            return 0
        fi
        sleep 0.05
    done
    return 1
}
# A click as a hand makes it: xdotool's own click releases the button before the program under
# the pointer has seen the press.
click_at() {
    xdotool mousemove "$1" "$2" mousedown 1
    sleep 0.1
    xdotool mouseup 1
}
tooltip_holds_code() { [[ $(item_property "$app" ToolTip) == *"'$label')>,)" ]]; }
# The pixels of the tray plugin's window that stand out from the panel.
tray_pixels() {
    local x y w h
    read -r x y w h <<<"$(xfce_tray_rect)" && [[ -n $h ]] || return 1
    "$screenshot" "$work/tray.png" "$x" "$y" "$w" "$h" >/dev/null 2>&1 || return 1
    xfce_drawn_pixels "$work/tray.png"
}
# An icon of 16 px or more: a few dozen pixels at least.
tray_shows_item() { local pixels; pixels=$(tray_pixels) && ((pixels >= 30)); }
tray_shows_nothing() { local pixels; pixels=$(tray_pixels) && ((pixels == 0)); }
tray_centre() {
    local x y w h
    read -r x y w h <<<"$(xfce_tray_rect)" && [[ -n $h ]] || return 1
    echo "$((x + w / 2)) $((y + h / 2))"
}
notification_window() { xdotool search --onlyvisible --classname '^xfce4-notifyd$' 2>/dev/null | head -n 1 | grep .; }
a_notification_shows() { notification_window >/dev/null; }
no_notification_shows() { ! a_notification_shows; }
# The panel's calls of Activate on the item, as the bus carried them.
activations() { grep -c "member=Activate" "$logs/activations.log" || true; }
activated_since() { (($(activations) > $1)); }
app_window() { xdotool search --onlyvisible --pid "$app" 2>/dev/null | head -n 1; }
app_window_shows() { [[ -n $(app_window) ]]; }
item_gone() { ! item_listed "$app"; }
popover_rect() { xfce_window_rect "$(app_window)"; }
click_tray() {
    local centre
    centre=$(settled tray_centre) || fail "the tray plugin has no window in the panel"
    # shellcheck disable=SC2086 # x and y
    click_at $centre
}
# Clicks the item and checks the popover against the panel at $1 (top or bottom): 4 px from its
# edge at most, not over it, over the item, and inside the screen.
popover_against_panel() {
    local edge=$1 rect panel centre x y w h px py pw ph cx cy problems=()
    click_tray
    e2e_visible_window "$app" 5 >/dev/null || fail "a click on the item in the $edge panel opened no popover"
    rect=$(steady popover_rect) || fail "the popover did not settle in one place"
    panel=$(settled xfce_panel_rect) || fail "the panel's window is gone"
    centre=$(settled tray_centre) || fail "the tray plugin has no window in the panel"
    read -r x y w h <<<"$rect"
    read -r px py pw ph <<<"$panel"
    read -r cx cy <<<"$centre"
    if [[ $edge == top ]]; then
        ((y >= py + ph)) || problems+=("its top $y is over the panel, whose bottom is $((py + ph))")
        ((y - (py + ph) <= 4)) || problems+=("its top is $((y - py - ph)) px below the panel")
    else
        ((y + h <= py)) || problems+=("its bottom $((y + h)) is over the panel, whose top is $py")
        ((py - (y + h) <= 4)) || problems+=("its bottom is $((py - y - h)) px above the panel")
    fi
    ((x <= cx && cx < x + w)) || problems+=("the item's centre x $cx is not over it")
    ((x >= 0 && y >= 0 && x + w <= 1280 && y + h <= 800)) || problems+=("it leaves the screen")
    ((${#problems[@]} == 0)) ||
        fail "$edge panel at $px,$py ${pw}x$ph, popover at $x,$y ${w}x$h: $(IFS=';' && echo "${problems[*]}")"
    screen_shot "${picture%.png}-popover-$edge.png"
    ok "a click on the item opens the popover against the $edge panel at $px,$py ${pw}x$ph, item centre $cx,$cy: popover at $x,$y ${w}x$h"
}

xfce_start top
ok "xfwm4, xfce4-panel $(xfce_run xfce4-panel --version 2>/dev/null | head -n 1 | awk '{print $2}') (its tray plugin the tray watcher) and xfce4-notifyd are up ($((SECONDS - start)) s)"
server=$(bus_call -d org.freedesktop.Notifications -o /org/freedesktop/Notifications \
    -m org.freedesktop.Notifications.GetServerInformation)
[[ $server == "('Xfce Notify Daemon', 'Xfce', "* ]] || fail "the notification server is $server"
capabilities=$(bus_call -d org.freedesktop.Notifications -o /org/freedesktop/Notifications \
    -m org.freedesktop.Notifications.GetCapabilities)
[[ $capabilities == *"'actions'"* ]] || fail "xfce4-notifyd offers no actions: $capabilities"
within 5 tray_shows_nothing || fail "the tray shows something before the app runs ($(tray_pixels || echo "no") pixels)"

store_sync_key
# Started as from an Xfce session's menu; Qt then draws with its GTK theme. NO_AT_BRIDGE keeps
# GTK's accessibility bridge from starting a bus of its own that would outlive the test.
e2e_start app env XDG_CURRENT_DESKTOP=XFCE XDG_SESSION_DESKTOP=xfce DESKTOP_SESSION=xfce \
    XDG_SESSION_TYPE=x11 NO_AT_BRIDGE=1 "$app_binary" --log-to-stderr
app=${e2e_pids[app]}
e2e_start activations dbus-monitor --session "type='method_call',interface='org.kde.StatusNotifierItem',member='Activate'"
expect 15 "the app did not start" logged app "subscription saved"
expect 10 "the app's item did not register with the panel's tray" item_listed "$app"
within 10 tray_shows_item ||
    fail "the panel does not draw the app's item (tray $(xfce_tray_rect || echo none), $(tray_pixels || echo "no") pixels)"
screen_shot "${picture%.png}-panel.png" 0 0 1280 40
ok "the panel draws the app's item $(item_of "$app") in its tray at $(xfce_tray_rect) ($(tray_pixels) pixels)"

no_notification_shows || fail "a notification shows before any code was sent"
send_code "$code" 60
within 10 tooltip_holds_code || fail "the item's tooltip does not hold the code: $(item_property "$app" ToolTip)"
ok "the item's tooltip holds the code: $(item_property "$app" ToolTip)"
expect 10 "no notification came through xfce4-notifyd" a_notification_shows
within 5 clipboard_is "$code" || fail "the code did not reach the clipboard: '$(clipboard)'"
ok "the code's notification came through xfce4-notifyd ($(xfce_window_rect "$(notification_window)")) and the code is on the clipboard"

# Hovering the item shows the panel's tooltip: a window of the tray plugin off the panel, near
# the item.
centre=$(settled tray_centre) || fail "the tray plugin has no window in the panel"
read -r cx cy <<<"$centre"
xdotool mousemove "$cx" "$cy"
within 5 xfce_window_of "$(xfce_tray_pid)" outside >/dev/null || fail "hovering the item showed no tooltip"
tooltip=$(settled xfce_window_of "$(xfce_tray_pid)" outside) || fail "the tooltip went away"
read -r _ tx ty tw th <<<"$tooltip"
((tx <= cx + 16 && cx - 16 < tx + tw)) || fail "the tooltip at $tx,$ty ${tw}x$th is not at the item's x $cx"
screen_shot "$picture"
ok "hovering the item shows the panel's tooltip at $tx,$ty ${tw}x$th (screenshot: $picture)"

# Something else is copied first, then Copy clicked where xfce4-notifyd draws it, in the window's
# bottom right corner.
printf 'something else' >"$work/copied.txt"
e2e_start copier xclip -selection clipboard -i -quiet "$work/copied.txt"
expect 5 "xclip did not take the clipboard" clipboard_is "something else"
notification=$(settled notification_window) || fail "the notification went away before its Copy"
rect=$(settled xfce_window_rect "$notification") || fail "the notification went away before its Copy"
read -r nx ny nw nh <<<"$rect"
click_at $((nx + nw - 24)) $((ny + nh - 24))
within 5 clipboard_is "$code" || fail "Copy in xfce4-notifyd's notification did not put the code back: '$(clipboard)'"
expect 5 "the notification stayed after its Copy" no_notification_shows
e2e_stop copier
ok "Copy in xfce4-notifyd's notification puts the code on the clipboard"

popover_against_panel top
# The panel calls Activate as the button is released; once it has, the popover must stay closed.
before=$(activations)
click_tray
within 5 activated_since "$before" || echo "note: the panel sent no Activate for the second click"
! within 2 app_window_shows || fail "a second click on the item closed the popover and opened it again (window $(app_window))"
ok "a second click on the item closes the popover"
xfce_move_panel bottom
expect 10 "the panel does not draw the item at the bottom" tray_shows_item
popover_against_panel bottom

# Keys reach the popover through its keyboard grab (xfwm4 leaves the X input focus on a window of
# its own, as for every override-redirect window): Quit ends the app, and the panel drops its item.
xdotool key ctrl+q
expect 10 "Ctrl+Q in the popover did not quit" gone "$app"
e2e_stop_clean app 0
expect 10 "the panel still lists the item after the app quit" item_gone
expect 10 "the panel still draws the item after the app quit" tray_shows_nothing
ok "once the app has quit the panel draws no item"
e2e_expect_no_code_in_logs "$code"
echo "done in $((SECONDS - start)) s"
