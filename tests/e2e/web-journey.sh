#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# End to end with the cloud's web service, played by the local test double: ZorvikMac --headless
# --sign-in at a terminal opens the sign-in page (this script is the browser), takes the session
# back on its loopback listener while stray and forged requests leave it waiting, asks at the
# terminal whether to use the account the session belongs to, registers with the push courier, and publishes a code that zorvik-phone
# writes through the web service; the same code path by polling while the courier is down; the
# rotated session surviving a SIGKILL of the app; and a start while the keyring does not answer.
set -euo pipefail

# shellcheck source=tests/e2e/session.sh
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
e2e_begin web-journey.sh "ZORVIKMAC ZORVIK_PHONE CLOUDKIT_DOUBLE" "$@"
app_binary=$1
phone=$2
double_script=$3
export QT_QPA_PLATFORM=xcb
latest=$e2e_shared_dir/latest-code.json
work=$(mktemp -d -p "$ZORVIK_SESSION_DIR" web-journey.XXXXXX)
log=$logs/app.log
api_token=test-api-token

free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
sign_in_port=$(free_port)
e2e_start double python3 "$double_script" --port-file "$work/url" --api-token "$api_token" \
    --callback "http://127.0.0.1:$sign_in_port/zorvik-signin" --courier-hold 5
keyring=
e2e_on_exit() {
    secret-tool clear service net.brontal.zorvik.cloudkit account web-auth-token 2>/dev/null || true
    rm -f "${XDG_DATA_HOME:-$HOME/.local/share}/net.brontal.zorvik/cloudkit-subscriptions.json"
    e2e_reset_session "$phone"
}
# The keyring daemon is held stopped for a while below; it answers again before the app is
# stopped, which may ask it something on the way out.
trap '[[ -n $keyring ]] && kill -CONT "$keyring"; e2e_end' EXIT
expect 10 "the double did not start" test -s "$work/url"
url=$(cat "$work/url")
state() { curl -fsS "$url/_double/state"; }
fault() { curl -fsS -X POST -d "$1" "$url/_double/faults" >/dev/null; }
polling() { state | python3 -c 'import json,sys; t=json.load(sys.stdin)["courierTokens"]; sys.exit(0 if any(v["polling"] for v in t.values()) else 1)'; }
app_flags=(--headless --log-to-stderr --cloud-url "$url" --cloud-api-token "$api_token"
    --sign-in-port "$sign_in_port")
start_app() { e2e_start app "$app_binary" "${app_flags[@]}"; }
# The app at a terminal, where `type_in` types a line; ${e2e_pids[app]} is the app itself, which
# the harness stops at the end as it stops what e2e_start started.
start_app_at_terminal() {
    e2e_start_at_terminal "$work" "$log" "$app_binary" "${app_flags[@]}" "$@" ||
        fail "the app did not start at a terminal"
    e2e_pids[app]=$e2e_terminal_pid
}
type_in() { echo "$1" >&"$e2e_terminal_keys"; }
# Stops the app and waits until it has ended, also when it runs at a terminal and so is no child
# of this shell.
stop_app() {
    local pid=${e2e_pids[app]}
    e2e_stop app
    within 10 bash -c "! kill -0 $pid 2>/dev/null" || true
}
callback="http://127.0.0.1:$sign_in_port/zorvik-signin"
status_of() { curl -s -o /dev/null -w '%{http_code}' "$@"; }
no_session_stored() { ! secret-tool lookup service net.brontal.zorvik.cloudkit account web-auth-token >/dev/null 2>&1; }

"$phone" key generate --force 2>/dev/null
secret-tool clear service net.brontal.zorvik.cloudkit account web-auth-token 2>/dev/null || true

# Signing in: the app names the sign-in page; the "browser" follows it back to the app.
start_app_at_terminal --sign-in
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

# A code by push through the courier.
"$phone" send --cloud-url "$url" --cloud-api-token "$api_token" --account "Work GitHub" \
    --service github --code 482913 --ttl 60 2>/dev/null || fail "the phone could not write the record"
expect 5 "the code did not reach latest-code.json" grep -qs '"code":"482913"' "$latest"
expect 3 "the code did not come by push" logged app "push received: subscription pending-code-changes"
ok "a code written through the web service arrived by courier push"

# The courier down: the code still comes, by the background poll.
fault '{"endpoint": "courier", "fault": "503"}'
# The poll open now still gets its frame; wait until it has ended and the next one failed.
expect 10 "the courier poll did not end" bash -c "$(declare -f state polling); url=$url; ! polling"
"$phone" send --cloud-url "$url" --cloud-api-token "$api_token" --account "Bank" \
    --code 551177 --ttl 60 2>/dev/null || fail "the phone could not write the second record"
expect 15 "the code did not arrive by polling" grep -qs '"code":"551177"' "$latest"
[[ $(grep -c "push received" "$log") == 1 ]] || fail "the second code came by push, not by polling"
ok "with the courier answering 503 the code arrived by polling"
curl -fsS -X DELETE "$url/_double/faults" >/dev/null

