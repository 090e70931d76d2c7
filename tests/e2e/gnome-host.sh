# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced after session.sh: a headless gnome-shell (Wayland, Xwayland) with Debian's AppIndicator
# extension in a session of its own (buses, keyring, runtime directory), as a login gives one. As
# root it runs as the user scripts/bootstrap creates, since GNOME Shell refuses root.
# shellcheck shell=bash disable=SC2034,SC2154 # variables for and from the sourcing scripts

readonly gnome_appindicator=ubuntu-appindicators@ubuntu.com
readonly gnome_probe=probe@tests.zorvik.example
readonly gnome_test_user=zorvik-desktop
gnome_dir=
gnome_user_prefix=()
gnome_environment=()
gnome_pids=()
gnome_shell_pid=
gnome_uid=
# The X displays of the shell's Xwayland (mutter keeps a second one for its setup programs).
gnome_x_displays=()
# The environment the shell gives the programs it starts: VAR=VALUE items, and a file of lines.
gnome_session_environment=()
gnome_session_environment_file=

# Skips when this machine cannot run the session.
gnome_require() {
    e2e_require_tools gnome-shell gnome-keyring-daemon dbus-daemon gsettings busctl jq setpriv wl-paste
    [[ -d /usr/share/gnome-shell/extensions/$gnome_appindicator ]] ||
        e2e_skip "the AppIndicator extension is missing (scripts/bootstrap installs it)"
    if [[ $(id -u) -eq 0 ]] && ! id -u "$gnome_test_user" >/dev/null 2>&1; then
        e2e_skip "GNOME Shell does not run as root and the user $gnome_test_user is missing (scripts/bootstrap creates it)"
    fi
}

