#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# End to end in tray mode with a Secret Service that stops answering for a while (the keyring
# daemon paused with SIGSTOP): the key is read without blocking, so while a fetch waits for the
# keyring the popover still opens and the item's label still follows its code (cleared at its
# expiry); once the keyring answers again, the waiting code is published. The key the app keeps
# in memory follows the keyring: deleted there (secret-tool clear), the next code waits for a
# key exactly as with no key at all. Started while the keyring does not answer, the app shows its
# item and popover at once and completes its start once the keyring answers.
set -euo pipefail

# shellcheck source=tests/e2e/session.sh
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
e2e_begin slow-keyring.sh "ZORVIKMAC ZORVIK_PHONE" "$@"
app_binary=$1
phone=$2
export QT_QPA_PLATFORM=xcb
XDG_CONFIG_HOME=$(mktemp -d -p "$ZORVIK_SESSION_DIR" slow-config.XXXXXX)
export XDG_CONFIG_HOME
latest=$e2e_shared_dir/latest-code.json
key=$(mktemp -p "$ZORVIK_SESSION_DIR" slow-key.XXXXXX)
keyring=""

label() {
    gdbus call --session -d "$item" -o /StatusNotifierItem \
        -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierItem XAyatanaLabel 2>/dev/null
}
# Sets `item` to the bus name of the app's status item once the watcher lists it (10 s at most).
item_of_app() {
    local i
    for ((i = 0; i < 200; i++)); do
        item=$(gdbus call --session -d org.kde.StatusNotifierWatcher -o /StatusNotifierWatcher \
            -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher \
            RegisteredStatusNotifierItems 2>/dev/null |
            grep -o "org.kde.StatusNotifierItem-$app-[0-9]*" | head -n 1) || true
        [[ -n $item ]] && return 0
        sleep 0.05
    done
    return 1
}
label_is() { [[ $(label) == "(<'$1'>,)" ]]; }
e2e_on_exit() { e2e_reset_session "$phone"; }
# The keyring answers again before the harness stops the app, which may be waiting for it.
trap 'if [[ -n $keyring ]]; then kill -CONT "$keyring" 2>/dev/null || true; fi; e2e_end' EXIT

# The keyring daemon of this session: the owner of the Secret Service's name on its bus.
keyring=$(gdbus call --session -d org.freedesktop.DBus -o /org/freedesktop/DBus \
    -m org.freedesktop.DBus.GetConnectionUnixProcessID org.freedesktop.secrets |
    grep -o '[0-9]\+' | tail -n 1)
[[ -n $keyring ]] || fail "no process owns org.freedesktop.secrets"

e2e_reset_session "$phone"
"$phone" key generate --force 2>/dev/null
e2e_start app "$app_binary" --log-to-stderr
app=${e2e_pids[app]}
item_of_app || fail "the status item did not register"
# The first run opens the popover; it is closed again so that opening it is what is tested.
# (It may be re-shown once after its first layout, under a new window id: Escape goes to the
# window that has the keyboard.)
if e2e_visible_window "$app" 3 >/dev/null; then
    sleep 0.5
    xdotool key Escape
    expect 3 "the popover did not close" bash -c "! xdotool search --onlyvisible --pid $app >/dev/null 2>&1"
fi

"$phone" send --account "Work GitHub" --service github --code 161803 --ttl 6 2>/dev/null
within 5 label_is "161 803" || fail "the label reads $(label)"
ok "the first code is on the label"

# A new key (the keyring reports it, so the key in memory goes), then the keyring stops
# answering and a code sealed with the new key arrives: its fetch has to wait.
"$phone" key generate --force 2>/dev/null
"$phone" key export | base64 -d >"$key"
kill -STOP "$keyring"
stopped_at=$SECONDS
"$phone" send --key-file "$key" --account "Work GitHub" --service github --code 271828 \
    --ttl 60 2>/dev/null

gdbus call --session -d "$item" -o /StatusNotifierItem \
    -m org.kde.StatusNotifierItem.Activate 0 0 >/dev/null || fail "the item did not take the click"
e2e_visible_window "$app" 2 >/dev/null || fail "the popover did not open while the keyring hangs"
ok "the popover opens while the keyring does not answer"
within 8 label_is "" || fail "the label was not cleared at its code's expiry: $(label)"
grep -q '"code":"271828"' "$latest" 2>/dev/null && fail "the code was opened without the keyring"
(( SECONDS - stopped_at < 10 )) || fail "the checks took too long to mean anything"
ok "the label follows its code while the keyring does not answer"

kill -CONT "$keyring"
expect 10 "the waiting code was not published once the keyring answered" \
    grep -qs '"code":"271828"' "$latest"
within 5 label_is "271 828" || fail "the label reads $(label)"
ok "once the keyring answers, the waiting code is published"

secret-tool clear service net.brontal.zorvik.sync account sync-key
"$phone" send --key-file "$key" --account "Work GitHub" --service github --code 141421 \
    --ttl 60 2>/dev/null
expect 10 "a code opened with a key deleted from the keyring" \
    logged app "fetch: record present, no sync key yet"
grep -q '"code":"141421"' "$latest" 2>/dev/null && fail "the deleted key still opened a code"
ok "a key deleted from the keyring opens no more codes"
for code in 161803 271828 141421; do
    logged app "$code" && fail "a code reached the log"
done
ok "no code reached the log"

# Started while the keyring does not answer: neither the stored session nor the key holds up
# the status item or the popover; the start completes once the keyring answers.
e2e_stop app
"$phone" clear 2>/dev/null
"$phone" key generate --force 2>/dev/null
kill -STOP "$keyring"
e2e_start second-start "$app_binary" --log-to-stderr
app=${e2e_pids[second-start]}
item_of_app || fail "the status item did not register while the keyring does not answer"
gdbus call --session -d "$item" -o /StatusNotifierItem \
    -m org.kde.StatusNotifierItem.Activate 0 0 >/dev/null || fail "the item did not take the click"
e2e_visible_window "$app" 2 >/dev/null || fail "the popover did not open while the keyring hangs"
logged second-start "subscription saved" && fail "the start completed without the keyring"
ok "started while the keyring does not answer, the item and the popover are there"
kill -CONT "$keyring"
expect 10 "the start did not complete once the keyring answered" logged second-start "subscription saved"
expect 10 "no fetch once the keyring answered" logged second-start "fetch: nothing pending"
ok "once the keyring answers, the start completes"
