#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# ZorvikMac --pair at a terminal through the embedded cloud, answered by zorvik-phone pair: the
# key lands in the keychain while a headless copy running all along opens the next code with it.
# Hand-offs for another offer are ignored; Ctrl+C or SIGTERM end the wait with the key unchanged.
# shellcheck source-path=SCRIPTDIR disable=SC2154 # e2e_begin sets the arguments' variables
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
source "$e2e_here/pair-common.sh"
e2e_begin pair-terminal.sh "app_binary phone" "$@"
export QT_QPA_PLATFORM=xcb
work=$(mktemp -d -p "$ZORVIK_SESSION_DIR" pair-terminal.XXXXXX)
handoff=$e2e_cloud_zone/key-handoff.json
e2e_on_exit() {
    stop_pair
    e2e_reset_session "$phone"
}
random_base64url() {
    python3 -c 'import base64, os, sys; print(base64.urlsafe_b64encode(os.urandom(int(sys.argv[1]))).rstrip(b"=").decode())' "$1"
}
key_unchanged() { [[ $("$phone" key export) == "$key" ]] || fail "$1 changed the key"; }

# The phone's key, which this computer does not have yet.
head -c 32 /dev/urandom >"$work/key"
key=$(base64 -w 0 "$work/key")
e2e_reset_session "$phone"

status=0
"$phone" pair "zorvik://pair?v=2&id=x&pk=y" --key-file "$work/key" 2>"$work/refused" || status=$?
[[ $status == 2 ]] || fail "a code of another version gave $status"
grep -q "a pairing code of another version" "$work/refused" || fail "the refusal said: $(cat "$work/refused")"
[[ ! -e $handoff ]] || fail "a refused code left a record"
ok "zorvik-phone pair refuses another version's code with exit 2"

# A copy receiving codes, which the pairing must leave alone.
e2e_start app "$app_binary" --headless
app=${e2e_pids[app]}
expect 10 "the running copy did not start" logged app "subscription saved"

start_pair first
read_pair_uri
screen_shows "Waiting for the key through the embedded cloud" ||
    fail "--pair did not say which cloud it waits on: $(pair_screen)"
screen_shows "Scan this code in Zorvik on your iPhone" || fail "no word on what to do"
check_terminal_qr "$pair_uri"
ok "--pair shows a QR code (margin, finder patterns) that reads as the text beneath it"

"$phone" pair "$pair_uri" --key-file "$work/key" 2>/dev/null || fail "the phone could not answer"
[[ -s $handoff ]] || fail "the phone's answer is not in the embedded cloud"
expect_paired "$work/key"
ok "the hand-off stored the phone's key and --pair exited 0"

kill -0 "$app" 2>/dev/null || fail "the running copy quit during the pairing"
grep -Eq "took over|quitting|asking the older copy" "$logs/app.log" && fail "the pairing took over from the running copy"
send_code 662607 30 --key-file "$work/key"
expect 5 "the running copy did not open a code sealed with the new key" published 662607
ok "the running copy stayed and opened the next code with the paired key"

# Another pairing ID, then this ID sealed to another desktop key: each ignored with one log line
# (on the terminal with --log-to-stderr only), and the wait goes on. The first record is taken
# away, so that the line can only come from the one written here.
rm -f "$handoff"
start_pair second --log-to-stderr
read_pair_uri
head -c 32 /dev/urandom >"$work/other-key"
id=$(grep -Eo 'id=[A-Za-z0-9_-]+' <<<"$pair_uri")
pk=$(grep -Eo 'pk=[A-Za-z0-9_-]+' <<<"$pair_uri")
"$phone" pair "${pair_uri/$id/id=$(random_base64url 16)}" --key-file "$work/other-key" 2>/dev/null
within 10 screen_shows "ignored a hand-off for another pairing" ||
    fail "a hand-off for another pairing ID was not reported: $(pair_screen)"
"$phone" pair "${pair_uri/$pk/pk=$(random_base64url 32)}" --key-file "$work/other-key" 2>/dev/null
within 10 screen_shows "ignored a hand-off whose seal does not open" ||
    fail "a hand-off sealed to another key was not reported: $(pair_screen)"
sleep 2.5 # a lookup or more after the last record
kill -0 "$pair_pid" 2>/dev/null || fail "--pair ended on a hand-off for another offer: $(pair_screen)"
key_unchanged "a hand-off for another offer"
ok "hand-offs for another pairing ID or another desktop key are ignored, the wait goes on"

printf '\003' >&"$e2e_terminal_keys" # Ctrl+C
wait_pair 10 1
screen_shows "pairing cancelled by SIGINT; the sync key is unchanged" ||
    fail "Ctrl+C was not explained: $(pair_screen)"
screen_shows "The sync key from your iPhone is stored" && fail "a cancelled pairing claims success"
key_unchanged "Ctrl+C"
ok "Ctrl+C ends the wait with exit 1 and the key unchanged"

# The second offer's record is in the cloud now; a later offer ignores it without a word, as it
# would every finished pairing's (without a journal that line reaches the terminal as a log line).
start_pair third
read_pair_uri
sleep 2.5 # a lookup or more
kill -TERM "$pair_app_pid"
wait_pair 10 1
screen_shows "pairing cancelled by SIGTERM" || fail "SIGTERM was not explained: $(pair_screen)"
said=$(pair_screen | grep -F "another pairing" || true)
e2e_journal_listens || said=$(grep -v "^ZorvikMac \[info\] [^ ]* pairing: ignored" <<<"$said" || true)
[[ -z $said ]] || fail "the last pairing's record was reported: $(pair_screen)"
ok "SIGTERM ends the wait with exit 1; an earlier offer's record is not reported"

kill -0 "$app" 2>/dev/null || fail "the running copy quit during the later pairings"
grep -qF "$key" "$logs"/* && fail "the sync key reached the terminal or the log"
ok "the running copy outlived every pairing; the key never reached the terminal or the log"
