#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# End to end on weston, headless and without XWayland: a Wayland desktop with no tray host at
# all (no StatusNotifierItem host, no X11 tray, no notification server). The tray app, started as
# such a session starts it (WAYLAND_DISPLAY alone, a session bus with no tray watcher on it):
#  - keeps running and says once, as a warning, that no tray is running and what to install;
#  - opens its window on the compositor, titled "Zorvik" (seen in the Wayland protocol itself).
set -euo pipefail

# shellcheck source=tests/e2e/session.sh
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
e2e_begin weston-no-tray.sh "ZORVIKMAC SCREENSHOT" "$@"
app_binary=$1
picture=$2
if ! command -v weston >/dev/null; then
    echo "skipped: weston is missing (scripts/bootstrap installs it)"
    exit 77
fi
work=$(mktemp -d -p "$ZORVIK_SESSION_DIR" weston-no-tray.XXXXXX)
runtime=$work/runtime
mkdir -m 700 "$runtime"
socket=zorvik-weston
bus_pid=""
warning=$e2e_no_tray_warning
# The bus forks away from this script, so the harness does not know it.
e2e_on_exit() { e2e_stop_process "$bus_pid"; }

# --debug lets weston-screenshooter take its picture.
e2e_start weston env XDG_RUNTIME_DIR="$runtime" weston --backend=headless-backend.so --use-pixman \
    --width=1280 --height=800 --socket=$socket --debug
expect 10 "weston did not start" test -S "$runtime/$socket"
# A bus of its own: the private session's has a tray watcher, this desktop has none.
read -r address bus_pid < <(dbus-daemon --session --fork --nopidfile --print-address=1 \
    --print-pid=1 | paste -sd ' ')
[[ -n $address && -n $bus_pid ]] || fail "no session bus could be started"

e2e_start app env -u DISPLAY -u QT_QPA_PLATFORM XDG_RUNTIME_DIR="$runtime" WAYLAND_DISPLAY=$socket \
    DBUS_SESSION_BUS_ADDRESS="$address" XDG_CONFIG_HOME="$work/config" WAYLAND_DEBUG=client \
    "$app_binary" --log-to-stderr
expect 15 "no warning that no tray is running" logged app "$warning"
logged app "install and enable the AppIndicator extension (package gnome-shell-extension-appindicator)" ||
    fail "the warning does not say what to install"
# The window as the compositor sees it: a toplevel titled Zorvik, configured and drawn.
shown() {
    grep -q 'xdg_toplevel@[0-9]*\.set_title("Zorvik")' "$logs/app.log" &&
        grep -q 'xdg_surface@[0-9]*\.ack_configure' "$logs/app.log" &&
        grep -q 'wl_surface@[0-9]*\.attach(wl_buffer@' "$logs/app.log"
}
expect 15 "no window titled Zorvik was drawn on the compositor" shown
kill -0 "${e2e_pids[app]}" 2>/dev/null || fail "the app ended"
[[ $(grep -cF -- "$warning" "$logs/app.log") == 1 ]] || fail "the warning was not said exactly once"
ok "on weston without a tray the app says once what is missing and opens its window"

if command -v weston-screenshooter >/dev/null; then
    (cd "$work" && XDG_RUNTIME_DIR=$runtime WAYLAND_DISPLAY=$socket timeout 10 \
        weston-screenshooter >/dev/null 2>&1) || true
    shot=$(find "$work" -maxdepth 1 -name 'wayland-screenshot*.png' | head -n 1)
    if [[ -n $shot ]]; then
        cp "$shot" "$picture"
        echo "screenshot: $picture"
    fi
fi
