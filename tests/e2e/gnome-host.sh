# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by the end-to-end scripts that look at the app on a real GNOME Shell: a headless
# gnome-shell (Wayland, with its Xwayland) and the AppIndicator extension Debian ships, in a
# session of its own (system bus, session bus, keyring, runtime directory), as a login gives one.
# It leaves the private test session's display, bus and peers alone.
# GNOME Shell refuses to run as root, so as root the session belongs to the user that
# scripts/bootstrap creates for it; otherwise it is the caller's.
# shellcheck shell=bash

readonly gnome_appindicator=ubuntu-appindicators@ubuntu.com
readonly gnome_probe=probe@tests.zorvik.example
gnome_probe_dir=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")/gnome-probe" && pwd)
readonly gnome_probe_dir
readonly gnome_test_user=zorvik-desktop
readonly gnome_keyring_password=zorvik-gnome

gnome_dir=
gnome_user_prefix=()
gnome_token=
gnome_environment=()
gnome_pids=()
gnome_shell_pid=
gnome_uid=
# The X displays of the shell's Xwayland (mutter keeps a second one for its setup programs).
gnome_x_displays=()
# The environment the shell gives the programs it starts: VAR=VALUE items, and a file of lines.
gnome_session_environment=()
gnome_session_environment_file=

# Skips (77) when this machine cannot run the session: no gnome-shell, no extension, or, as
# root, no user to run it as.
gnome_require() {
    local tool
    for tool in gnome-shell gnome-keyring-daemon dbus-daemon gsettings busctl jq setpriv wl-paste; do
        if ! command -v "$tool" >/dev/null; then
            echo "skipped: $tool is missing (scripts/bootstrap installs it)"
            exit 77
        fi
    done
    if [[ ! -d /usr/share/gnome-shell/extensions/$gnome_appindicator ]]; then
        echo "skipped: the AppIndicator extension is missing (scripts/bootstrap installs it)"
        exit 77
    fi
    if [[ $(id -u) -eq 0 ]] && ! id -u "$gnome_test_user" >/dev/null 2>&1; then
        echo "skipped: GNOME Shell does not run as root and the user $gnome_test_user is missing" \
            "(scripts/bootstrap creates it)"
        exit 77
    fi
}

# Runs a command as the session's user, with the session's environment and nothing else.
gnome_run() {
    "${gnome_user_prefix[@]}" env -i "${gnome_environment[@]}" "$@"
}

# Prints the result of a JavaScript expression evaluated inside gnome-shell, as JSON; fails when
# the shell does not answer or the expression throws (its message then goes to stderr).
gnome_eval() {
    gnome_run busctl --user --timeout=10 --json=short call org.gnome.Shell /org/gnome/Shell \
        org.gnome.Shell Eval s "$1" 2>/dev/null |
        jq -er 'if .data[0] then .data[1] else (.data[1] | halt_error(1)) end'
}

# Whether the expression $1 evaluates to true inside gnome-shell.
gnome_true() {
    [[ $(gnome_eval "$1" 2>/dev/null) == true ]]
}

gnome_call() {
    gnome_run busctl --user --timeout=10 "$@"
}

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

# Starts a long-running process of the session in the background; its pid goes to gnome_pids.
# gnome_start LOG STDIN CMD [ARGS...]
gnome_start() {
    local log=$1 input=$2
    shift 2
    # Started from this very shell (not from a function's subshell), so that $! is the process.
    "${gnome_user_prefix[@]}" env -i "${gnome_environment[@]}" "$@" <"$input" >"$log" 2>&1 &
    gnome_pids+=("$!")
}

