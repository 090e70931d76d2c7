#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# End to end inside the private desktop session, around the life of ZorvikMac --headless:
#  - a code the phone sent while the app was not running is picked up when it starts;
#  - the checklist logs a failing iCloud row without an account and a waiting sync-key row
#    without a key, and both turn ok at the next check once the cause is gone;
#  - SIGTERM, SIGINT and SIGHUP each take the app's code off the clipboard exactly once before
#    it exits (an explicit clear, seen through XFixes, not the owner merely going away), and
#    leave text the user copied in place.
set -euo pipefail

# shellcheck source=tests/e2e/session.sh
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
e2e_begin lifecycle.sh "ZORVIKMAC ZORVIK_PHONE CLIPBOARD_WATCH" "$@"
app_binary=$1
phone=$2
clipboard_watch=$3
export QT_QPA_PLATFORM=xcb
# Settings of its own, so nothing this test does reaches the settings of later tests.
XDG_CONFIG_HOME=$(mktemp -d -p "$ZORVIK_SESSION_DIR" lifecycle-config.XXXXXX)
export XDG_CONFIG_HOME
shared=$e2e_shared_dir
latest=$shared/latest-code.json
# Every code this test sends; none of them may reach a log line (the clipboard watcher's, which
# hold window ids, are not searched).
codes=()
e2e_on_exit() {
    # The default account status too.
    "$phone" account available 2>/dev/null || true
    e2e_reset_session "$phone"
}

clipboard_is_empty() { ! xclip -selection clipboard -o >/dev/null 2>&1; }
# The lines the clipboard watcher printed after it was ready.
watched() { sed -n '2,$p' "$logs/watch-$1.log"; }
last_watched_is_a_take() { [[ $(watched "$1" | tail -n 1) == "set-owner some "* ]]; }
watched_owner_go() { watched "$1" | grep -qE '^(client-close|window-destroy)$'; }

# Starts the app as NAME and waits for its first round of checks.
start_app() {
    e2e_start "$1" "$app_binary" --headless
    expect 15 "$1: the app did not finish its checks" logged "$1" "check firstCode:"
}
# Sends a code that stays valid for the rest of the test.
send_code() {
    codes+=("$1")
    "$phone" send --account "Work GitHub" --service github --code "$1" --ttl 120 2>/dev/null
}
# Starts the clipboard watcher as watch-NAME and waits until it watches.
start_watcher() {
    e2e_start "watch-$1" "$clipboard_watch"
    expect 5 "$1: the clipboard watcher did not start" grep -q '^ready owner' "$logs/watch-$1.log"
}
# Copies TEXT the way a user's application would: xclip owns the clipboard until it is stopped.
copy_own_text() {
    e2e_start own-copy xclip -selection clipboard -quiet <(printf '%s' "$1")
    expect 2 "xclip could not copy '$1'" clipboard_is "$1"
}
# Sends SIGNAL to the app started as NAME and waits for it to exit with status 0.
signal_app() {
    local name=$1 signal=$2 status=0
    kill "-$signal" "${e2e_pids[$name]}"
    wait "${e2e_pids[$name]}" || status=$?
    unset "e2e_pids[$name]"
    [[ $status -eq 0 ]] || fail "the app exited with status $status after SIG$signal"
}
# Puts a fence in the watcher's output: once a client of ours has taken the clipboard, every
# change from before has been printed. Sets $changes to those changes.
changes_before_fence() {
    copy_own_text "fence $1"
    expect 2 "$1: the watcher did not see the fence" last_watched_is_a_take "$1"
    changes=$(watched "$1" | sed '$d')
    e2e_stop own-copy
}

"$phone" clear 2>/dev/null || true
rm -f "$shared"/latest-code.*
"$phone" account available 2>/dev/null
"$phone" key generate --force 2>/dev/null
dunstctl close-all 2>/dev/null || true

