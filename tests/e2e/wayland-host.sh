# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced after session.sh: a Wayland session with XWayland, mutter nested on the private
# session's X display, as GNOME runs. Nested rather than headless: a headless mutter has no
# keyboard, and a Wayland client such as wl-paste sees the clipboard only with keyboard focus.
# shellcheck shell=bash

wayland_host_pid=
wayland_environment=

# Starts the compositor (its log $1) and exports what a Wayland session gives its programs:
# WAYLAND_DISPLAY, DISPLAY and XAUTHORITY of its XWayland, and XDG_SESSION_TYPE=wayland. Skips
# when it cannot run here.
wayland_host_start() {
    e2e_require_tools mutter Xwayland wl-paste
    wayland_environment=$(mktemp -u -p "$ZORVIK_SESSION_DIR" wayland-environment.XXXXXX)
    e2e_write_env_writer "$ZORVIK_SESSION_DIR"
    mutter --nested --wayland --sm-disable -- sh "$ZORVIK_SESSION_DIR/env-writer.sh" \
        "$wayland_environment" </dev/null >"$1" 2>&1 &
    wayland_host_pid=$!
    if ! within 10 test -s "$wayland_environment"; then
        e2e_alive "$wayland_host_pid" && fail "the Wayland compositor did not start in 10 s"
        wayland_host_pid=
        echo "skipped: the Wayland compositor cannot start here; its log:"
        tail -n 20 -- "$1"
        exit 77
    fi
    unset XAUTHORITY
    e2e_import_env "$wayland_environment" WAYLAND_DISPLAY DISPLAY
    if grep -q '^XAUTHORITY=' "$wayland_environment"; then e2e_import_env "$wayland_environment" XAUTHORITY; fi
    export XDG_SESSION_TYPE=wayland
}

# Ends the compositor, and with it XWayland and every Wayland client still connected.
wayland_host_stop() {
    e2e_stop_env_writer "$wayland_environment"
    if [[ -n $wayland_host_pid ]]; then
        within 3 gone "$wayland_host_pid" || kill -KILL "$wayland_host_pid" 2>/dev/null || true
        wait "$wayland_host_pid" 2>/dev/null || true
    fi
    wayland_host_pid=
    return 0
}