# The session survives a SIGKILL: the restarted app goes on with the last rotated token.
kill -KILL "${e2e_pids[app]}"
stop_app
before=$(state | python3 -c 'import json,sys; print(sum(1 for r in json.load(sys.stdin)["requests"] if r["token"] == "used"))')
signed_in_before=$(grep -c "check cloud: ok — iCloud: signed in" "$log")
start_app
signed_in() { [[ $(grep -c "check cloud: ok — iCloud: signed in" "$log") -gt $signed_in_before ]]; }
expect 15 "the restarted app is not signed in" signed_in
after=$(state | python3 -c 'import json,sys; print(sum(1 for r in json.load(sys.stdin)["requests"] if r["token"] == "used"))')
[[ $before == "$after" ]] || fail "the restarted app sent a spent token ($before → $after)"
[[ $(grep -c "sign-in: open" "$log") == 1 ]] || fail "the restarted app asked to sign in again"
ok "after SIGKILL the restarted app is signed in with the newest token"

# Someone else's valid session, sent the browser's way back while the user signs in again: the
# service knows it, so the terminal asks; turned down, it is never used.
e2e_stop app
opened_before=$(grep -c "sign-in: open" "$log")
start_app_at_terminal --sign-in
expect 10 "the second sign-in did not start" bash -c "[[ \$(grep -c 'sign-in: open' '$log') -gt $opened_before ]]"
answer=$(curl -fsSL "$url/signin?account=mallory@example.com") || fail "the forged return was not answered"
[[ $answer == Go\ back\ to\ Zorvik* ]] || fail "the listener answered the forged return: $answer"
expect 10 "the terminal did not name the other account" logged app "with the account mallory@example.com"
expect 10 "the cloud row does not ask about the other account" \
    logged app "check cloud: pending — iCloud: use mallory@example.com?"
from=$(($(wc -l <"$log") + 1))
type_in no
expect 10 "the answer no was not taken" logged app "sign-in: the user turned the account down"
expect 10 "the app did not stay with the user's own account" \
    bash -c "tail -n +$from '$log' | grep -q 'check cloud: ok — iCloud: signed in as user@example.com'"
tail -n "+$from" "$log" | grep "check cloud" | grep -q mallory && fail "the other account was used"
ok "another account's session sent to the listener is named at the terminal and, turned down, never used"

# Each fault of the account check ends in the checklist text it stands for.
stop_app
check_fault() {
    local rule=$1 title=$2 before
    curl -fsS -X DELETE "$url/_double/faults" >/dev/null
    fault "$rule"
    before=$(grep -c "check cloud: failed — $title" "$log" || true)
    start_app
    expect 10 "$rule did not give the row '$title'" \
        bash -c "[[ \$(grep -c 'check cloud: failed — $title' '$log') -gt $before ]]"
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
curl -fsS -X DELETE "$url/_double/faults" >/dev/null
fault '{"endpoint": "users/caller", "fault": "503"}'
ok_before=$(grep -c "check cloud: ok" "$log")
start_app
expect 10 "the 503 did not show" \
    grep -q "check cloud: failed — iCloud: temporarily unavailable" <(tail -n 40 "$log")
curl -fsS -X DELETE "$url/_double/faults" >/dev/null
expect 20 "the app did not recover when the fault ended" \
    bash -c "[[ \$(grep -c 'check cloud: ok' '$log') -gt $ok_before ]]"
ok "the row recovers at the next check once the service answers again"

# Started while the keyring does not answer (its daemon stopped): the stored session is read
# without blocking the start, and the cloud is chosen once the keyring answers.
e2e_stop app
keyring=$(gdbus call --session -d org.freedesktop.DBus -o /org/freedesktop/DBus \
    -m org.freedesktop.DBus.GetConnectionUnixProcessID org.freedesktop.secrets |
    grep -o '[0-9]\+' | tail -n 1)
[[ -n $keyring ]] || fail "no process owns org.freedesktop.secrets"
kill -STOP "$keyring"
from=$(($(wc -l <"$log") + 1))
since_start() { tail -n "+$from" "$log"; }
start_app
expect 10 "the app did not start while the keyring does not answer" \
    bash -c "$(declare -f since_start); from=$from log=$log; since_start | grep -q 'start: version'"
since_start | grep -q "^.*cloud: " && fail "a cloud was chosen without the keyring's answer"
kill -CONT "$keyring"
keyring=
expect 10 "the stored session was not found once the keyring answered" \
    bash -c "$(declare -f since_start); from=$from log=$log; since_start | grep -q 'cloud: iCloud on the web'"
expect 10 "the app did not sign in once the keyring answered" \
    bash -c "$(declare -f since_start); from=$from log=$log; since_start | grep -q 'check cloud: ok — iCloud: signed in'"
ok "started while the keyring does not answer, the app chooses the web once it answers"

for secret in 482913 "482 913" 551177 "551 177"; do
    grep -q "$secret" "$log" && fail "the code $secret reached a log line"
done
token=$(secret-tool lookup service net.brontal.zorvik.cloudkit account web-auth-token)
[[ -n $token ]] || fail "no session in the keychain"
grep -qF "$token" "$log" && fail "the session token reached a log line"
ok "no code or session token in the log"
