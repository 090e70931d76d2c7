#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# ZorvikMac --pair through the web service (the double) with the session stored at sign-in: the
# key lands in the keychain, the session --pair rotated stays good for the app, and a session the
# service no longer takes is reported at once.
# shellcheck source-path=SCRIPTDIR disable=SC2154 # e2e_begin sets the arguments' variables
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
source "$e2e_here/pair-common.sh"
e2e_begin pair-web.sh "app_binary phone double_script" "$@"
export QT_QPA_PLATFORM=xcb
work=$(mktemp -d -p "$ZORVIK_SESSION_DIR" pair-web.XXXXXX)
web_double_start "$double_script" "$work"
e2e_on_exit() {
    stop_pair
    web_forget_session
    e2e_reset_session "$phone"
}

head -c 32 /dev/urandom >"$work/key"
key=$(base64 -w 0 "$work/key")
"$phone" key delete 2>/dev/null
web_forget_session
web_sign_in
ok "signed in to the web double"

fault '{"endpoint": "users/caller", "fault": "421", "count": 1}'
start_pair refused "${cloud_flags[@]}"
read_pair_uri
within 10 screen_shows "the cloud says no one is signed in" ||
    fail "--pair did not report the refused session: $(pair_screen)"
printf '\003' >&"$e2e_terminal_keys" # Ctrl+C
wait_pair 10 1
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
[[ ! -e $e2e_cloud_zone/key-handoff.json ]] || fail "the hand-off went to the embedded cloud"
expect_paired "$work/key"
state | python3 -c 'import json, sys; sys.exit("key-handoff" not in json.load(sys.stdin)["records"])' ||
    fail "the double holds no hand-off record"
ok "the hand-off came through the web service and --pair stored the key"

# --pair kept the session's newest token: the app goes on signed in.
e2e_start after "$app_binary" --headless --log-to-stderr "${cloud_flags[@]}" --sign-in-port "$sign_in_port"
expect 10 "the app is not signed in after the pairing" logged after "check cloud: ok — iCloud: signed in"
expect 10 "the app did not register for pushes after the pairing" logged after "push registered"
logged after "sign-in: open" && fail "the app had to sign in again after the pairing"
send_code 577215 60 "${cloud_flags[@]}" --key-file "$work/key" || fail "the phone could not send a code"
expect 10 "the app did not open the code sealed with the paired key" published 577215
[[ $(spent_tokens) == 0 ]] || fail "$(spent_tokens) calls carried a spent session token"
ok "after the pairing the app is still signed in and opens codes with the new key"

grep -qF "$key" "$logs"/* && fail "the sync key reached a log or the terminal"
ok "the sync key never reached the terminal or a log"