# --- A code sent while the app is not running arrives when it starts.
send_code 482913
[[ ! -e $latest ]] || fail "latest-code.json is there before the app started"
start_app waiting
expect 5 "latest-code.json did not appear after the start" test -f "$latest"
grep -q '"code":"482913"' "$latest" || fail "latest-code.json lacks the code"
expect 2 "no fetch of the waiting code" logged waiting "fetch: valid code for Work GitHub from "
! logged waiting "push received" || fail "the waiting code came by push, not by the fetch at the start"
within 3 clipboard_is 482913 || fail "the clipboard holds '$(clipboard)', not the code"
ok "a code sent while the app was not running is published when it starts"

# --- SIGTERM takes the app's code off the clipboard itself, once.
start_watcher term
grep -qx 'ready owner some' "$logs/watch-term.log" || fail "nobody owns the clipboard"
signal_app waiting TERM
clipboard_is_empty || fail "the clipboard still holds '$(clipboard)' after SIGTERM"
changes_before_fence term
[[ $changes == "set-owner none" ]] ||
    fail "SIGTERM: expected one explicit clear, the watcher saw: ${changes//$'\n'/; }"
e2e_stop watch-term
ok "SIGTERM clears the clipboard explicitly, once"

# --- SIGINT and SIGHUP do the same.
for signal in INT HUP; do
    [[ $signal == INT ]] && code=715264 || code=803517
    start_app "$signal"
    send_code "$code"
    within 5 clipboard_is "$code" || fail "SIG$signal: the clipboard holds '$(clipboard)', not the code"
    start_watcher "$signal"
    signal_app "$signal" "$signal"
    clipboard_is_empty || fail "the clipboard still holds '$(clipboard)' after SIG$signal"
    changes_before_fence "$signal"
    [[ $changes == "set-owner none" ]] ||
        fail "SIG$signal: expected one explicit clear, the watcher saw: ${changes//$'\n'/; }"
    e2e_stop "watch-$signal"
    ok "SIG$signal clears the clipboard explicitly, once"
done

# --- Text the user copied over the code stays when the app ends.
start_app own-text
send_code 364051
within 5 clipboard_is 364051 || fail "own text: the clipboard holds '$(clipboard)', not the code"
copy_own_text "my own text"
start_watcher own-text
signal_app own-text TERM
clipboard_is "my own text" || fail "the user's text is gone after SIGTERM: '$(clipboard)'"
e2e_stop own-copy
# The user's copy going away is the fence: the app changed nothing before it.
expect 2 "own text: the watcher did not see xclip go" watched_owner_go own-text
changes=$(watched own-text)
[[ $changes == client-close || $changes == window-destroy ]] ||
    fail "the app touched the user's clipboard, the watcher saw: ${changes//$'\n'/; }"
e2e_stop watch-own-text
ok "ending the app leaves the user's own text on the clipboard"

# --- Checklist without an iCloud account, and again once the account is back. No record is
# waiting, so the fetches between the checks find nothing.
"$phone" clear 2>/dev/null
"$phone" account no-account 2>/dev/null
start_app no-account
logged no-account "check cloud: failed — Local cloud: not signed in" ||
    fail "no failing cloud row without an account"
logged no-account "check syncKey: ok — Key received from your iPhone" ||
    fail "the sync key row is not ok though the key is there"
"$phone" account available 2>/dev/null
# The checks run again 15 s after a round that left something to see to.
expect 20 "the cloud row did not turn ok at the next check" \
    logged no-account "check cloud: ok — Local cloud: in use"
e2e_stop no-account
ok "the cloud row fails without an account and turns ok when it is back"

# --- Checklist without the sync key, and again once there is one.
"$phone" key delete 2>/dev/null
start_app no-key
logged no-key "check syncKey: pending — Keyring: waiting for the key" ||
    fail "no waiting sync key row without a key"
logged no-key "check cloud: ok — Local cloud: in use" || fail "the cloud row is not ok"
"$phone" key generate 2>/dev/null
expect 20 "the sync key row did not turn ok at the next check" \
    logged no-key "check syncKey: ok — Key received from your iPhone"
e2e_stop no-key
ok "the sync key row waits without a key and turns ok once there is one"

for code in "${codes[@]}"; do
    if grep -Eq --exclude='watch-*' -- "${code:0:3} ?${code:3}" "$logs"/*.log; then
        fail "the code $code reached a log line"
    fi
done
ok "no log line holds a code"
