#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# End to end with the cloud's web service, played by the local test double: once the app has
# signed in, ZorvikMac --pair looks for the hand-off through the web service with the stored
# session, zorvik-phone pair writes it there, and the key lands in the keychain. The session
# --pair used (and rotated) stays good for the app, which then opens a code sealed with the new
# key. A session the service no longer takes is reported at once.
set -euo pipefail

# shellcheck source=tests/e2e/session.sh
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
# shellcheck source=tests/e2e/pair-common.sh
source "$(dirname "${BASH_SOURCE[0]}")/pair-common.sh"
e2e_begin pair-web.sh "ZORVIKMAC ZORVIK_PHONE CLOUDKIT_DOUBLE" "$@"
app_binary=$1
phone=$2
double_script=$3
export QT_QPA_PLATFORM=xcb
latest=$e2e_shared_dir/latest-code.json
work=$(mktemp -d -p "$ZORVIK_SESSION_DIR" pair-web.XXXXXX)
log=$logs/app.log
api_token=test-api-token
embedded_handoff=${XDG_DATA_HOME:-$HOME/.local/share}/net.brontal.zorvik/cloud/iCloud.net.brontal.zorvik/private/_defaultZone/key-handoff.json

free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
sign_in_port=$(free_port)
e2e_start double python3 "$double_script" --port-file "$work/url" --api-token "$api_token" \
    --callback "http://127.0.0.1:$sign_in_port/zorvik-signin" --courier-hold 5
e2e_on_exit() {
    stop_pair
    secret-tool clear service net.brontal.zorvik.cloudkit account web-auth-token 2>/dev/null || true
    rm -f "${XDG_DATA_HOME:-$HOME/.local/share}/net.brontal.zorvik/cloudkit-subscriptions.json"
    e2e_reset_session "$phone"
}
expect 10 "the double did not start" test -s "$work/url"
url=$(cat "$work/url")
cloud_flags=(--cloud-url "$url" --cloud-api-token "$api_token")
state() { curl -fsS "$url/_double/state"; }
fault() { curl -fsS -X POST -d "$1" "$url/_double/faults" >/dev/null; }

head -c 32 /dev/urandom >"$work/key"
key=$(base64 -w 0 "$work/key")
"$phone" key delete 2>/dev/null
secret-tool clear service net.brontal.zorvik.cloudkit account web-auth-token 2>/dev/null || true

# Signed in once at a terminal, as the user does before pairing; the app then quits.
e2e_start_at_terminal "$work" "$log" "$app_binary" --headless --log-to-stderr "${cloud_flags[@]}" \
    --sign-in-port "$sign_in_port" --sign-in || fail "the app did not start at a terminal"
e2e_pids[app]=$e2e_terminal_pid # the harness stops it at the end, as it does what e2e_start started
expect 10 "the app did not offer the sign-in page" grep -q "sign-in: open .* in a browser" "$log"
page=$(grep -o "sign-in: open [^ ]* in a browser" "$log" | head -n 1 | cut -d' ' -f3)
curl -fsSL "$page" >/dev/null || fail "the browser could not follow the sign-in page"
expect 10 "the terminal did not ask about the account" logged app "with the account user@example.com"
echo yes >&"$e2e_terminal_keys"
expect 10 "the app did not sign in" logged app "check cloud: ok — iCloud: signed in"
# The app, at a terminal, is no child of this shell: wait until it has gone.
e2e_stop app
within 10 bash -c "! kill -0 $e2e_terminal_pid 2>/dev/null" || true
ok "signed in to the web double"

# A session the service turns away: --pair says so at once rather than wait in silence.
fault '{"endpoint": "users/caller", "fault": "421", "count": 1}'
start_pair refused "${cloud_flags[@]}"
read_pair_uri
within 10 screen_shows "the cloud says no one is signed in" ||
    fail "--pair did not report the refused session: $(pair_screen)"
printf '\003' >&"$e2e_terminal_keys"  # Ctrl+C
wait_pair 10
[[ $pair_status == 1 ]] || fail "Ctrl+C gave $pair_status"
ok "a session the service refuses is reported while --pair waits"

start_pair web "${cloud_flags[@]}"
read_pair_uri
screen_shows "Waiting for the key through iCloud on the web" ||
    fail "--pair does not wait on the web service: $(pair_screen)"
check_terminal_qr "$pair_uri"
expect 10 "--pair does not look the record up in the web service" \
    bash -c "curl -fsS '$url/_double/state' | grep -q records/lookup"
"$phone" pair "$pair_uri" "${cloud_flags[@]}" --key-file "$work/key" 2>/dev/null ||
    fail "the phone could not write the hand-off through the web service"
[[ ! -e $embedded_handoff ]] || fail "the hand-off went to the embedded cloud"
wait_pair 10
[[ $pair_status == 0 ]] || fail "--pair exited $pair_status after the hand-off: $(pair_screen)"
grep -qx "The sync key from your iPhone is stored." <(pair_screen) || fail "no success line: $(pair_screen)"
[[ $("$phone" key export) == "$key" ]] || fail "the keychain does not hold the phone's key"
state | python3 -c 'import json, sys; sys.exit("key-handoff" not in json.load(sys.stdin)["records"])' ||
    fail "the double holds no hand-off record"
ok "the hand-off came through the web service and --pair stored the key"

# --pair kept the session's newest token: the app goes on signed in, and opens a code sealed
# with the paired key.
e2e_start app-after-pairing "$app_binary" --headless --log-to-stderr "${cloud_flags[@]}" \
    --sign-in-port "$sign_in_port"
expect 10 "the app is not signed in after the pairing" \
    logged app-after-pairing "check cloud: ok — iCloud: signed in"
expect 10 "the app did not register for pushes after the pairing" logged app-after-pairing "push registered"
logged app-after-pairing "sign-in: open" && fail "the app had to sign in again after the pairing"
"$phone" send "${cloud_flags[@]}" --key-file "$work/key" --account "Work GitHub" \
    --service github --code 577215 --ttl 60 2>/dev/null || fail "the phone could not send a code"
expect 10 "the app did not open the code sealed with the paired key" grep -qs '"code":"577215"' "$latest"
spent=$(state | python3 -c 'import json, sys; print(sum(r["token"] == "used" for r in json.load(sys.stdin)["requests"]))')
[[ $spent == 0 ]] || fail "$spent calls carried a spent session token"
ok "after the pairing the app is still signed in and opens codes with the new key"

grep -qF "$key" "$logs"/* && fail "the sync key reached a log or the terminal"
ok "the sync key never reached the terminal or a log"