# Brings the session up and waits until the extension hosts the tray; skips (77) when
# gnome-shell cannot start here. $1 is the directory for the logs.
gnome_host_start() {
    local logs=$1 uid gid
    # In /tmp, which the session's user can reach whoever runs this, as it reaches the X sockets.
    gnome_dir=$(mktemp -d /tmp/zorvik-gnome.XXXXXX)
    chmod 0755 "$gnome_dir"
    # Every process of the session carries this mark, which finds the ones the buses and the
    # shell start by themselves when it is time to stop them.
    gnome_token=$(basename "$gnome_dir")
    mkdir -p "$gnome_dir"/{home,config,data,cache,state,runtime}
    chmod 0700 "$gnome_dir"/{home,runtime}
    uid=$(id -u)
    gid=$(id -g)
    if ((uid == 0)); then
        uid=$(id -u "$gnome_test_user")
        gid=$(id -g "$gnome_test_user")
        chown -R "$uid:$gid" "$gnome_dir"
        gnome_user_prefix=(setpriv "--reuid=$uid" "--regid=$gid" --init-groups --)
    fi
    mkdir -p "$gnome_dir/data/gnome-shell/extensions"
    cp -r -- "$gnome_probe_dir" "$gnome_dir/data/gnome-shell/extensions/$gnome_probe"
    # As for a user who logged in before: the shell has told them that there is no screen lock
    # without GDM, and tells nobody again over the screen the test looks at.
    touch "$gnome_dir/data/gnome-shell/lock-warning-shown"
    chown -R "$uid:$gid" "$gnome_dir/data/gnome-shell"
    gnome_uid=$uid

    # A login gives its programs no more than this.
    gnome_environment=(
        "PATH=/usr/local/bin:/usr/bin:/bin"
        "LANG=C.UTF-8"
        "USER=$(id -un "$uid")"
        "HOME=$gnome_dir/home"
        "XDG_CONFIG_HOME=$gnome_dir/config"
        "XDG_DATA_HOME=$gnome_dir/data"
        "XDG_CACHE_HOME=$gnome_dir/cache"
        "XDG_STATE_HOME=$gnome_dir/state"
        "XDG_RUNTIME_DIR=$gnome_dir/runtime"
        "XDG_SESSION_TYPE=wayland"
        "XDG_CURRENT_DESKTOP=GNOME"
        "XDG_SESSION_DESKTOP=gnome"
        "DESKTOP_SESSION=gnome"
        "DBUS_SYSTEM_BUS_ADDRESS=unix:path=$gnome_dir/system_bus_socket"
        "DBUS_SESSION_BUS_ADDRESS=unix:path=$gnome_dir/runtime/bus"
        "ZORVIK_GNOME_SESSION=$gnome_token"
    )

    # GNOME Shell's login-manager code needs a system bus; nothing need answer on it.
    cat >"$gnome_dir/system-bus.conf" <<XML
<busconfig>
  <type>system</type>
  <listen>unix:path=$gnome_dir/system_bus_socket</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
XML
    # The session bus activates the services installed on the machine, as a login's does:
    # gsettings needs dconf, and the shell starts helpers of its own.
    cat >"$gnome_dir/session-bus.conf" <<XML
<busconfig>
  <type>session</type>
  <keep_umask/>
  <listen>unix:path=$gnome_dir/runtime/bus</listen>
  <standard_session_servicedirs/>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
XML
    printf '%s' "$gnome_keyring_password" >"$gnome_dir/keyring-password"

    gnome_start "$logs/gnome-system-bus.log" /dev/null \
        dbus-daemon --nofork --nopidfile --config-file="$gnome_dir/system-bus.conf"
    gnome_start "$logs/gnome-session-bus.log" /dev/null \
        dbus-daemon --nofork --nopidfile --config-file="$gnome_dir/session-bus.conf"
    within 10 test -S "$gnome_dir/system_bus_socket" ||
        { echo "FAIL: the session's system bus did not start"; return 1; }
    within 10 gnome_name_has_owner org.freedesktop.DBus ||
        { echo "FAIL: the session's bus did not start"; return 1; }
    gnome_start "$logs/gnome-keyring.log" "$gnome_dir/keyring-password" \
        gnome-keyring-daemon --foreground --unlock --components=secrets
    within 10 gnome_keyring_unlocked ||
        { echo "FAIL: the session's keyring did not come up unlocked"; return 1; }

    gnome_run gsettings set org.gnome.shell enabled-extensions \
        "['$gnome_appindicator', '$gnome_probe']"
    gnome_run gsettings set org.gnome.shell disable-user-extensions false
    # No welcome tour over the desktop, and windows take their places at once.
    gnome_run gsettings set org.gnome.shell welcome-dialog-last-shown-version "'999'"
    gnome_run gsettings set org.gnome.desktop.interface enable-animations false

    gnome_start "$logs/gnome-shell.log" /dev/null \
        gnome-shell --headless --wayland --virtual-monitor 1280x800
    gnome_shell_pid=${gnome_pids[-1]}
    local i
    for ((i = 0; i < 600; i++)); do
        gnome_true 'global.context.unsafe_mode && !Main.layoutManager._startingUp && !Main.overview.visible' && break
        if ! gnome_alive "$gnome_shell_pid"; then
            echo "skipped: gnome-shell cannot start here; its log:"
            tail -n 20 -- "$logs/gnome-shell.log"
            exit 77
        fi
        sleep 0.05
    done
    gnome_true 'global.context.unsafe_mode' ||
        { echo "FAIL: gnome-shell did not answer with its probe extension in 30 s"; return 1; }
    gnome_session_environment_file=$gnome_dir/session-environment
    gnome_eval 'imports.gi.GLib.get_environ()' | jq -r '.[]' >"$gnome_session_environment_file"
    mapfile -t gnome_session_environment <"$gnome_session_environment_file"
    local line
    for line in "${gnome_session_environment[@]}"; do
        if [[ $line =~ ^(DISPLAY|GNOME_SETUP_DISPLAY)=:([0-9]+)$ ]]; then
            gnome_x_displays+=("${BASH_REMATCH[2]}")
        fi
    done
    within 10 gnome_host_registered ||
        { echo "FAIL: the AppIndicator extension did not register a tray host"; return 1; }
}

