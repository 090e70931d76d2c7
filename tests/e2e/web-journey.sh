#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The cloud's web service (the local double): sign-in at a terminal against stray and forged
# returns, courier push and polling, the rotated session surviving SIGKILL, each account-check
# fault as its row, and a start while the keyring does not answer.
# shellcheck source-path=SCRIPTDIR disable=SC2154 # e2e_begin sets the arguments' variables
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
e2e_begin web-journey.sh "app_binary phone double_script" "$@"
export QT_QPA_PLATFORM=xcb
work=$(mktemp -d -p "$ZORVIK_SESSION_DIR" web-journey.XXXXXX)
log=$logs/app.log
web_double_start "$double_script" "$work"
keyring=
e2e_on_exit() {
    web_forget_session
    e2e_reset_session "$phone"
}
# The keyring daemon, held stopped below, answers again before the app is stopped.
trap 'if [[ -n $keyring ]]; then kill -CONT "$keyring"; fi; e2e_end' EXIT
polling() { state | python3 -c 'import json,sys; t=json.load(sys.stdin)["courierTokens"]; sys.exit(0 if any(v["polling"] for v in t.values()) else 1)'; }
not_polling() { ! polling; }
app_flags=(--headless --log-to-stderr "${cloud_flags[@]}" --sign-in-port "$sign_in_port")
start_web_app() { e2e_start app "$app_binary" "${app_flags[@]}"; }
callback="http://127.0.0.1:$sign_in_port/zorvik-signin"
status_of() { curl -s -o /dev/null -w '%{http_code}' "$@"; }
no_session_stored() { ! secret-tool lookup service net.brontal.zorvik.cloudkit account web-auth-token >/dev/null 2>&1; }
count() { grep -c -- "$1" "$log" || true; }
# Whether the log has more lines holding $1 than $2.
more_than() { (($(count "$1") > $2)); }
# The log since line $from.
since() { tail -n "+$from" "$log"; }
since_holds() { since | grep -q -- "$1"; }

"$phone" key generate --force 2>/dev/null
web_forget_session

start_app_at_terminal "${app_flags[@]}" --sign-in
expect 10 "the app did not offer the sign-in page" grep -q "sign-in: open .* in a browser" "$log"
page=$(grep -o "sign-in: open [^ ]* in a browser" "$log" | head -n 1 | cut -d' ' -f3)
# Before the browser is back, anyone may call: none of these ends the sign-in or is stored.
evil=(-H "Origin: https://evil.example")
[[ $(status_of "${evil[@]}" -X POST "$callback?ckWebAuthToken=x") == 405 ]] || fail "a POST was not refused"
[[ $(status_of "${evil[@]}" -X OPTIONS -H "Access-Control-Request-Method: GET" "$callback") == 405 ]] ||
    fail "a preflight was not refused"
[[ $(status_of "$callback") == 400 ]] || fail "a callback without a session was not refused"
[[ $(status_of "${evil[@]}" "$callback?ckWebAuthToken=junk%2Btoken") == 400 ]] || fail "a junk session was not refused"
printf 'NOT HTTP\r\n\r\n' >/dev/tcp/127.0.0.1/"$sign_in_port" || fail "the listener went away after the strays"
expect 10 "the junk session was not checked with the service" \
    logged app "sign-in: a session came back that iCloud does not accept"
no_session_stored || fail "a refused session was stored"
ok "a POST, a preflight, a callback without a session, junk and a malformed request leave the sign-in waiting"

answer=$(curl -fsSL "$page") || fail "the browser could not follow the sign-in page"
[[ $answer == "Go back to Zorvik and confirm the account to finish signing in. You can close this page." ]] ||
    fail "the listener answered: $answer"
expect 10 "the terminal did not ask about the account" logged app "with the account user@example.com"
no_session_stored || fail "the session was stored before the user confirmed it"
type_in yes
expect 10 "the cloud row does not name the account signed in to" \
    logged app "check cloud: ok — iCloud: signed in as user@example.com"
expect 10 "push did not register" logged app "push registered"
expect 10 "the subscription was not saved in the web service" \
    bash -c "curl -fsS '$url/_double/state' | grep -q pending-code-changes"
expect 10 "the app is not polling the courier" polling
ok "signed in as the account confirmed at the terminal; the courier long-poll is open"

send_code 482913 60 "${cloud_flags[@]}" || fail "the phone could not write the record"
expect 5 "the code did not arrive" published 482913
expect 3 "the code did not come by push" logged app "push received: subscription pending-code-changes"
ok "a code written through the web service arrived by courier push"

fault '{"endpoint": "courier", "fault": "503"}'
# The poll open now still gets its frame; wait until it has ended and the next one failed.
expect 10 "the courier poll did not end" not_polling
account=Bank send_code 551177 60 "${cloud_flags[@]}" || fail "the phone could not write the second record"
expect 15 "the code did not arrive by polling" published 551177
[[ $(count "push received") == 1 ]] || fail "the second code came by push, not by polling"
ok "with the courier answering 503 the code arrived by polling"
no_faults