# Runs a command as the session's user, with the session's environment and nothing else.
gnome_run() { "${gnome_user_prefix[@]}" env -i "${gnome_environment[@]}" "$@"; }
# Runs a command as the shell runs the programs it starts: its user, its environment.
gnome_run_in_session() { "${gnome_user_prefix[@]}" env -i "${gnome_session_environment[@]}" "$@"; }
# The same in the background through e2e_start, as NAME.
gnome_start_in_session() { e2e_start "$1" "${gnome_user_prefix[@]}" env -i "${gnome_session_environment[@]}" "${@:2}" </dev/null; }
gnome_call() { gnome_run busctl --user --timeout=10 "$@"; }
# Prints the result of a JavaScript expression evaluated inside gnome-shell, as JSON; fails when
# the shell does not answer or the expression throws (its message then goes to stderr).
gnome_eval() {
    gnome_call --json=short call org.gnome.Shell /org/gnome/Shell org.gnome.Shell Eval s "$1" 2>/dev/null |
        jq -er 'if .data[0] then .data[1] else (.data[1] | halt_error(1)) end'
}
gnome_true() { [[ $(gnome_eval "$1" 2>/dev/null) == true ]]; }
gnome_name_has_owner() {
    [[ $(gnome_call call org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus \
        NameHasOwner s "$1" 2>/dev/null) == "b true" ]]
}
gnome_keyring_unlocked() {
    local collection
    # Asked before its daemon owns the name, the bus would start another, locked one.
    gnome_name_has_owner org.freedesktop.secrets || return 1
    collection=$(gnome_call call org.freedesktop.secrets /org/freedesktop/secrets \
        org.freedesktop.Secret.Service ReadAlias s default 2>/dev/null) || return 1
    collection=${collection#o \"}
    collection=${collection%\"}
    [[ $collection == /org/freedesktop/secrets/collection/* ]] || return 1
    [[ $(gnome_call get-property org.freedesktop.secrets "$collection" \
        org.freedesktop.Secret.Collection Locked 2>/dev/null) == "b false" ]]
}
gnome_host_registered() {
    [[ $(gnome_call get-property org.kde.StatusNotifierWatcher /StatusNotifierWatcher \
        org.kde.StatusNotifierWatcher IsStatusNotifierHostRegistered 2>/dev/null) == "b true" ]]
}
# Usage: gnome_start LOG STDIN COMMAND...: a long-running process of the session (in gnome_pids).
gnome_start() {
    "${gnome_user_prefix[@]}" env -i "${gnome_environment[@]}" "${@:3}" <"$2" >"$1" 2>&1 &
    gnome_pids+=("$!")
}

# Brings the session up and waits until the extension hosts the tray; skips when gnome-shell
# cannot start here. $1 is the directory for the logs.
gnome_host_start() {
    local logs=$1 uid gid i line
    # In /tmp, which the session's user can reach whoever runs this.
    gnome_dir=$(mktemp -d /tmp/zorvik-gnome.XXXXXX)
    chmod 0755 "$gnome_dir"
    mkdir -p "$gnome_dir"/{home,config,data/gnome-shell/extensions,cache,state,runtime}
    chmod 0700 "$gnome_dir"/{home,runtime}
    cp -r -- "$e2e_here/gnome-probe" "$gnome_dir/data/gnome-shell/extensions/$gnome_probe"
    # A user who logged in before has been told that there is no screen lock without GDM.
    touch "$gnome_dir/data/gnome-shell/lock-warning-shown"
    uid=$(id -u)
    gid=$(id -g)
    if ((uid == 0)); then
        uid=$(id -u "$gnome_test_user")
        gid=$(id -g "$gnome_test_user")
        chown -R "$uid:$gid" "$gnome_dir"
        gnome_user_prefix=(setpriv "--reuid=$uid" "--regid=$gid" --init-groups --)
    fi
    gnome_uid=$uid
    # A login gives its programs no more than this. Every process of the session carries the
    # mark ZORVIK_GNOME_SESSION, which finds the ones the buses and the shell start by themselves.
    gnome_environment=(PATH=/usr/local/bin:/usr/bin:/bin LANG=C.UTF-8 "USER=$(id -un "$uid")"
        "HOME=$gnome_dir/home" "XDG_CONFIG_HOME=$gnome_dir/config" "XDG_DATA_HOME=$gnome_dir/data"
        "XDG_CACHE_HOME=$gnome_dir/cache" "XDG_STATE_HOME=$gnome_dir/state"
        "XDG_RUNTIME_DIR=$gnome_dir/runtime" XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=GNOME
        XDG_SESSION_DESKTOP=gnome DESKTOP_SESSION=gnome
        "DBUS_SYSTEM_BUS_ADDRESS=unix:path=$gnome_dir/system_bus_socket"
        "DBUS_SESSION_BUS_ADDRESS=unix:path=$gnome_dir/runtime/bus"
        "ZORVIK_GNOME_SESSION=$(basename "$gnome_dir")")
    # The shell's login-manager code needs a system bus, where nothing need answer. The session
    # bus activates what the machine installs, as a login's does: dconf, the shell's helpers.
    e2e_bus_config "$gnome_dir/system-bus.conf" system "$gnome_dir/system_bus_socket" ""
    e2e_bus_config "$gnome_dir/session-bus.conf" session "$gnome_dir/runtime/bus" \
        "<standard_session_servicedirs/>"
    printf zorvik-gnome >"$gnome_dir/keyring-password"
    gnome_start "$logs/gnome-system-bus.log" /dev/null \
        dbus-daemon --nofork --nopidfile --config-file="$gnome_dir/system-bus.conf"
    gnome_start "$logs/gnome-session-bus.log" /dev/null \
        dbus-daemon --nofork --nopidfile --config-file="$gnome_dir/session-bus.conf"
    expect 10 "the session's system bus did not start" test -S "$gnome_dir/system_bus_socket"
    expect 10 "the session's bus did not start" gnome_name_has_owner org.freedesktop.DBus
    gnome_start "$logs/gnome-keyring.log" "$gnome_dir/keyring-password" \
        gnome-keyring-daemon --foreground --unlock --components=secrets
    expect 10 "the session's keyring did not come up unlocked" gnome_keyring_unlocked
    gnome_run gsettings set org.gnome.shell enabled-extensions "['$gnome_appindicator', '$gnome_probe']"
    gnome_run gsettings set org.gnome.shell disable-user-extensions false
    # No welcome tour over the desktop, and windows take their places at once.
    gnome_run gsettings set org.gnome.shell welcome-dialog-last-shown-version "'999'"
    gnome_run gsettings set org.gnome.desktop.interface enable-animations false

    gnome_start "$logs/gnome-shell.log" /dev/null gnome-shell --headless --wayland --virtual-monitor 1280x800
    gnome_shell_pid=${gnome_pids[-1]}
    for ((i = 0; i < 600; i++)); do
        gnome_true 'global.context.unsafe_mode && !Main.layoutManager._startingUp && !Main.overview.visible' && break
        if ! e2e_alive "$gnome_shell_pid"; then
            echo "skipped: gnome-shell cannot start here; its log:"
            tail -n 20 -- "$logs/gnome-shell.log"
            exit 77
        fi
        sleep 0.05
    done
    gnome_true 'global.context.unsafe_mode' || fail "gnome-shell did not answer with its probe extension in 30 s"
    gnome_session_environment_file=$gnome_dir/session-environment
    gnome_eval 'imports.gi.GLib.get_environ()' | jq -r '.[]' >"$gnome_session_environment_file"
    mapfile -t gnome_session_environment <"$gnome_session_environment_file"
    for line in "${gnome_session_environment[@]}"; do
        if [[ $line =~ ^(DISPLAY|GNOME_SETUP_DISPLAY)=:([0-9]+)$ ]]; then gnome_x_displays+=("${BASH_REMATCH[2]}"); fi
    done
    expect 10 "the AppIndicator extension did not register a tray host" gnome_host_registered
}

all_gone() {
    local pid
    for pid; do e2e_alive "$pid" && return 1; done
    return 0
}
# Stops every process of the session, the ones it started by itself too, and removes its files.
gnome_host_stop() {
    local pid round pids i display
    # The shell first, alone: it takes its Xwayland down and removes its display's files.
    if [[ -n $gnome_shell_pid ]] && e2e_alive "$gnome_shell_pid"; then
        kill -TERM "$gnome_shell_pid" 2>/dev/null || true
        within 10 all_gone "$gnome_shell_pid" || true
    fi
    for ((round = 0; round < 5; round++)); do
        pids=()
        for ((i = ${#gnome_pids[@]} - 1; i >= 0; i--)); do
            if e2e_alive "${gnome_pids[i]}"; then pids+=("${gnome_pids[i]}"); fi
        done
        for pid in /proc/[0-9]*; do
            pid=${pid#/proc/}
            if grep -qxz "ZORVIK_GNOME_SESSION=$(basename "$gnome_dir")" "/proc/$pid/environ" 2>/dev/null; then
                pids+=("$pid")
            fi
        done
        ((${#pids[@]})) || break
        for pid in "${pids[@]}"; do
            if ((round < 4)); then kill -TERM "$pid" 2>/dev/null; else kill -KILL "$pid" 2>/dev/null; fi
        done
        within 3 all_gone "${pids[@]}" || true
    done
    for pid in "${gnome_pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    gnome_pids=()
    # mutter leaves its X displays' sockets and lock files behind even when it ends on SIGTERM.
    for display in "${gnome_x_displays[@]}"; do e2e_remove_x_display "$display" "$gnome_uid"; done
    gnome_x_displays=()
    if [[ -n $gnome_dir ]]; then rm -rf -- "$gnome_dir"; fi
    gnome_dir=
}