# Runs a command as the shell runs the programs it starts: its user, its environment.
gnome_run_in_session() {
    "${gnome_user_prefix[@]}" env -i "${gnome_session_environment[@]}" "$@"
}

# Starts a command as gnome_run_in_session does, in the background, through the harness's
# e2e_start: its log is $logs/NAME.log, its pid ${e2e_pids[NAME]}.
# gnome_start_in_session NAME CMD [ARGS...]
gnome_start_in_session() {
    local name=$1
    shift
    e2e_start "$name" "${gnome_user_prefix[@]}" env -i "${gnome_session_environment[@]}" "$@" </dev/null
}

# True while process $1 runs (a zombie has ended).
gnome_alive() {
    local stat
    read -r stat 2>/dev/null <"/proc/$1/stat" || return 1
    [[ ${stat##*) } != Z* ]]
}

# True when none of the processes given runs.
gnome_all_gone() {
    local pid
    for pid; do
        gnome_alive "$pid" && return 1
    done
    return 0
}

# Stops every process of the session, the ones it started by itself too, and removes its files.
gnome_host_stop() {
    local pid round pids i
    # The shell first, alone: it takes its Xwayland down and removes its display's files.
    if [[ -n $gnome_shell_pid ]] && gnome_alive "$gnome_shell_pid"; then
        kill -TERM "$gnome_shell_pid" 2>/dev/null || true
        within 10 gnome_all_gone "$gnome_shell_pid" || true
    fi
    for ((round = 0; round < 5; round++)); do
        pids=()
        for ((i = ${#gnome_pids[@]} - 1; i >= 0; i--)); do
            if gnome_alive "${gnome_pids[i]}"; then pids+=("${gnome_pids[i]}"); fi
        done
        for pid in /proc/[0-9]*; do
            pid=${pid#/proc/}
            if grep -qxz "ZORVIK_GNOME_SESSION=$gnome_token" "/proc/$pid/environ" 2>/dev/null; then
                pids+=("$pid")
            fi
        done
        ((${#pids[@]})) || break
        for pid in "${pids[@]}"; do
            if ((round < 4)); then kill -TERM "$pid" 2>/dev/null; else kill -KILL "$pid" 2>/dev/null; fi
        done
        within 3 gnome_all_gone "${pids[@]}" || true
    done
    for pid in "${gnome_pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    gnome_pids=()
    # mutter leaves its X displays' sockets and lock files behind even when it ends on SIGTERM.
    local display owner file
    for display in "${gnome_x_displays[@]}"; do
        for file in "/tmp/.X11-unix/X$display" "/tmp/.X$display-lock"; do
            owner=$(stat -c %u -- "$file" 2>/dev/null) || continue
            if [[ $owner == "$gnome_uid" ]]; then rm -f -- "$file"; fi
        done
    done
    gnome_x_displays=()
    if [[ -n $gnome_dir ]]; then rm -rf -- "$gnome_dir"; fi
    gnome_dir=
}
