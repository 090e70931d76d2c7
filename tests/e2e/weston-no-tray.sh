#!/usr/bin/env bash
# End to end on weston, headless and without XWayland: a Wayland desktop with no tray host at
# all (no StatusNotifierItem host, no X11 tray, no notification server). The tray app, started as
# such a session starts it (WAYLAND_DISPLAY alone, a session bus with no tray watcher on it):
#  - keeps running and says once, as a warning, that no tray is running and what to install;
#  - opens its window on the compositor, titled "Zorvik" (seen in the Wayland protocol itself).
set -euo pipefail

# shellcheck source=tests/e2e/session.sh
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
e2e_require_session weston-no-tray.sh "ZORVIKMAC SCREENSHOT" "$@"
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
log=$work/app.log
weston_pid=""
bus_pid=""
app=""
warning=$e2e_no_tray_warning

stop_all() {
    local pid
    for pid in $app $weston_pid $bus_pid; do kill "$pid" 2>/dev/null || true; done
    for pid in $app $weston_pid; do wait "$pid" 2>/dev/null || true; done
    app=""
    weston_pid=""
    bus_pid=""
}
fail() {
    echo "FAIL: $*"
    echo "--- app log (without the Wayland protocol lines)"
    grep -Ev '^\[ *[0-9]+\.[0-9]+\]' "$log" 2>/dev/null | tail -n 40 || true
    echo "--- weston log"
    tail -n 20 "$work/weston.log" 2>/dev/null || true
    stop_all
    exit 1
}
trap stop_all EXIT

# --debug lets weston-screenshooter take its picture.
XDG_RUNTIME_DIR=$runtime weston --backend=headless-backend.so --use-pixman --width=1280 \
    --height=800 --socket=$socket --debug >"$work/weston.log" 2>&1 &
weston_pid=$!
within 10 test -S "$runtime/$socket" || fail "weston did not start"
# A bus of its own: the private session's has a tray watcher, this desktop has none.
read -r address bus_pid < <(dbus-daemon --session --fork --nopidfile --print-address=1 \
    --print-pid=1 | paste -sd ' ')
[[ -n $address && -n $bus_pid ]] || fail "no session bus could be started"

env -u DISPLAY -u QT_QPA_PLATFORM XDG_RUNTIME_DIR="$runtime" WAYLAND_DISPLAY=$socket \
    DBUS_SESSION_BUS_ADDRESS="$address" XDG_CONFIG_HOME="$work/config" WAYLAND_DEBUG=client \
    "$app_binary" --log-to-stderr >"$log" 2>&1 &
app=$!
within 15 grep -qF -- "$warning" "$log" || fail "no warning that no tray is running"
grep -qF "install and enable the AppIndicator extension (package gnome-shell-extension-appindicator)" \
    "$log" || fail "the warning does not say what to install"
# The window as the compositor sees it: a toplevel titled Zorvik, configured and drawn.
shown() {
    grep -q 'xdg_toplevel@[0-9]*\.set_title("Zorvik")' "$log" &&
        grep -q 'xdg_surface@[0-9]*\.ack_configure' "$log" &&
        grep -q 'wl_surface@[0-9]*\.attach(wl_buffer@' "$log"
}
within 15 shown || fail "no window titled Zorvik was drawn on the compositor"
kill -0 "$app" 2>/dev/null || fail "the app ended"
[[ $(grep -cF -- "$warning" "$log") == 1 ]] || fail "the warning was not said exactly once"
echo "ok: on weston without a tray the app says once what is missing and opens its window"

if command -v weston-screenshooter >/dev/null; then
    (cd "$work" && XDG_RUNTIME_DIR=$runtime WAYLAND_DISPLAY=$socket timeout 10 \
        weston-screenshooter >/dev/null 2>&1) || true
    shot=$(find "$work" -maxdepth 1 -name 'wayland-screenshot*.png' | head -n 1)
    if [[ -n $shot ]]; then
        cp "$shot" "$picture"
        echo "screenshot: $picture"
    fi
fi
