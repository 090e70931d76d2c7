#!/usr/bin/env bash
# End to end with the cloud's web service, played by the local test double: ZorvikMac --headless
# --sign-in at a terminal opens the sign-in page (this script is the browser), takes the session
# back on its loopback listener while stray and forged requests leave it waiting, asks at the
# terminal whether to use the account the session belongs to, registers with the push courier, and publishes a code that zorvik-phone
# writes through the web service; the same code path by polling while the courier is down; the
# rotated session surviving a SIGKILL of the app; and a start while the keyring does not answer.
set -euo pipefail

# shellcheck source=tests/e2e/session.sh
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
e2e_require_session web-journey.sh "ZORVIKMAC ZORVIK_PHONE CLOUDKIT_DOUBLE" "$@"
app_binary=$1
phone=$2
double_script=$3
export QT_QPA_PLATFORM=xcb
latest=$e2e_shared_dir/latest-code.json
work=$(mktemp -d -p "$ZORVIK_SESSION_DIR" web-journey.XXXXXX)
log=$work/app.log
api_token=test-api-token

fail() {
    echo "FAIL: $*"
    echo "--- app log"
    cat "$log" 2>/dev/null || true
    echo "--- double log"
    cat "$work/double.log" 2>/dev/null || true
    exit 1
}

free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
sign_in_port=$(free_port)
python3 "$double_script" --port-file "$work/url" --api-token "$api_token" \
    --callback "http://127.0.0.1:$sign_in_port/zorvik-signin" --courier-hold 5 \
    --log "$work/double.log" >/dev/null &
double=$!
app=
keyring=
cleanup() {
    [[ -n $keyring ]] && kill -CONT "$keyring"
    [[ -n $app ]] && kill "$app" 2>/dev/null && wait "$app" 2>/dev/null
    kill "$double" 2>/dev/null || true
    wait "$double" 2>/dev/null || true
    secret-tool clear service net.brontal.zorvik.cloudkit account web-auth-token 2>/dev/null || true
    rm -f "${XDG_DATA_HOME:-$HOME/.local/share}/net.brontal.zorvik/cloudkit-subscriptions.json"
    e2e_reset_session "$phone"
}
trap cleanup EXIT
within 10 test -s "$work/url" || fail "the double did not start"
url=$(cat "$work/url")
state() { curl -fsS "$url/_double/state"; }
fault() { curl -fsS -X POST -d "$1" "$url/_double/faults" >/dev/null; }
polling() { state | python3 -c 'import json,sys; t=json.load(sys.stdin)["courierTokens"]; sys.exit(0 if any(v["polling"] for v in t.values()) else 1)'; }
app_flags=(--headless --log-to-stderr --cloud-url "$url" --cloud-api-token "$api_token"
    --sign-in-port "$sign_in_port")
start_app() {
    "$app_binary" "${app_flags[@]}" "$@" >>"$log" 2>&1 &
    app=$!
}
# The app at a terminal, where `type_in` types a line; $app is the app itself.
start_app_at_terminal() {
    e2e_start_at_terminal "$work" "$log" "$app_binary" "${app_flags[@]}" "$@" ||
        fail "the app did not start at a terminal"
    app=$e2e_terminal_pid
}
type_in() { echo "$1" >&"$e2e_terminal_keys"; }
# Waits until process $1 has ended, whether or not it is a child of this shell.
gone() { wait "$1" 2>/dev/null || within 10 bash -c "! kill -0 $1 2>/dev/null" || true; }
callback="http://127.0.0.1:$sign_in_port/zorvik-signin"
status_of() { curl -s -o /dev/null -w '%{http_code}' "$@"; }
no_session_stored() { ! secret-tool lookup service net.brontal.zorvik.cloudkit account web-auth-token >/dev/null 2>&1; }

"$phone" key generate --force 2>/dev/null
secret-tool clear service net.brontal.zorvik.cloudkit account web-auth-token 2>/dev/null || true

# Signing in: the app names the sign-in page; the "browser" follows it back to the app.
start_app_at_terminal --sign-in
within 10 grep -q "sign-in: open .* in a browser" "$log" || fail "the app did not offer the sign-in page"
page=$(grep -o "sign-in: open [^ ]* in a browser" "$log" | head -n 1 | cut -d' ' -f3)

# Before the browser is back, anyone may call: none of these ends the sign-in or is stored.
evil=(-H "Origin: https://evil.example")
[[ $(status_of "${evil[@]}" -X POST "$callback?ckWebAuthToken=x") == 405 ]] || fail "a POST was not refused"
[[ $(status_of "${evil[@]}" -X OPTIONS -H "Access-Control-Request-Method: GET" "$callback") == 405 ]] ||
    fail "a preflight was not refused"
