# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by the end-to-end scripts: the checks every one of them starts with, the wait they
# all use, and the reset that leaves the private session as the next script expects it.
# shellcheck shell=bash

# Skips (77) outside scripts/desktop-session; refuses (2) a wrong number of arguments.
# Usage: e2e_require_session SCRIPT_NAME "ARG NAMES" "$@"
e2e_require_session() {
    local name=$1 names=$2
    shift 2
    if [[ "${ZORVIK_DESKTOP_SESSION:-}" != 1 ]]; then
        echo "skipped: not inside scripts/desktop-session"
        exit 77
    fi
    local expected
    read -r -a expected <<<"$names"
    if [[ $# -ne ${#expected[@]} ]]; then
        echo "usage: $name $names" >&2
        exit 2
    fi
}

# Starts the command after $1 (a directory for its files) and $2 (where its output is appended)
# on a terminal of its own, as a user at a terminal starts it. Sets e2e_terminal_keys to a
# descriptor whose lines are typed into that terminal, and e2e_terminal_pid to the command's own
# process (the one to signal). Fails when the command did not start.
e2e_start_at_terminal() {
    local dir=$1 out=$2 command
    shift 2
    [[ -n ${e2e_terminal_keys:-} ]] && exec {e2e_terminal_keys}>&-
    rm -f "$dir/terminal.keys" "$dir/terminal.pid"
    mkfifo "$dir/terminal.keys"
    # Read-write, so that opening it does not wait for `script`, and `script` never reads an end.
    exec {e2e_terminal_keys}<>"$dir/terminal.keys"
    printf -v command '%q ' "$@"
    SHELL=/bin/bash script -qfec "echo \$\$ >'$dir/terminal.pid'; exec $command" /dev/null \
        <"$dir/terminal.keys" >>"$out" 2>&1 &
    within 10 test -s "$dir/terminal.pid" || return 1
    e2e_terminal_pid=$(cat "$dir/terminal.pid")
}

# Waits up to $1 seconds for the command after it to succeed.
within() {
    local seconds=$1 i
    shift
    for ((i = 0; i < seconds * 20; i++)); do
        "$@" && return 0
        sleep 0.05
    done
    return 1
}

# True where journald listens. Where it does not, the app writes every log line to stderr.
e2e_journal_listens() { [[ -S /run/systemd/journal/socket ]]; }

# Prints every log file in directory $1 under its name, as a failing script shows them.
e2e_print_logs() {
    local file
    for file in "$1"/*; do
        [[ -f $file ]] || continue
        echo "--- $(basename "$file")"
        cat "$file"
    done
}

# What a failing script prints beside its logs, to tell a hang from a slow machine: the windows
# on the display (a keyring prompt holding the keyboard, say) and where each still-running
# process given as an argument is stuck.
e2e_describe_stuck() {
    local pid window
    echo "--- visible windows"
    for window in $(xdotool search --onlyvisible --name . 2>/dev/null); do
        echo "$window $(xdotool getwindowname "$window" 2>/dev/null)"
    done
    for pid in "$@"; do
        if [[ -n $pid ]] && kill -0 "$pid" 2>/dev/null && command -v gdb >/dev/null; then
            echo "--- threads of pid $pid"
            timeout 60 gdb -p "$pid" -batch -nx -ex "thread apply all bt 15" 2>/dev/null |
                grep -E "^(Thread|#)" || true
        fi
    done
}

# Ends the process $1, if any, and waits for it.
e2e_stop_process() {
    if [[ -n $1 ]]; then
        kill "$1" 2>/dev/null || true
        wait "$1" 2>/dev/null || true
    fi
}

# $1 as one native-messaging frame, as a browser writes it to the AutoFill helper: the length in
# four bytes (this machine's order, little-endian here), then the JSON.
e2e_native_message() {
    local n=${#1}
    printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $((n & 255)) $((n >> 8 & 255)) \
        $((n >> 16 & 255)) $((n >> 24 & 255)))%s" "$1"
}

# The start of the line the tray app logs, once, where no tray shows its item.
# shellcheck disable=SC2034 # for the scripts that source this
e2e_no_tray_warning="[warning] net.brontal.zorvik:shell Zorvik: no tray is running on this desktop"

# Where the app publishes the latest code.
e2e_shared_dir=${XDG_RUNTIME_DIR:-}/app/K8QW41TR7N.net.brontal.zorvik.mac

# Where the embedded cloud keeps its records.
e2e_cloud_zone=${XDG_DATA_HOME:-$HOME/.local/share}/net.brontal.zorvik/cloud/iCloud.net.brontal.zorvik/private/_defaultZone

# The scripts play the browser themselves; a sign-in page the app opens goes nowhere.
export BROWSER=true

# No record (a code or a key hand-off), no published code, no key, no notification left over.
# $1 is zorvik-phone.
e2e_reset_session() {
    "$1" clear 2>/dev/null || true
    rm -f "$e2e_cloud_zone/key-handoff.json"
    rm -f "$e2e_shared_dir"/latest-code.*
    "$1" key delete 2>/dev/null || true
    dunstctl close-all 2>/dev/null || true
}

# Prints the first visible window of process $1 once it has one, waiting up to $2 seconds.
# xdotool's search fails when some window goes away while it looks; it is simply asked again.
e2e_visible_window() {
    local i window
    for ((i = 0; i < $2 * 20; i++)); do
        window=$(xdotool search --onlyvisible --pid "$1" 2>/dev/null | head -n 1) || true
        if [[ -n $window ]]; then
            echo "$window"
            return 0
        fi
        sleep 0.05
    done
    return 1
}

# Whether the keyboard is on a visible window of process $1: the popover may have been shown
# again under a new window id since it was first seen.
e2e_has_keyboard() {
    local focus
    focus=$(xdotool getwindowfocus 2>/dev/null) || return 1
    xdotool search --onlyvisible --pid "$1" 2>/dev/null | grep -qx -- "$focus"
}

# --- The harness. A script begins with e2e_begin, starts its processes with e2e_start, checks
# with expect (or its own tests and fail), says what passed with ok, and leaves the rest (stopping
# what it started, the logs on failure, the reset of the session) to the harness.

declare -gA e2e_pids=()
logs=""

# Begins a script: skips outside the session, checks its arguments (see e2e_require_session),
# makes $logs, a folder of its own for the logs, and on exit stops what e2e_start started, then
# runs the script's own e2e_on_exit when it has one.
# Usage: e2e_begin SCRIPT_NAME "ARG NAMES" "$@"
e2e_begin() {
    e2e_require_session "$@"
    logs=$(mktemp -d -p "$ZORVIK_SESSION_DIR" "${1%.sh}-logs.XXXXXX")
    trap e2e_end EXIT
}

e2e_end() {
    local name
    for name in "${!e2e_pids[@]}"; do
        e2e_stop "$name"
    done
    if declare -F e2e_on_exit >/dev/null; then
        e2e_on_exit
    fi
}

# Says what failed, prints every log and where still-running processes are stuck, and ends the
# script with status 1.
fail() {
    echo "FAIL: $*"
    e2e_print_logs "$logs"
    # shellcheck disable=SC2046 # one argument per process
    e2e_describe_stuck $(printf '%s ' "${e2e_pids[@]}")
    exit 1
}

ok() { echo "ok: $*"; }

# Waits up to SECONDS for COMMAND to succeed, else fails with MESSAGE.
# Usage: expect SECONDS MESSAGE COMMAND...
expect() {
    local seconds=$1 message=$2
    shift 2
    within "$seconds" "$@" || fail "$message"
}

# Starts COMMAND in the background with its output in $logs/NAME.log; its pid is
# ${e2e_pids[NAME]}, and the harness stops it at the end unless e2e_stop did.
# Usage: e2e_start NAME COMMAND...
e2e_start() {
    local name=$1
    shift
    "$@" >>"$logs/$name.log" 2>&1 &
    e2e_pids[$name]=$!
}

# Stops the process started as NAME, if it still runs, and waits for it.
e2e_stop() {
    local pid=${e2e_pids[$1]:-}
    unset "e2e_pids[$1]"
    e2e_stop_process "$pid"
}

# Whether the log of NAME holds TEXT (a fixed string).
logged() { grep -qsF -- "$2" "$logs/$1.log"; }

# Fails when a log holds one of the codes given, with or without a space in its middle.
e2e_expect_no_code_in_logs() {
    local code
    for code in "$@"; do
        if grep -rqE -- "${code:0:3} ?${code:3}" "$logs"; then
            fail "the code $code reached a log line"
        fi
    done
}

clipboard() { xclip -selection clipboard -o 2>/dev/null; }
clipboard_is() { [[ $(clipboard) == "$1" ]]; }
# What a Wayland client finds on the clipboard ("" when nothing is there).
wayland_clipboard() { wl-paste --no-newline 2>/dev/null || true; }
wayland_clipboard_is() { [[ $(wayland_clipboard) == "$1" ]]; }
wayland_clipboard_is_not() { [[ $(wayland_clipboard) != "$1" ]]; }

e2e_here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# For the compositors that refuse to run as root (sway, KWin): as root, runs the script $3 (a
# file beside this one, sourcing this file and the host file $1) again as the user nobody, which
# every Debian system has, inside a private desktop session of that user's own, with copies of
# the binaries given after it that the user can read. Passes on its exit status and exits; as
# any other user it returns at once. When the variable named $2 is set, the screenshot the
# script takes at that variable's path there is copied back to it.
e2e_as_unprivileged_user() {
    [[ $(id -u) -eq 0 ]] || return 0
    local host=$1 screenshot_variable=$2 script=$3 user=nobody binary status=0
    shift 3
    local screenshot=${!screenshot_variable:-} stage copies=()
    stage=$(mktemp -d "${TMPDIR:-/tmp}/zorvik-${host%-host.sh}.XXXXXX")
    # shellcheck disable=SC2064 # the stage is known now
    trap "rm -rf -- '$stage'" EXIT
    for binary in "$@"; do
        cp -- "$binary" "$stage/$(basename -- "$binary")"
        copies+=("$stage/$(basename -- "$binary")")
        # The AutoFill helper finds its panel's module beside itself.
        if [[ $(basename -- "$binary") == ZorvikMacAutoFill &&
            -f $(dirname -- "$binary")/zorvik-autofill-panel.so ]]; then
            cp -- "$(dirname -- "$binary")/zorvik-autofill-panel.so" "$stage/"
        fi
    done
    cp -- "$e2e_here/$script" "$e2e_here/session.sh" "$e2e_here/$host" \
        "$e2e_here/../../scripts/desktop-session" "$e2e_here/../support/lsan.supp" "$stage/"
    chmod -R a+rX -- "$stage"
    mkdir -- "$stage/out"
    chown -- "$user" "$stage/out"
    # The user's own session: nothing of root's (display, bus, keyring, directories) goes along.
    env -u DISPLAY -u XAUTHORITY -u DBUS_SESSION_BUS_ADDRESS -u ZORVIK_TRAY_WATCHER \
        -u ZORVIK_SESSION_DIR -u ZORVIK_DESKTOP_SESSION -u TMPDIR \
        ${screenshot:+"$screenshot_variable=$stage/out/screen.png"} \
        LSAN_OPTIONS="suppressions=$stage/lsan.supp:print_suppressions=0" \
        setpriv --reuid="$user" --regid="$(id -g "$user")" --clear-groups \
        "$stage/desktop-session" "$stage/$script" "${copies[@]}" || status=$?
    if [[ -n $screenshot && -s $stage/out/screen.png ]]; then
        cp -- "$stage/out/screen.png" "$screenshot"
    fi
    exit "$status"
}
