#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Checks that the private desktop session from scripts/desktop-session provides what the tests
# rely on: the three bus peers, a private runtime directory, a working keyring, X clipboard,
# notification server (including the Copy action through `dunstctl context`) and tray watcher.
set -euo pipefail

if [[ ${ZORVIK_DESKTOP_SESSION:-} != 1 ]]; then
    echo "skipped: not inside scripts/desktop-session"
    exit 77
fi

background_pids=()
scratch=$(mktemp -d)
cleanup() {
    local pid
    for pid in "${background_pids[@]}"; do
        kill -TERM "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf -- "$scratch"
}
trap cleanup EXIT

ok() { echo "ok: $*"; }
fail() {
    echo "FAIL: $*"
    exit 1
}

bus_call() { gdbus call --session --timeout 5 "$@"; }

# poll SECONDS CMD [ARGS...]: retries CMD every 20 ms until it passes or the time is up.
poll() {
    local tries=$(($1 * 50))
    shift
    until "$@"; do
        ((--tries > 0)) || return 1
        sleep 0.02
    done
}

# --- bus names ---------------------------------------------------------------------------------
for name in org.freedesktop.Notifications org.freedesktop.secrets org.kde.StatusNotifierWatcher; do
    owned=$(bus_call -d org.freedesktop.DBus -o /org/freedesktop/DBus \
        -m org.freedesktop.DBus.NameHasOwner "$name" 2>&1) || fail "NameHasOwner $name: $owned"
    if [[ $owned != "(true,)" ]]; then
        hint=
        if [[ $name == org.kde.StatusNotifierWatcher && ${ZORVIK_TRAY_WATCHER_RUNNING:-0} != 1 ]]; then
            hint=" (no tray watcher: set ZORVIK_TRAY_WATCHER to the zorvik-test-tray-watcher binary)"
        fi
        fail "$name has no owner$hint"
    fi
    ok "$name is owned"
done

# --- runtime directory -------------------------------------------------------------------------
mode=$(stat -c %a -- "$XDG_RUNTIME_DIR")
[[ $mode == 700 ]] || fail "XDG_RUNTIME_DIR $XDG_RUNTIME_DIR has mode $mode, expected 700"
ok "XDG_RUNTIME_DIR has mode 0700"

# --- Secret Service ----------------------------------------------------------------------------
# `timeout` turns a keyring that wants to prompt into a failure instead of a hang.
secret="code-$$-$RANDOM$RANDOM"
attributes=(zorvik-check desktop-session item "$$")
out=$(printf '%s' "$secret" |
    timeout 10 secret-tool store --label="Zorvik session check" "${attributes[@]}" 2>&1) ||
    fail "secret-tool store: ${out:-exit status $?}"
found=$(timeout 10 secret-tool lookup "${attributes[@]}" 2>&1) ||
    fail "secret-tool lookup found nothing: $found"
[[ $found == "$secret" ]] || fail "secret-tool lookup returned '$found', expected '$secret'"
timeout 10 secret-tool clear "${attributes[@]}" || fail "secret-tool clear failed"
if timeout 10 secret-tool lookup "${attributes[@]}" >/dev/null 2>&1; then
    fail "the secret is still there after secret-tool clear"
fi
ok "a secret round-trips through secret-tool"

# --- X clipboard -------------------------------------------------------------------------------
text="clipboard-$$-$RANDOM"
# -quiet keeps xclip in the foreground, so it has a PID to stop; it serves the selection until then.
printf '%s' "$text" | xclip -quiet -selection clipboard -i >/dev/null 2>&1 &
background_pids+=("$!")
clipboard_has_text() { [[ $(xclip -selection clipboard -o 2>/dev/null) == "$text" ]]; }
poll 3 clipboard_has_text ||
    fail "xclip on $DISPLAY did not read back what it put on the clipboard"
ok "xclip sets and reads the clipboard on $DISPLAY"

# --- notifications -----------------------------------------------------------------------------
caps=$(bus_call -d org.freedesktop.Notifications -o /org/freedesktop/Notifications \
    -m org.freedesktop.Notifications.GetCapabilities 2>&1) || fail "GetCapabilities: $caps"
[[ $caps == *"'actions'"* ]] || fail "the notification server lacks 'actions': $caps"
ok "the notification server supports actions"

# dunst sends ActionInvoked to the connection that called Notify only, and that gdbus call is
# gone by then; a bus monitor sees it anyway.
monitor_log=$scratch/notifications.log
dbus-monitor --session "type='signal',interface='org.freedesktop.Notifications'" \
    >"$monitor_log" 2>&1 &
background_pids+=("$!")
# Becoming a monitor ends with the bus taking back the monitor's unique name.
monitor_ready() { grep -q 'member=NameLost' "$monitor_log"; }
poll 3 monitor_ready || fail "dbus-monitor did not start: $(cat "$monitor_log")"

reply=$(bus_call -d org.freedesktop.Notifications -o /org/freedesktop/Notifications \
    -m org.freedesktop.Notifications.Notify zorvik-check 0 '' 'Session check' 'Code 123456' \
    "['default', 'Open', 'copy', 'Copy']" '{}' 0 2>&1) || fail "Notify: $reply"
[[ $reply =~ ^\(uint32\ ([0-9]+),\)$ ]] || fail "Notify gave an unexpected reply: $reply"
id=${BASH_REMATCH[1]}
ok "Notify shows notification $id"

# dunst draws asynchronously; the context menu only lists notifications already on screen.
notification_displayed() { [[ $(dunstctl count displayed 2>/dev/null) -ge 1 ]]; }
poll 3 notification_displayed || fail "notification $id never showed up on screen"
dunstctl context || fail "dunstctl context failed"
copy_invoked() {
    local signals
    signals=$(grep -A2 'member=ActionInvoked' "$monitor_log" | tr -s ' \n' ' ') || return 1
    [[ $signals == *"uint32 $id string \"copy\""* ]]
}
poll 3 copy_invoked ||
    fail "dunstctl context did not invoke the Copy action; monitor saw: $(cat "$monitor_log")"
ok "dunstctl context invokes the Copy action"

bus_call -d org.freedesktop.Notifications -o /org/freedesktop/Notifications \
    -m org.freedesktop.Notifications.CloseNotification "$id" >/dev/null 2>&1 || true

# --- tray watcher ------------------------------------------------------------------------------
host=$(bus_call -d org.kde.StatusNotifierWatcher -o /StatusNotifierWatcher \
    -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher \
    IsStatusNotifierHostRegistered 2>&1) || fail "reading IsStatusNotifierHostRegistered: $host"
[[ $host == "(<true>,)" ]] || fail "IsStatusNotifierHostRegistered is $host, expected true"
ok "the tray watcher reports a registered host"

echo "all desktop session checks passed"
