#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# weston, headless and without XWayland: a Wayland desktop with no tray host and no notification
# server. The tray app, started as such a session starts it, keeps running, says once that no
# tray runs and what to install, and opens its window titled Zorvik (seen in the protocol itself).
# shellcheck source-path=SCRIPTDIR disable=SC2154 # e2e_begin sets the arguments' variables
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
e2e_begin weston-no-tray.sh "app_binary picture" "$@"
e2e_require_tools weston
work=$(mktemp -d -p "$ZORVIK_SESSION_DIR" weston-no-tray.XXXXXX)
runtime=$work/runtime
mkdir -m 700 "$runtime"
socket=zorvik-weston
# The window as the compositor sees it: a toplevel titled Zorvik, configured and drawn.
shown() {
    grep -q 'xdg_toplevel@[0-9]*\.set_title("Zorvik")' "$logs/app.log" &&
        grep -q 'xdg_surface@[0-9]*\.ack_configure' "$logs/app.log" &&
        grep -q 'wl_surface@[0-9]*\.attach(wl_buffer@' "$logs/app.log"
}

# --debug lets weston-screenshooter take its picture.
e2e_start weston env XDG_RUNTIME_DIR="$runtime" weston --backend=headless-backend.so --use-pixman \
    --width=1280 --height=800 --socket=$socket --debug
expect 10 "weston did not start" test -S "$runtime/$socket"
# A bus of its own: the private session's has a tray watcher, this desktop has none.
e2e_private_bus
e2e_start app env -u DISPLAY -u QT_QPA_PLATFORM XDG_RUNTIME_DIR="$runtime" WAYLAND_DISPLAY=$socket \
    DBUS_SESSION_BUS_ADDRESS="$e2e_bus_address" XDG_CONFIG_HOME="$work/config" WAYLAND_DEBUG=client \
    "$app_binary" --log-to-stderr
expect 15 "no warning that no tray is running" logged app "$e2e_no_tray_warning"
logged app "install and enable the AppIndicator extension (package gnome-shell-extension-appindicator)" ||
    fail "the warning does not say what to install"
expect 15 "no window titled Zorvik was drawn on the compositor" shown
kill -0 "${e2e_pids[app]}" 2>/dev/null || fail "the app ended"
[[ $(grep -cF -- "$e2e_no_tray_warning" "$logs/app.log") == 1 ]] || fail "the warning was not said exactly once"
ok "on weston without a tray the app says once what is missing and opens its window"

if command -v weston-screenshooter >/dev/null; then
    (cd "$work" && XDG_RUNTIME_DIR=$runtime WAYLAND_DISPLAY=$socket timeout 10 \
        weston-screenshooter >/dev/null 2>&1) || true
    shot=$(find "$work" -maxdepth 1 -name 'wayland-screenshot*.png' | head -n 1)
    if [[ -n $shot ]]; then cp "$shot" "$picture" && echo "screenshot: $picture"; fi
fi
