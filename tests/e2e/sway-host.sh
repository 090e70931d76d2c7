# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced after session.sh by the end-to-end scripts that look at the app on a real sway: headless,
# with XWayland, as a sway session starts programs. sway refuses to run as root, so run as root
# a script runs itself again as the user nobody (every Debian system has it) inside a private
# desktop session of that user's own, with copies of the binaries and scripts that user can read.
# shellcheck shell=bash

sway_pid=
sway_environment=${ZORVIK_SESSION_DIR:-}/sway-environment

# Skips (77) unless each tool given is installed.
sway_require() {
    local tool
    for tool in sway Xwayland "$@"; do
        if ! command -v "$tool" >/dev/null; then
            echo "skipped: $tool is missing (scripts/bootstrap installs it)"
            exit 77
        fi
    done
}

# As root: runs the script $1 again as the user nobody in a session of that user's own (see
# e2e_as_unprivileged_user), bringing back the screenshot asked for by ZORVIK_SWAY_SCREENSHOT.
sway_as_unprivileged_user() {
    e2e_as_unprivileged_user sway-host.sh ZORVIK_SWAY_SCREENSHOT "$@"
}

# Starts sway, with swaybar as the tray host when $1 is "bar" (else "no-bar"), and takes on its session's
# WAYLAND_DISPLAY, DISPLAY (its XWayland) and SWAYSOCK. Fails through the harness's fail; its log
# is $logs/sway.log. Not started with e2e_start, so that a script's e2e_on_exit stops it
# (sway_stop) after the programs that run on it.
sway_start() {
    local bar="" name line
    if [[ $1 == bar ]]; then
        bar=$'bar {\n    tray_output *\n}'
    fi
    # sway writes its session's variables down through a program of its own, as it starts any.
    # (A script: sway's configuration turns "$$" into "$".)
    cat >"$ZORVIK_SESSION_DIR/sway-started.sh" <<'SCRIPT'
echo $$ >"$1.pid"
env >"$1.part" && mv -- "$1.part" "$1"
exec sleep 600
SCRIPT
    cat >"$ZORVIK_SESSION_DIR/sway.config" <<CONFIG
xwayland enable
output * resolution 1280x800
$bar
exec sh "$ZORVIK_SESSION_DIR/sway-started.sh" "$sway_environment"
CONFIG
    # shellcheck disable=SC2154 # $logs is the harness's
    env -u DISPLAY -u XAUTHORITY -u QT_QPA_PLATFORM WLR_BACKENDS=headless \
        WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman sway -c "$ZORVIK_SESSION_DIR/sway.config" \
        </dev/null >"$logs/sway.log" 2>&1 &
    sway_pid=$!
    expect 10 "sway did not start" test -s "$sway_environment"
    unset DISPLAY XAUTHORITY QT_QPA_PLATFORM
    for name in WAYLAND_DISPLAY DISPLAY SWAYSOCK; do
        line=$(grep -m 1 "^$name=" -- "$sway_environment") || fail "sway's session has no $name"
        export "${line?}"
    done
}

# Ends sway and the program that wrote its environment down, which outlives it.
sway_stop() {
    e2e_stop_process "$sway_pid"
    sway_pid=
    if [[ -s $sway_environment.pid ]]; then
        kill "$(<"$sway_environment.pid")" 2>/dev/null || true
    fi
}
