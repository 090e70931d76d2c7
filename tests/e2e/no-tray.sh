#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# End to end inside the private desktop session with no tray: the session's tray watcher is
# stopped (and there is no X11 tray), later replaced by a watcher that no panel registered with.
#  - A copy started then says once, as a warning, that no tray is running and what to install,
#    and opens the popover as an ordinary window titled "Zorvik" (not a popup);
#  - the user closes that window (the close button's WM_DELETE_WINDOW): the copy keeps running
#    with nothing on screen;
#  - starting the app again (a second copy, which takes over from the first) opens the window
#    again, and says once why.
# The session's tray watcher runs again afterwards, as the tests after this one expect it.
set -euo pipefail

# shellcheck source=tests/e2e/session.sh
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
e2e_begin no-tray.sh "ZORVIKMAC TRAY_WATCHER WINDOW_MANAGER_TOOL SCREENSHOT_TOOL SCREENSHOT" "$@"
app_binary=$1
tray_watcher=$2
wm=$3
screenshot=$4
picture=$5
export QT_QPA_PLATFORM=xcb
XDG_CONFIG_HOME=$(mktemp -d -p "$ZORVIK_SESSION_DIR" no-tray-config.XXXXXX)
export XDG_CONFIG_HOME
stopped_watcher=0
warning=$e2e_no_tray_warning

watcher_pid() {
    gdbus call --session -d org.freedesktop.DBus -o /org/freedesktop/DBus \
        -m org.freedesktop.DBus.GetConnectionUnixProcessID org.kde.StatusNotifierWatcher 2>/dev/null |
        sed -n 's/^(uint32 \([0-9]*\),)$/\1/p'
}
no_watcher() { [[ -z $(watcher_pid) ]]; }
host_registered() {
    [[ $(gdbus call --session -d org.kde.StatusNotifierWatcher -o /StatusNotifierWatcher \
        -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher \
        IsStatusNotifierHostRegistered 2>/dev/null) == "(<true>,)" ]]
}
stop_watcher() {
    local pid
    pid=$(watcher_pid)
    [[ -n $pid ]] || return 0
    kill "$pid"
    expect 10 "the tray watcher did not go away" no_watcher
}
e2e_on_exit() {
    within 10 no_watcher || true
    # The session's own watcher, as the session started it.
    if ((stopped_watcher)); then
        setsid "$tray_watcher" </dev/null >>"$ZORVIK_SESSION_DIR/logs/tray-watcher.log" 2>&1 &
        within 10 host_registered || echo "FAIL: the session's tray watcher did not come back"
    fi
}

warnings_in() { grep -cF -- "$warning" "$logs/$1.log" || true; }
# Waits for copy NAME to say there is no tray, once, and to show the popover as an ordinary
# window titled Zorvik; sets $window.
expect_window() {
    local name=$1
    expect 10 "$name: no tray was not logged" logged "$name" "$warning"
    window=$(e2e_visible_window "${e2e_pids[$name]}" 10) || fail "$name: no window opened"
    [[ $(xdotool getwindowname "$window") == Zorvik ]] ||
        fail "$name: the window is titled '$(xdotool getwindowname "$window")'"
    [[ $("$wm" override-redirect "$window") == no ]] ||
        fail "$name: the window is a popup, not one a window manager decorates"
    # Later lines would come within the next second or two.
    sleep 2
    [[ $(warnings_in "$name") == 1 ]] || fail "$name: the warning was logged $(warnings_in "$name") times"
}

if [[ -n $(watcher_pid) ]]; then
    stop_watcher
    stopped_watcher=1
fi

# The first copy: no watcher at all.
e2e_start first "$app_binary"
first=${e2e_pids[first]}
expect_window first
grep -F -- "$warning" "$logs/first.log" | grep -qF "gnome-shell-extension-appindicator" ||
    fail "the warning does not say what to install"
"$screenshot" "$picture" || fail "no screenshot"
ok "with no tray the app says so once and opens the popover as a window (screenshot: $picture)"

"$wm" close "$window" || fail "the window could not be asked to close"
expect 5 "the window did not close" \
    bash -c "[[ -z \$(xdotool search --onlyvisible --pid $first 2>/dev/null) ]]"
sleep 1
kill -0 "$first" 2>/dev/null || fail "closing the window ended the app"
[[ -z $(xdotool search --onlyvisible --pid "$first" 2>/dev/null) ]] || fail "the window came back"
ok "closing the window leaves the app running with nothing on screen"

# A watcher with no panel behind it is no tray either.
e2e_start hostless-watcher setsid "$tray_watcher" --no-host
expect 10 "the watcher without a host did not come up" \
    bash -c "[[ -n \$(gdbus call --session -d org.freedesktop.DBus -o /org/freedesktop/DBus -m org.freedesktop.DBus.NameHasOwner org.kde.StatusNotifierWatcher | grep true) ]]"
host_registered && fail "the watcher without a host says a host is registered"

e2e_start second "$app_binary"
expect 10 "the first copy is still running" bash -c "! kill -0 $first 2>/dev/null"
e2e_stop first
expect_window second
ok "starting the app again opens the window again (a watcher without a host is no tray either)"
