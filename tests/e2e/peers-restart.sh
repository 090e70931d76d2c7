#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The session's notification server, Secret Service and tray watcher killed under the app and
# started again: codes are published and the failure logged, or the code waits for the keyring,
# and the item registers again with its code.
# shellcheck source-path=SCRIPTDIR disable=SC2154 # e2e_begin sets the arguments' variables
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
e2e_begin peers-restart.sh "app_binary phone" "$@"
e2e_own_config
work=$(mktemp -d -p "$ZORVIK_SESSION_DIR" peers-restart.XXXXXX)

stop_peer() { e2e_stop_peer "$1" "$2" || fail "nobody owns $1"; }
start_peer() { e2e_restore_peers "$1" || fail "$1 did not come back"; }
e2e_on_exit() {
    e2e_restore_peers || true
    e2e_reset_session "$phone"
}
# The phone keeps its own copy of the key, so it can send while the keyring is gone.
send_peer_code() { send_code "$1" 120 --key-file "$work/sync-key"; }

e2e_reset_session "$phone"
store_sync_key
"$phone" key export | base64 -d >"$work/sync-key"

start_headless notifications
stop_peer org.freedesktop.Notifications dunst
send_peer_code 411111
expect 15 "without a notification server the code was not published" published 411111
expect 15 "the failed notification was not logged" logged notifications "the notification could not be shown: "
start_peer org.freedesktop.Notifications
no_notification_shows || fail "the new server shows something already"
send_peer_code 422222
expect 15 "the code after the server came back was not published" published 422222
expect 15 "the notification did not show once the server was back" a_notification_shows
e2e_stop_clean notifications
ok "without a notification server codes are published and the failure is logged; once it is back, notifications show again"

start_headless keyring
stop_peer org.freedesktop.secrets gnome-keyring
send_peer_code 433333
expect 15 "the keyring's absence was not named" logged keyring "keyring: the keyring service is not running"
published 433333 && fail "a code was published while its key could not be read"
start_peer org.freedesktop.secrets
expect 20 "the waiting code was not published once the keyring ran again" published 433333
logged keyring "keyring: answers again" || fail "the keyring's return was not logged"
e2e_stop_clean keyring
ok "with the keyring gone the app says the keyring service is not running and the code waits; once it runs again, the code is published"

if [[ ${ZORVIK_TRAY_WATCHER_RUNNING:-0} != 1 ]]; then
    echo "skipped the tray watcher's restart: the session runs no tray watcher"
    exit 0
fi
# The tray app, as a login starts it.
start_app tray --log-to-stderr
send_peer_code 444444
expect 15 "the item does not show the code" item_label_is "${e2e_pids[tray]}" "444 444"
stop_peer org.kde.StatusNotifierWatcher tray-watcher
start_peer org.kde.StatusNotifierWatcher
within 10 item_label_is "${e2e_pids[tray]}" "444 444" ||
    fail "after the watcher's restart the item is $(item_of "${e2e_pids[tray]}" || echo "not listed")"
e2e_stop_clean tray
ok "with the tray watcher gone and back, the item registers again and shows the code"
