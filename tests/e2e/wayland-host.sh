# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by the end-to-end scripts that need a Wayland session with XWayland: mutter as a
# nested compositor on the private session's X display, with its own XWayland, as GNOME runs.
# Nested rather than headless: a headless mutter has no keyboard, and a Wayland client such as
# wl-paste sees the clipboard only once it has keyboard focus.
# shellcheck shell=bash

wayland_host_pid=
wayland_host_child=

# Starts the compositor and exports what a Wayland session gives its programs: WAYLAND_DISPLAY,
# DISPLAY and XAUTHORITY of its XWayland, and XDG_SESSION_TYPE=wayland. Skips (77) when the
# compositor cannot run here; fails (through the harness's fail) when it starts without giving
# its displays. $1 is the file for the compositor's log.
wayland_host_start() {
    local log=$1 tool environment i
    for tool in mutter Xwayland wl-paste; do
        if ! command -v "$tool" >/dev/null; then
            echo "skipped: $tool is missing (scripts/bootstrap installs it)"
            exit 77
        fi
    done
    environment=$(mktemp -p "$ZORVIK_SESSION_DIR" wayland-environment.XXXXXX)
    rm -f -- "$environment"
    # The compositor runs one program of its own with the session's variables set; that program
    # writes them down and waits, and the compositor ends when it is stopped.
    # shellcheck disable=SC2016  # expanded by the inner shell
    mutter --nested --wayland --sm-disable -- sh -c \
        'echo $$ >"$1.pid"; env >"$1.part" && mv -- "$1.part" "$1"; exec sleep 600' \
        sh "$environment" </dev/null >"$log" 2>&1 &
    wayland_host_pid=$!
    for ((i = 0; i < 200; i++)); do
        [[ -s $environment ]] && break
        if ! kill -0 "$wayland_host_pid" 2>/dev/null; then
            wayland_host_pid=
            echo "skipped: the Wayland compositor cannot start here; its log:"
            tail -n 20 -- "$log"
            exit 77
        fi
        sleep 0.05
    done
    [[ -s $environment ]] || fail "the Wayland compositor did not start in 10 s"
    wayland_host_child=$(<"$environment.pid")
    local name line
    unset XAUTHORITY
    for name in WAYLAND_DISPLAY DISPLAY XAUTHORITY; do
        line=$(grep -m 1 "^$name=" -- "$environment") || continue
        export "${line?}"
    done
    if [[ -z ${WAYLAND_DISPLAY:-} || -z ${DISPLAY:-} ]]; then
        fail "the Wayland compositor gave no WAYLAND_DISPLAY or no DISPLAY"
    fi
    export XDG_SESSION_TYPE=wayland
}

# Ends the compositor, and with it XWayland and every Wayland client still connected.
wayland_host_stop() {
    if [[ -n $wayland_host_child ]]; then
        kill "$wayland_host_child" 2>/dev/null || true
    fi
    if [[ -n $wayland_host_pid ]]; then
        within 3 bash -c "! kill -0 $wayland_host_pid 2>/dev/null" ||
            kill -KILL "$wayland_host_pid" 2>/dev/null || true
        wait "$wayland_host_pid" 2>/dev/null || true
    fi
    wayland_host_pid=
    wayland_host_child=
    return 0
}