# The restarted app goes on with the last rotated token.
kill -KILL "${e2e_pids[app]}"
stop_app
spent_before=$(spent_tokens)
signed_in_before=$(count "check cloud: ok — iCloud: signed in")
start_web_app
expect 15 "the restarted app is not signed in" more_than "check cloud: ok — iCloud: signed in" "$signed_in_before"
[[ $(spent_tokens) == "$spent_before" ]] || fail "the restarted app sent a spent token ($spent_before → $(spent_tokens))"
[[ $(count "sign-in: open") == 1 ]] || fail "the restarted app asked to sign in again"
ok "after SIGKILL the restarted app is signed in with the newest token"

# Someone else's valid session sent the browser's way back while the user signs in again: the
# terminal names it; turned down, it is never used.
e2e_stop app
start_app_at_terminal "${app_flags[@]}" --sign-in
expect 10 "the second sign-in did not start" more_than "sign-in: open" 1
answer=$(curl -fsSL "$url/signin?account=mallory@example.com") || fail "the forged return was not answered"
[[ $answer == Go\ back\ to\ Zorvik* ]] || fail "the listener answered the forged return: $answer"
expect 10 "the terminal did not name the other account" logged app "with the account mallory@example.com"
expect 10 "the cloud row does not ask about the other account" \
    logged app "check cloud: pending — iCloud: use mallory@example.com?"
from=$(($(wc -l <"$log") + 1))
type_in no
expect 10 "the answer no was not taken" logged app "sign-in: the user turned the account down"
expect 10 "the app did not stay with the user's own account" \
    since_holds "check cloud: ok — iCloud: signed in as user@example.com"
since | grep "check cloud" | grep -q mallory && fail "the other account was used"
ok "another account's session sent to the listener is named at the terminal and, turned down, never used"

stop_app
check_fault() {
    local rule=$1 row="check cloud: failed — $2" before
    no_faults
    fault "$rule"
    before=$(count "$row")
    start_web_app
    expect 10 "$rule did not give the row '$2'" more_than "$row" "$before"
    e2e_stop app
}
check_fault '{"endpoint": "users/caller", "fault": "421"}' "iCloud: not signed in"
check_fault '{"endpoint": "users/caller", "fault": "401"}' "iCloud: not signed in"
check_fault '{"endpoint": "users/caller", "fault": "403-adp"}' "iCloud: restricted"
check_fault '{"endpoint": "users/caller", "fault": "429", "retryAfter": 1}' "iCloud: temporarily unavailable"
check_fault '{"endpoint": "users/caller", "fault": "503"}' "iCloud: temporarily unavailable"
check_fault '{"endpoint": "users/caller", "fault": "500"}' "iCloud: temporarily unavailable"
check_fault '{"endpoint": "users/caller", "fault": "drop"}' "iCloud: could not determine the account state"
check_fault '{"endpoint": "users/caller", "fault": "non-json"}' "iCloud: could not determine the account state"
ok "421, 401, 403, 429, 503, 500, a dropped connection and a non-JSON body give their rows"

# When the fault ends, the next check (15 s later while a row needs attention) recovers.
no_faults
fault '{"endpoint": "users/caller", "fault": "503"}'
ok_before=$(count "check cloud: ok")
start_web_app
expect 10 "the 503 did not show" \
    grep -q "check cloud: failed — iCloud: temporarily unavailable" <(tail -n 40 "$log")
no_faults
expect 20 "the app did not recover when the fault ended" more_than "check cloud: ok" "$ok_before"
ok "the row recovers at the next check once the service answers again"

# The stored session is read without blocking the start; the cloud is chosen once the keyring
# answers.
e2e_stop app
keyring=$(bus_owner_pid org.freedesktop.secrets)
[[ -n $keyring ]] || fail "no process owns org.freedesktop.secrets"
kill -STOP "$keyring"
from=$(($(wc -l <"$log") + 1))
start_web_app
expect 10 "the app did not start while the keyring does not answer" since_holds "start: version"
since | grep -q "^.*cloud: " && fail "a cloud was chosen without the keyring's answer"
kill -CONT "$keyring"
keyring=
expect 10 "the stored session was not found once the keyring answered" since_holds "cloud: iCloud on the web"
expect 10 "the app did not sign in once the keyring answered" since_holds "check cloud: ok — iCloud: signed in"
ok "started while the keyring does not answer, the app chooses the web once it answers"

for code in 482913 551177; do
    grep -qE "${code:0:3} ?${code:3}" "$log" && fail "the code $code reached a log line"
done
token=$(secret-tool lookup service net.brontal.zorvik.cloudkit account web-auth-token)
[[ -n $token ]] || fail "no session in the keychain"
grep -qF "$token" "$log" && fail "the session token reached a log line"
ok "no code or session token in the log"
