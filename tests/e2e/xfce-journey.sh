#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# End to end on Xfce 4.18, as its users run the tray app: xfwm4, xfce4-panel with its status tray
# plugin as the tray (watcher and host) and xfce4-notifyd as the notification server, on the
# private session's display and bus (see xfce-host.sh). A returning user's app started with an
# Xfce session's environment, a code sent by the phone tool, and what a user sees checked there:
#  - the panel draws the app's item in its tray, and nothing once the app has quit;
#  - the item's tooltip holds the code, and hovering the item shows the panel's tooltip;
#  - the notification comes through xfce4-notifyd, and a click on its Copy button puts the code
#    back on the clipboard over something copied since;
#  - a click on the item in the panel opens the popover right under a top panel and right above
#    a bottom one, over the item, never over the panel; a second click closes it, and it stays
#    closed (the panel's tray activates an item when the button is released, after the press has
#    closed the popover).
# It leaves screenshots: SCREENSHOT (the tooltip and the notification), and beside it
# *-panel.png (the top of the screen with the item), *-popover-top.png and *-popover-bottom.png.
set -euo pipefail

here=$(dirname "${BASH_SOURCE[0]}")
# shellcheck source=tests/e2e/session.sh
source "$here/session.sh"
# shellcheck source=tests/e2e/xfce-host.sh
source "$here/xfce-host.sh"
e2e_begin xfce-journey.sh "ZORVIKMAC ZORVIK_PHONE SCREENSHOT_TOOL SCREENSHOT" "$@"
# A command of this script that fails unexpectedly says which.
trap 'echo "FAIL: line $LINENO: $BASH_COMMAND"' ERR
app_binary=$1
phone=$2
screenshot=$3
picture=$4
xfce_require
export QT_QPA_PLATFORM=xcb
# A returning user: the first-run popover, which opens by itself, would hide the panel's end.
XDG_CONFIG_HOME=$(mktemp -d -p "$ZORVIK_SESSION_DIR" xfce-config.XXXXXX)
export XDG_CONFIG_HOME
mkdir -p "$XDG_CONFIG_HOME/net.brontal.zorvik"
printf '[General]\nfirstRunDone=true\n' >"$XDG_CONFIG_HOME/net.brontal.zorvik/ZorvikMac.conf"
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
# that the panel lays out again for a moment is not found where it was.
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

# A click as a hand makes it: the button held for a tenth of a second. (xdotool's own click
# releases it at once, before the program under the pointer has seen the press.)
click_at() {
    xdotool mousemove "$1" "$2" mousedown 1
    sleep 0.1
    xdotool mouseup 1
}

# The app's item as the panel's tray plugin (the watcher) lists it.
item_of() {
    xfce_bus_call -d org.kde.StatusNotifierWatcher -o /StatusNotifierWatcher \
        -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher \
        RegisteredStatusNotifierItems | grep -o "org.kde.StatusNotifierItem-$1-[0-9]*" | head -n 1
}
property() {
    xfce_bus_call -d "$item" -o /StatusNotifierItem \
        -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierItem "$1"
}
tooltip_holds_code() { [[ $(property ToolTip) == *"'$label')>,)" ]]; }

# What the tray plugin draws: the pixels of its window that stand out from the panel (nothing
# printed, and a failure, when it could not be looked at).
tray_pixels() {
    local rect x y w h
    rect=$(xfce_tray_rect) || return 1
    read -r x y w h <<<"$rect"
    "$screenshot" "$work/tray.png" "$x" "$y" "$w" "$h" >/dev/null 2>&1 || return 1
    xfce_drawn_pixels "$work/tray.png"
}
# An icon of 16 px or more: a few dozen pixels at least.
tray_shows_item() {
    local pixels
    pixels=$(tray_pixels) && ((pixels >= 30))
}
tray_shows_nothing() {
    local pixels
    pixels=$(tray_pixels) && ((pixels == 0))
}
tray_centre() {
    local rect x y w h
    rect=$(xfce_tray_rect) || return 1
    read -r x y w h <<<"$rect"
    echo "$((x + w / 2)) $((y + h / 2))"
}

notification_window() {
    local window
    window=$(xdotool search --onlyvisible --classname '^xfce4-notifyd$' 2>/dev/null | head -n 1)
    [[ -n $window ]] && echo "$window"
}
a_notification_shows() { [[ -n $(notification_window) ]]; }
no_notification_shows() { [[ -z $(notification_window) ]]; }

