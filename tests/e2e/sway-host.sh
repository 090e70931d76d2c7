# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced after session.sh: sway, headless, with XWayland, as a sway session starts programs. sway
# refuses to run as root, so a script run as root runs itself again as the user nobody (see
# e2e_as_unprivileged_user).
# shellcheck shell=bash disable=SC2154 # $logs is the harness's

sway_pid=
sway_environment=${ZORVIK_SESSION_DIR:-}/sway-environment

# Starts sway, with swaybar as the tray host when $1 is "bar" (else "no-bar"), and takes on its
# session's WAYLAND_DISPLAY, DISPLAY (its XWayland) and SWAYSOCK. Not started with e2e_start, so
# that a script's e2e_on_exit stops it (sway_stop) after the programs that run on it.
sway_start() {
    local bar=""
    [[ $1 == bar ]] && bar=$'bar {\n    tray_output *\n}'
    e2e_write_env_writer "$ZORVIK_SESSION_DIR"
    # A script, not a command line: sway's configuration turns "$$" into "$".
    printf 'xwayland enable\noutput * resolution 1280x800\n%s\nexec sh "%s" "%s"\n' "$bar" \
        "$ZORVIK_SESSION_DIR/env-writer.sh" "$sway_environment" >"$ZORVIK_SESSION_DIR/sway.config"
    env -u DISPLAY -u XAUTHORITY -u QT_QPA_PLATFORM WLR_BACKENDS=headless \
        WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman sway -c "$ZORVIK_SESSION_DIR/sway.config" \
        </dev/null >"$logs/sway.log" 2>&1 &
    sway_pid=$!
    expect 10 "sway did not start" test -s "$sway_environment"
    unset DISPLAY XAUTHORITY QT_QPA_PLATFORM
    e2e_import_env "$sway_environment" WAYLAND_DISPLAY DISPLAY SWAYSOCK
}

sway_stop() {
    e2e_stop_process "$sway_pid"
    sway_pid=
    e2e_stop_env_writer "$sway_environment"
}
