#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# No tray (the session's watcher stopped, then one no panel registered with): the app says once
# what to install and shows the popover as an ordinary window; closed, the app keeps running;
# started again, the window is back.
# shellcheck source-path=SCRIPTDIR disable=SC2154 # e2e_begin sets the arguments' variables
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
e2e_begin no-tray.sh "app_binary tray_watcher wm screenshot picture" "$@"
export QT_QPA_PLATFORM=xcb
e2e_own_config
watcher=org.kde.StatusNotifierWatcher
e2e_on_exit() { e2e_restore_peers || true; }
warnings_in() { grep -cF -- "$e2e_no_tray_warning" "$logs/$1.log" || true; }
# Copy NAME says once that there is no tray and shows the popover as an ordinary window titled
# Zorvik; sets $window.
expect_window() {
    local name=$1
    expect 10 "$name: no tray was not logged" logged "$name" "$e2e_no_tray_warning"
    window=$(e2e_visible_window "${e2e_pids[$name]}" 10) || fail "$name: no window opened"
    [[ $(xdotool getwindowname "$window") == Zorvik ]] ||
        fail "$name: the window is titled '$(xdotool getwindowname "$window")'"
    [[ $("$wm" override-redirect "$window") == no ]] ||
        fail "$name: the window is a popup, not one a window manager decorates"
    sleep 2 # later lines would come within a second or two
    [[ $(warnings_in "$name") == 1 ]] || fail "$name: the warning was logged $(warnings_in "$name") times"
}

e2e_stop_peer $watcher tray-watcher || true

e2e_start first "$app_binary"
first=${e2e_pids[first]}
expect_window first
grep -F -- "$e2e_no_tray_warning" "$logs/first.log" | grep -qF "gnome-shell-extension-appindicator" ||
    fail "the warning does not say what to install"
"$screenshot" "$picture" || fail "no screenshot"
ok "with no tray the app says so once and opens the popover as a window (screenshot: $picture)"

"$wm" close "$window" || fail "the window could not be asked to close"
expect 5 "the window did not close" no_window_of "$first"
sleep 1
kill -0 "$first" 2>/dev/null || fail "closing the window ended the app"
no_window_of "$first" || fail "the window came back"
ok "closing the window leaves the app running with nothing on screen"

# A watcher with no panel behind it is no tray either.
e2e_start hostless-watcher setsid "$tray_watcher" --no-host
expect 10 "the watcher without a host did not come up" bus_has_owner $watcher
tray_host_registered && fail "the watcher without a host says a host is registered"
take_over first second "$app_binary"
expect_window second
ok "starting the app again opens the window again (a watcher without a host is no tray either)"