# A window of the tray plugin's process outside the panel: the tooltip it shows on hover.
tooltip_window() {
    local window panel rect x y w h px py pw ph
    panel=$(xfce_panel_rect) || return 1
    read -r px py pw ph <<<"$panel"
    for window in $(xdotool search --onlyvisible --pid "$(xfce_tray_pid)" 2>/dev/null); do
        rect=$(xfce_window_rect "$window") || continue
        read -r x y w h <<<"$rect"
        if ((y >= py + ph || y + h <= py)); then
            echo "$window $rect"
            return 0
        fi
    done
    return 1
}

item_gone() { [[ -z $(item_of "$app") ]]; }

# The panel's calls of Activate on the item, as the bus carried them.
activations() { grep -c "member=Activate" "$logs/activations.log" || true; }
activated_since() { (($(activations) > $1)); }

app_window() { xdotool search --onlyvisible --pid "$app" 2>/dev/null | head -n 1; }
no_app_window() { [[ -z $(app_window) ]]; }
# The popover's rectangle once it has stayed put for a moment (it is placed as it is shown).
settled_popover_rect() {
    local previous="" rect i window
    for ((i = 0; i < 40; i++)); do
        window=$(app_window)
        [[ -n $window ]] && rect=$(xfce_window_rect "$window") || rect=""
        if [[ -n $rect && $rect == "$previous" ]]; then
            echo "$rect"
            return 0
        fi
        previous=$rect
        sleep 0.05
    done
    return 1
}
click_tray() {
    local centre
    centre=$(settled tray_centre) || fail "the tray plugin has no window in the panel"
    # shellcheck disable=SC2086 # x and y
    click_at $centre
}
# Clicks the item and checks the popover against the panel at $1 (top or bottom): against the
# panel's edge (4 px apart at most), not over it, over the item, and inside the screen. Sets
# $placement to what it measured.
placement=
popover_against_panel() {
    local edge=$1 rect panel centre x y w h px py pw ph cx cy problems=()
    click_tray
    e2e_visible_window "$app" 5 >/dev/null || fail "a click on the item in the $edge panel opened no popover"
    rect=$(settled_popover_rect) || fail "the popover did not settle in one place"
    read -r x y w h <<<"$rect"
    panel=$(settled xfce_panel_rect) || fail "the panel's window is gone"
    centre=$(settled tray_centre) || fail "the tray plugin has no window in the panel"
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
    placement="$edge panel at $px,$py ${pw}x$ph, item centre $cx,$cy: popover at $x,$y ${w}x$h"
}

xfce_start top
ok "xfwm4, xfce4-panel $(xfce_run xfce4-panel --version 2>/dev/null | head -n 1 | awk '{print $2}') (its tray plugin the tray watcher) and xfce4-notifyd are up ($((SECONDS - start)) s)"

server=$(xfce_bus_call -d org.freedesktop.Notifications -o /org/freedesktop/Notifications \
    -m org.freedesktop.Notifications.GetServerInformation)
[[ $server == "('Xfce Notify Daemon', 'Xfce', "* ]] || fail "the notification server is $server"
capabilities=$(xfce_bus_call -d org.freedesktop.Notifications -o /org/freedesktop/Notifications \
    -m org.freedesktop.Notifications.GetCapabilities)
[[ $capabilities == *"'actions'"* ]] || fail "xfce4-notifyd offers no actions: $capabilities"
within 5 tray_shows_nothing ||
    fail "the tray shows something before the app runs ($(tray_pixels || echo "no") pixels)"

within 15 "$phone" key generate --force >/dev/null 2>&1 || fail "no sync key could be stored"
# Started as an Xfce session starts a program from its menu; Qt then draws with its GTK theme.
# GTK's accessibility bridge, which finds no accessibility bus on this session's bus, would start
# a bus of its own that outlives the test: NO_AT_BRIDGE keeps it off.
e2e_start app env XDG_CURRENT_DESKTOP=XFCE XDG_SESSION_DESKTOP=xfce DESKTOP_SESSION=xfce \
    XDG_SESSION_TYPE=x11 NO_AT_BRIDGE=1 "$app_binary" --log-to-stderr
app=${e2e_pids[app]}
# The panel's clicks on the item, as the bus carries them.
e2e_start activations dbus-monitor --session \
    "type='method_call',interface='org.kde.StatusNotifierItem',member='Activate'"