[[ $(status_of "$callback") == 400 ]] || fail "a callback without a session was not refused"
[[ $(status_of "${evil[@]}" "$callback?ckWebAuthToken=junk%2Btoken") == 400 ]] || fail "a junk session was not refused"
printf 'NOT HTTP\r\n\r\n' >/dev/tcp/127.0.0.1/"$sign_in_port" || fail "the listener went away after the strays"
within 10 grep -q "sign-in: a session came back that iCloud does not accept" "$log" ||
    fail "the junk session was not checked with the service"
no_session_stored || fail "a refused session was stored"
echo "ok: a POST, a preflight, a callback without a session, junk and a malformed request leave the sign-in waiting"

answer=$(curl -fsSL "$page") || fail "the browser could not follow the sign-in page"
[[ $answer == "Go back to Zorvik and confirm the account to finish signing in. You can close this page." ]] ||
    fail "the listener answered: $answer"
within 10 grep -q "with the account user@example.com" "$log" || fail "the terminal did not ask about the account"
no_session_stored || fail "the session was stored before the user confirmed it"
type_in yes
within 10 grep -q "check cloud: ok — iCloud: signed in as user@example.com" "$log" ||
    fail "the cloud row does not name the account signed in to"
within 10 grep -q "push registered" "$log" || fail "push did not register"
within 10 bash -c "curl -fsS '$url/_double/state' | grep -q pending-code-changes" ||
    fail "the subscription was not saved in the web service"
within 10 polling || fail "the app is not polling the courier"
echo "ok: signed in as the account confirmed at the terminal; the courier long-poll is open"

# A code by push through the courier.
"$phone" send --cloud-url "$url" --cloud-api-token "$api_token" --account "Work GitHub" \
    --service github --code 482913 --ttl 60 2>/dev/null || fail "the phone could not write the record"
within 5 grep -q '"code":"482913"' "$latest" 2>/dev/null || fail "the code did not reach latest-code.json"
within 3 grep -q "push received: subscription pending-code-changes" "$log" || fail "the code did not come by push"
echo "ok: a code written through the web service arrived by courier push"

# The courier down: the code still comes, by the background poll.
fault '{"endpoint": "courier", "fault": "503"}'
# The poll open now still gets its frame; wait until it has ended and the next one failed.
within 10 bash -c "$(declare -f state polling); url=$url; ! polling" || fail "the courier poll did not end"
"$phone" send --cloud-url "$url" --cloud-api-token "$api_token" --account "Bank" \
    --code 551177 --ttl 60 2>/dev/null || fail "the phone could not write the second record"
within 15 grep -q '"code":"551177"' "$latest" 2>/dev/null || fail "the code did not arrive by polling"
[[ $(grep -c "push received" "$log") == 1 ]] || fail "the second code came by push, not by polling"
echo "ok: with the courier answering 503 the code arrived by polling"
curl -fsS -X DELETE "$url/_double/faults" >/dev/null

# The session survives a SIGKILL: the restarted app goes on with the last rotated token.
kill -KILL "$app"
gone "$app"
app=
before=$(state | python3 -c 'import json,sys; print(sum(1 for r in json.load(sys.stdin)["requests"] if r["token"] == "used"))')
signed_in_before=$(grep -c "check cloud: ok — iCloud: signed in" "$log")
start_app
signed_in() { [[ $(grep -c "check cloud: ok — iCloud: signed in" "$log") -gt $signed_in_before ]]; }
within 15 signed_in || fail "the restarted app is not signed in"
after=$(state | python3 -c 'import json,sys; print(sum(1 for r in json.load(sys.stdin)["requests"] if r["token"] == "used"))')
[[ $before == "$after" ]] || fail "the restarted app sent a spent token ($before → $after)"
[[ $(grep -c "sign-in: open" "$log") == 1 ]] || fail "the restarted app asked to sign in again"
echo "ok: after SIGKILL the restarted app is signed in with the newest token"

# Someone else's valid session, sent the browser's way back while the user signs in again: the
# service knows it, so the terminal asks; turned down, it is never used.
kill "$app"
wait "$app" 2>/dev/null || true
opened_before=$(grep -c "sign-in: open" "$log")
start_app_at_terminal --sign-in
within 10 bash -c "[[ \$(grep -c 'sign-in: open' '$log') -gt $opened_before ]]" || fail "the second sign-in did not start"
answer=$(curl -fsSL "$url/signin?account=mallory@example.com") || fail "the forged return was not answered"
[[ $answer == Go\ back\ to\ Zorvik* ]] || fail "the listener answered the forged return: $answer"
within 10 grep -q "with the account mallory@example.com" "$log" || fail "the terminal did not name the other account"
within 10 grep -q "check cloud: pending — iCloud: use mallory@example.com?" "$log" ||
    fail "the cloud row does not ask about the other account"
