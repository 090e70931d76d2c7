#!/usr/bin/env bash
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
# shellcheck source=tests/e2e/headless-app.sh
source "$(dirname "${BASH_SOURCE[0]}")/headless-app.sh"
e2e_require_session peers-restart.sh "ZORVIKMAC ZORVIK_PHONE" "$@"
e2e_headless_setup peers-restart "$1"
phone=$2

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
    within 10 has_no_owner "$1" || fail "$1 did not go away"
}
start_notifications() {
    setsid dunst -config "$ZORVIK_SESSION_DIR/dunstrc" >>"$ZORVIK_SESSION_DIR/logs/dunst.log" 2>&1 &
    within 10 has_owner org.freedesktop.Notifications || fail "dunst did not come back"
}
start_keyring() {
    setsid gnome-keyring-daemon --foreground --unlock --components=secrets \
        <"$ZORVIK_SESSION_DIR/keyring-password" >>"$ZORVIK_SESSION_DIR/logs/gnome-keyring.log" 2>&1 &
    within 10 has_owner org.freedesktop.secrets || fail "the keyring did not come back"
}
start_tray_watcher() {
    setsid "$ZORVIK_TRAY_WATCHER" >>"$ZORVIK_SESSION_DIR/logs/tray-watcher.log" 2>&1 &
    within 10 has_owner org.kde.StatusNotifierWatcher || fail "the tray watcher did not come back"
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
    item=$(listed_item "$app") && [[ $(label_of "$item") == "(<'$1'>,)" ]]
}
trap 'stop_app || true; restore_peers; e2e_reset_session "$phone"' EXIT
# The phone keeps its own copy of the key, so it can send while the keyring is gone.
send_code() {
    "$phone" send --account "Peer $1" --service github --code "$1" --ttl 120 \
        --key-file "$work/sync-key" 2>/dev/null
}
a_notification_shows() { [[ $(dunstctl count displayed 2>/dev/null) -ge 1 ]]; }

e2e_reset_session "$phone"
e2e_store_sync_key "$phone"
"$phone" key export | base64 -d >"$work/sync-key"

start_app notifications
stop_peer org.freedesktop.Notifications
send_code 411111
within 15 published 411111 || fail "without a notification server the code was not published"
within 15 logged notifications "the notification could not be shown: " ||
    fail "the failed notification was not logged"
start_notifications
[[ $(dunstctl count displayed) == 0 ]] || fail "the new server shows something already"
send_code 422222
within 15 published 422222 || fail "the code after the server came back was not published"
within 15 a_notification_shows || fail "the notification did not show once the server was back"
stop_app || fail "notifications: the app did not end cleanly"
echo "ok: without a notification server codes are published and the failure is logged; once it is back, notifications show again"

start_app keyring
stop_peer org.freedesktop.secrets
send_code 433333
within 15 logged keyring "keyring: the keyring service is not running" ||
    fail "the keyring's absence was not named"
published 433333 && fail "a code was published while its key could not be read"
start_keyring
within 20 published 433333 || fail "the waiting code was not published once the keyring ran again"
logged keyring "keyring: answers again" || fail "the keyring's return was not logged"
stop_app || fail "keyring: the app did not end cleanly"
echo "ok: with the keyring gone the app says the keyring service is not running and the code waits; once it runs again, the code is published"

if [[ ${ZORVIK_TRAY_WATCHER_RUNNING:-0} != 1 ]]; then
    echo "skipped the tray watcher's restart: the session runs no tray watcher"
    exit 0
fi
# The tray app, as a login starts it.
"$app_binary" --log-to-stderr >"$logs/tray.log" 2>&1 &
app=$!
within 20 logged tray "check firstCode:" || fail "tray: the app did not finish its checks"
send_code 444444
within 15 item_shows "444 444" || fail "the item does not show the code"
stop_peer org.kde.StatusNotifierWatcher
start_tray_watcher
within 10 item_shows "444 444" ||
    fail "after the watcher's restart the item is $(listed_item "$app" || echo "not listed")"
stop_app || fail "tray: the app did not end cleanly"
echo "ok: with the tray watcher gone and back, the item registers again and shows the code"