expect 15 "the app did not start" logged app "subscription saved"
item_listed() { [[ -n $(item_of "$app") ]]; }
expect 10 "the app's item did not register with the panel's tray" item_listed
item=$(item_of "$app")
within 10 tray_shows_item ||
    fail "the panel does not draw the app's item (tray $(xfce_tray_rect || echo none), $(tray_pixels || echo "no") pixels)"
screen_shot "${picture%.png}-panel.png" 0 0 1280 40
ok "the panel draws the app's item $item in its tray at $(xfce_tray_rect) ($(tray_pixels) pixels)"

no_notification_shows || fail "a notification shows before any code was sent"
"$phone" send --account "Work GitHub" --service github --code "$code" --ttl 60 >/dev/null 2>&1
within 10 tooltip_holds_code || fail "the item's tooltip does not hold the code: $(property ToolTip)"
ok "the item's tooltip holds the code: $(property ToolTip)"
expect 10 "no notification came through xfce4-notifyd" a_notification_shows
within 5 clipboard_is "$code" || fail "the code did not reach the clipboard: '$(clipboard)'"
ok "the code's notification came through xfce4-notifyd ($(xfce_window_rect "$(notification_window)")) and the code is on the clipboard"

# Hovering the item shows the panel's tooltip, under the panel near the item.
centre=$(settled tray_centre) || fail "the tray plugin has no window in the panel"
read -r cx cy <<<"$centre"
xdotool mousemove "$cx" "$cy"
within 5 tooltip_window >/dev/null || fail "hovering the item showed no tooltip"
tooltip=$(settled tooltip_window) || fail "the tooltip went away"
read -r _ tx ty tw th <<<"$tooltip"
((tx <= cx + 16 && cx - 16 < tx + tw)) || fail "the tooltip at $tx,$ty ${tw}x$th is not at the item's x $cx"
screen_shot "$picture"
ok "hovering the item shows the panel's tooltip at $tx,$ty ${tw}x$th (screenshot: $picture)"

# The notification's Copy button: something else is copied first, then the button clicked where
# xfce4-notifyd draws it, in the window's bottom right corner.
printf 'something else' >"$work/copied.txt"
e2e_start copier xclip -selection clipboard -i -quiet "$work/copied.txt"
expect 5 "xclip did not take the clipboard" clipboard_is "something else"
notification=$(settled notification_window) || fail "the notification went away before its Copy"
rect=$(settled xfce_window_rect "$notification") || fail "the notification went away before its Copy"
read -r nx ny nw nh <<<"$rect"
click_at $((nx + nw - 24)) $((ny + nh - 24))
within 5 clipboard_is "$code" ||
    fail "Copy in xfce4-notifyd's notification did not put the code back: '$(clipboard)'"
expect 5 "the notification stayed after its Copy" no_notification_shows
e2e_stop copier
ok "Copy in xfce4-notifyd's notification puts the code on the clipboard"

popover_against_panel top
screen_shot "${picture%.png}-popover-top.png"
ok "a click on the item opens the popover right under the top panel: $placement"
# The panel calls Activate as the button is released; once it has, the popover must stay closed
# for the two seconds after.
app_window_shows() { [[ -n $(app_window) ]]; }
before=$(activations)
click_tray
within 5 activated_since "$before" || echo "note: the panel sent no Activate for the second click"
if ! within 2 app_window_shows; then
    ok "a second click on the item closes the popover"
else
    fail "a second click on the item closed the popover and opened it again (window $(app_window))"
fi

xfce_move_panel bottom
expect 10 "the panel does not draw the item at the bottom" tray_shows_item
popover_against_panel bottom
screen_shot "${picture%.png}-popover-bottom.png"
ok "with the panel at the bottom the popover opens right above it: $placement"

# Keys reach the popover: its Quit shortcut ends the app, and the panel drops its item. (xfwm4
# leaves the X input focus on a window of its own, as it does for every override-redirect
# window; the popover's keyboard grab is what brings it the keys.)
xdotool key ctrl+q
expect 10 "Ctrl+Q in the popover did not quit" bash -c "! kill -0 $app 2>/dev/null"
status=0
wait "$app" || status=$?
unset 'e2e_pids[app]'
((status == 0)) || fail "the app quit with status $status"
expect 10 "the panel still lists the item after the app quit" item_gone
expect 10 "the panel still draws the item after the app quit" tray_shows_nothing
ok "once the app has quit the panel draws no item"

e2e_expect_no_code_in_logs "$code"
ok "no log line holds the code"
echo "done in $((SECONDS - start)) s"