from=$(($(wc -l <"$log") + 1))
type_in no
within 10 grep -q "sign-in: the user turned the account down" "$log" || fail "the answer no was not taken"
within 10 bash -c "tail -n +$from '$log' | grep -q 'check cloud: ok — iCloud: signed in as user@example.com'" ||
    fail "the app did not stay with the user's own account"
tail -n "+$from" "$log" | grep "check cloud" | grep -q mallory && fail "the other account was used"
echo "ok: another account's session sent to the listener is named at the terminal and, turned down, never used"

# Each fault of the account check ends in the checklist text it stands for.
kill "$app"
gone "$app"
app=
check_fault() {
    local rule=$1 title=$2 before
    curl -fsS -X DELETE "$url/_double/faults" >/dev/null
    fault "$rule"
    before=$(grep -c "check cloud: failed — $title" "$log" || true)
    start_app
    within 10 bash -c "[[ \$(grep -c 'check cloud: failed — $title' '$log') -gt $before ]]" ||
        fail "$rule did not give the row '$title'"
    kill "$app"
    wait "$app" 2>/dev/null || true
    app=
}
check_fault '{"endpoint": "users/caller", "fault": "421"}' "iCloud: not signed in"
check_fault '{"endpoint": "users/caller", "fault": "401"}' "iCloud: not signed in"
check_fault '{"endpoint": "users/caller", "fault": "403-adp"}' "iCloud: restricted"
check_fault '{"endpoint": "users/caller", "fault": "429", "retryAfter": 1}' "iCloud: temporarily unavailable"
check_fault '{"endpoint": "users/caller", "fault": "503"}' "iCloud: temporarily unavailable"
check_fault '{"endpoint": "users/caller", "fault": "500"}' "iCloud: temporarily unavailable"
check_fault '{"endpoint": "users/caller", "fault": "drop"}' "iCloud: could not determine the account state"
check_fault '{"endpoint": "users/caller", "fault": "non-json"}' "iCloud: could not determine the account state"
echo "ok: 421, 401, 403, 429, 503, 500, a dropped connection and a non-JSON body give their rows"

# When the fault ends, the next check (15 s later while a row needs attention) recovers.
curl -fsS -X DELETE "$url/_double/faults" >/dev/null
fault '{"endpoint": "users/caller", "fault": "503"}'
ok_before=$(grep -c "check cloud: ok" "$log")
start_app
within 10 grep -q "check cloud: failed — iCloud: temporarily unavailable" <(tail -n 40 "$log") ||
    fail "the 503 did not show"
curl -fsS -X DELETE "$url/_double/faults" >/dev/null
within 20 bash -c "[[ \$(grep -c 'check cloud: ok' '$log') -gt $ok_before ]]" ||
    fail "the app did not recover when the fault ended"
echo "ok: the row recovers at the next check once the service answers again"

# Started while the keyring does not answer (its daemon stopped): the stored session is read
# without blocking the start, and the cloud is chosen once the keyring answers.
kill "$app"
wait "$app" 2>/dev/null || true
app=
keyring=$(gdbus call --session -d org.freedesktop.DBus -o /org/freedesktop/DBus \
    -m org.freedesktop.DBus.GetConnectionUnixProcessID org.freedesktop.secrets |
    grep -o '[0-9]\+' | tail -n 1)
[[ -n $keyring ]] || fail "no process owns org.freedesktop.secrets"
kill -STOP "$keyring"
from=$(($(wc -l <"$log") + 1))
since_start() { tail -n "+$from" "$log"; }
start_app
within 10 bash -c "$(declare -f since_start); from=$from log=$log; since_start | grep -q 'start: version'" ||
    fail "the app did not start while the keyring does not answer"
since_start | grep -q "^.*cloud: " && fail "a cloud was chosen without the keyring's answer"
kill -CONT "$keyring"
keyring=
within 10 bash -c "$(declare -f since_start); from=$from log=$log; since_start | grep -q 'cloud: iCloud on the web'" ||
    fail "the stored session was not found once the keyring answered"
within 10 bash -c "$(declare -f since_start); from=$from log=$log; since_start | grep -q 'check cloud: ok — iCloud: signed in'" ||
    fail "the app did not sign in once the keyring answered"
echo "ok: started while the keyring does not answer, the app chooses the web once it answers"

for secret in 482913 "482 913" 551177 "551 177"; do
    grep -q "$secret" "$log" && fail "the code $secret reached a log line"
done
token=$(secret-tool lookup service net.brontal.zorvik.cloudkit account web-auth-token)
[[ -n $token ]] || fail "no session in the keychain"
grep -qF "$token" "$log" && fail "the session token reached a log line"
echo "ok: no code or session token in the log"
