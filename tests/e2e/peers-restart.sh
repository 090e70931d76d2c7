#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# End to end: the session's peers killed under a running ZorvikMac --headless and started again.
#  - The notification server gone: the next code is still published, the failed notification
#    is logged; once a server runs again, the next code's notification shows.
#  - The Secret Service gone: the key follows the keyring, so the app says the keyring service is
#    not running and the code waits; once the keyring runs again, the code is published.
#  - The tray watcher gone and back (a panel that restarts): the tray item registers again and
#    shows the code it showed.
# The peers are started again as the session started them, for the tests after this one.
set -euo pipefail

# shellcheck source=tests/e2e/session.sh
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
e2e_begin peers-restart.sh "ZORVIKMAC ZORVIK_PHONE" "$@"
app_binary=$1
phone=$2
# shellcheck source=tests/e2e/headless-app.sh
source "$(dirname "${BASH_SOURCE[0]}")/headless-app.sh"
work=$(mktemp -d -p "$ZORVIK_SESSION_DIR" peers-restart.XXXXXX)
# Settings of its own, so nothing this test does reaches the settings of later tests.

# Starts the app as NAME and waits for its first round of checks. Without a display its
# clipboard is its own, so no other test's is touched.
# Stops the copy started as NAME; returns its exit status.

# The process that owns NAME on this session's bus (not another session's peer).
owner_pid() {
    gdbus call --session -d org.freedesktop.DBus -o /org/freedesktop/DBus \
        -m org.freedesktop.DBus.GetConnectionUnixProcessID "$1" 2>/dev/null |
        sed -n 's/^(uint32 \([0-9]*\),)$/\1/p'
}
has_owner() { [[ -n $(owner_pid "$1") ]]; }
has_no_owner() { ! has_owner "$1"; }
stop_peer() {
    local pid
    pid=$(owner_pid "$1")
    [[ -n $pid ]] || fail "nobody owns $1"
    kill "$pid"
    expect 10 "$1 did not go away" has_no_owner "$1"
}
start_notifications() {
    setsid dunst -config "$ZORVIK_SESSION_DIR/dunstrc" >>"$ZORVIK_SESSION_DIR/logs/dunst.log" 2>&1 &
    expect 10 "dunst did not come back" has_owner org.freedesktop.Notifications
}
start_keyring() {
    setsid gnome-keyring-daemon --foreground --unlock --components=secrets \
        <"$ZORVIK_SESSION_DIR/keyring-password" >>"$ZORVIK_SESSION_DIR/logs/gnome-keyring.log" 2>&1 &
    expect 10 "the keyring did not come back" has_owner org.freedesktop.secrets
}
start_tray_watcher() {
    setsid "$ZORVIK_TRAY_WATCHER" >>"$ZORVIK_SESSION_DIR/logs/tray-watcher.log" 2>&1 &
    expect 10 "the tray watcher did not come back" has_owner org.kde.StatusNotifierWatcher
}
# Whatever happens, the next test finds the peers running.
restore_peers() {
    has_owner org.freedesktop.Notifications || start_notifications
    has_owner org.freedesktop.secrets || start_keyring
    if [[ ${ZORVIK_TRAY_WATCHER_RUNNING:-0} == 1 ]]; then
        has_owner org.kde.StatusNotifierWatcher || start_tray_watcher
    fi
}
# The item of process $1 as the watcher lists it, and its label.
listed_item() {
    gdbus call --session -d org.kde.StatusNotifierWatcher -o /StatusNotifierWatcher \
        -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher \
        RegisteredStatusNotifierItems 2>/dev/null | grep -o "org.kde.StatusNotifierItem-$1-[0-9]*"
}
label_of() {
    gdbus call --session -d "$1" -o /StatusNotifierItem \
        -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierItem XAyatanaLabel 2>/dev/null
}
item_shows() {
    local item
    item=$(listed_item "${e2e_pids[tray]}") && [[ $(label_of "$item") == "(<'$1'>,)" ]]
}
e2e_on_exit() {
    restore_peers
    e2e_reset_session "$phone"
}
# The phone keeps its own copy of the key, so it can send while the keyring is gone.
send_code() {
    "$phone" send --account "Peer $1" --service github --code "$1" --ttl 120 \
        --key-file "$work/sync-key" 2>/dev/null
}
a_notification_shows() { [[ $(dunstctl count displayed 2>/dev/null) -ge 1 ]]; }

e2e_reset_session "$phone"
# The keyring may still be starting with the session.
expect 15 "no sync key could be stored" store_sync_key
"$phone" key export | base64 -d >"$work/sync-key"

start_app notifications
stop_peer org.freedesktop.Notifications
send_code 411111
expect 15 "without a notification server the code was not published" published 411111
expect 15 "the failed notification was not logged" \
    logged notifications "the notification could not be shown: "
start_notifications
[[ $(dunstctl count displayed) == 0 ]] || fail "the new server shows something already"
send_code 422222
expect 15 "the code after the server came back was not published" published 422222
expect 15 "the notification did not show once the server was back" a_notification_shows
stop_app notifications || fail "notifications: the app did not end cleanly"
ok "without a notification server codes are published and the failure is logged; once it is back, notifications show again"

start_app keyring
stop_peer org.freedesktop.secrets
send_code 433333
expect 15 "the keyring's absence was not named" \
    logged keyring "keyring: the keyring service is not running"
published 433333 && fail "a code was published while its key could not be read"
start_keyring
expect 20 "the waiting code was not published once the keyring ran again" published 433333
logged keyring "keyring: answers again" || fail "the keyring's return was not logged"
stop_app keyring || fail "keyring: the app did not end cleanly"
ok "with the keyring gone the app says the keyring service is not running and the code waits; once it runs again, the code is published"

if [[ ${ZORVIK_TRAY_WATCHER_RUNNING:-0} != 1 ]]; then
    echo "skipped the tray watcher's restart: the session runs no tray watcher"
    exit 0
fi
# The tray app, as a login starts it.
e2e_start tray "$app_binary" --log-to-stderr
expect 20 "tray: the app did not finish its checks" logged tray "check firstCode:"
send_code 444444
expect 15 "the item does not show the code" item_shows "444 444"
stop_peer org.kde.StatusNotifierWatcher
start_tray_watcher
within 10 item_shows "444 444" ||
    fail "after the watcher's restart the item is $(listed_item "${e2e_pids[tray]}" || echo "not listed")"
stop_app tray || fail "tray: the app did not end cleanly"
ok "with the tray watcher gone and back, the item registers again and shows the code"
