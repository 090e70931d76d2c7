#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# ZorvikMac --headless: a code sent before the start is picked up; SIGTERM, SIGINT and SIGHUP each
# clear its code off the clipboard once (seen through XFixes) and leave the user's own text; the
# cloud and sync-key rows fail without an account or a key and turn ok once it is back.
# shellcheck source-path=SCRIPTDIR disable=SC2154 # e2e_begin sets the arguments' variables
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
e2e_begin lifecycle.sh "app_binary phone clipboard_watch" "$@"
export QT_QPA_PLATFORM=xcb
e2e_own_config
e2e_on_exit() {
    "$phone" account available 2>/dev/null || true
    e2e_reset_session "$phone"
}

clipboard_is_empty() { ! xclip -selection clipboard -o >/dev/null 2>&1; }
# The lines the clipboard watcher printed after it was ready.
watched() { sed -n '2,$p' "$logs/watch-$1.log"; }
last_watched_is_a_take() { [[ $(watched "$1" | tail -n 1) == "set-owner some "* ]]; }
watched_owner_go() { watched "$1" | grep -qE '^(client-close|window-destroy)$'; }
start_watcher() {
    e2e_start "watch-$1" "$clipboard_watch"
    expect 5 "$1: the clipboard watcher did not start" grep -q '^ready owner' "$logs/watch-$1.log"
}
# Copies TEXT as a user's application would: xclip owns the clipboard until it is stopped.
copy_own_text() {
    e2e_start own-copy xclip -selection clipboard -quiet <(printf '%s' "$1")
    expect 2 "xclip could not copy '$1'" clipboard_is "$1"
}
# Ends the app started as NAME with SIGNAL and checks that it cleared the clipboard once: a
# fence put in the watcher's output (a client of ours taking the clipboard) shows that every
# change before it was printed.
expect_one_clear() {
    local name=$1 signal=$2 changes
    start_watcher "$name"
    grep -qx 'ready owner some' "$logs/watch-$name.log" || fail "$name: nobody owns the clipboard"
    e2e_stop_clean "$name" "$signal"
    clipboard_is_empty || fail "the clipboard still holds '$(clipboard)' after SIG$signal"
    copy_own_text "fence $name"
    expect 2 "$name: the watcher did not see the fence" last_watched_is_a_take "$name"
    changes=$(watched "$name" | sed '$d')
    e2e_stop own-copy
    [[ $changes == "set-owner none" ]] ||
        fail "SIG$signal: expected one explicit clear, the watcher saw: ${changes//$'\n'/; }"
    e2e_stop "watch-$name"
    ok "SIG$signal clears the clipboard explicitly, once"
}

e2e_reset_session "$phone"
"$phone" account available 2>/dev/null
"$phone" key generate --force 2>/dev/null

send_code 482913
[[ ! -e $latest ]] || fail "latest-code.json is there before the app started"
start_app waiting --headless
expect 5 "the waiting code was not published after the start" published 482913
expect 2 "no fetch of the waiting code" logged waiting "fetch: valid code for Work GitHub from "
! logged waiting "push received" || fail "the waiting code came by push, not by the fetch at the start"
within 3 clipboard_is 482913 || fail "the clipboard holds '$(clipboard)', not the code"
ok "a code sent while the app was not running is published when it starts"
expect_one_clear waiting TERM

for signal in INT HUP; do
    [[ $signal == INT ]] && code=715264 || code=803517
    start_app "$signal" --headless
    send_code "$code"
    within 5 clipboard_is "$code" || fail "SIG$signal: the clipboard holds '$(clipboard)', not the code"
    expect_one_clear "$signal" "$signal"
done

start_app own-text --headless
send_code 364051
within 5 clipboard_is 364051 || fail "own text: the clipboard holds '$(clipboard)', not the code"
copy_own_text "my own text"
start_watcher own-text
e2e_stop_clean own-text TERM
clipboard_is "my own text" || fail "the user's text is gone after SIGTERM: '$(clipboard)'"
e2e_stop own-copy
# The user's copy going away is the fence: the app changed nothing before it.
expect 2 "own text: the watcher did not see xclip go" watched_owner_go own-text
changes=$(watched own-text)
[[ $changes == client-close || $changes == window-destroy ]] ||
    fail "the app touched the user's clipboard, the watcher saw: ${changes//$'\n'/; }"
ok "ending the app leaves the user's own text on the clipboard"

# No record is waiting, so the fetches between the checks find nothing. A signed-out account is
# the user's to mend: the checks do not repeat for it every 15 s, and the next start finds it back.
"$phone" clear 2>/dev/null
"$phone" account no-account 2>/dev/null
start_app no-account --headless
logged no-account "check cloud: failed — Local cloud: not signed in" || fail "no failing cloud row without an account"
logged no-account "check syncKey: ok — Key received from your iPhone" || fail "the sync key row is not ok though the key is there"
"$phone" account available 2>/dev/null
sleep 20 # longer than the 15 s after which checks that may mend themselves repeat
[[ $(grep -c "check cloud:" "$logs/no-account.log") == 1 ]] || fail "the checks repeated for a signed-out account"
e2e_stop no-account
start_app account-back --headless
logged account-back "check cloud: ok — Local cloud: in use" || fail "the cloud row is not ok once the account is back"
e2e_stop account-back
ok "the cloud row fails without an account, is not checked again on its own, and is ok at the next start"

"$phone" key delete 2>/dev/null
start_app no-key --headless
logged no-key "check syncKey: pending — Keyring: waiting for the key" || fail "no waiting sync key row without a key"
logged no-key "check cloud: ok — Local cloud: in use" || fail "the cloud row is not ok"
"$phone" key generate 2>/dev/null
expect 20 "the sync key row did not turn ok at the next check" logged no-key "check syncKey: ok — Key received from your iPhone"
e2e_stop no-key
ok "the sync key row waits without a key and turns ok once there is one"

# The clipboard watcher's logs hold window ids, not codes.
rm -f "$logs"/watch-*.log
e2e_expect_no_code_in_logs 482913 715264 803517 364051
