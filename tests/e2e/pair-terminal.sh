#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# End to end inside the private desktop session, through the embedded cloud: ZorvikMac --pair at
# a terminal draws the pairing code and its text; zorvik-phone pair answers it as the phone does;
# the key lands in the keychain and --pair exits 0, while a headless copy that was running all
# along goes on and opens the next code with the new key. Then hand-offs for another offer are
# ignored and Ctrl+C or SIGTERM ends the wait with 1 and the key unchanged.
set -euo pipefail

# shellcheck source=tests/e2e/session.sh
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
# shellcheck source=tests/e2e/pair-common.sh
source "$(dirname "${BASH_SOURCE[0]}")/pair-common.sh"
e2e_begin pair-terminal.sh "ZORVIKMAC ZORVIK_PHONE" "$@"
app_binary=$1
phone=$2
export QT_QPA_PLATFORM=xcb
latest=$e2e_shared_dir/latest-code.json
work=$(mktemp -d -p "$ZORVIK_SESSION_DIR" pair-terminal.XXXXXX)
handoff=${XDG_DATA_HOME:-$HOME/.local/share}/net.brontal.zorvik/cloud/iCloud.net.brontal.zorvik/private/_defaultZone/key-handoff.json

random_base64url() {
    python3 -c 'import base64, os, sys; print(base64.urlsafe_b64encode(os.urandom(int(sys.argv[1]))).rstrip(b"=").decode())' "$1"
}

e2e_on_exit() {
    stop_pair
    rm -f "$handoff"
    e2e_reset_session "$phone"
}

# The phone's key, which this computer does not have yet.
head -c 32 /dev/urandom >"$work/key"
key=$(base64 -w 0 "$work/key")
"$phone" key delete 2>/dev/null
rm -f "$handoff"

# The phone tool refuses what is no pairing code, in the parser's words.
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
wait_pair 10
[[ $pair_status == 0 ]] || fail "--pair exited $pair_status after the hand-off: $(pair_screen)"
grep -qx "The sync key from your iPhone is stored." <(pair_screen) || fail "no success line: $(pair_screen)"
[[ $("$phone" key export) == "$key" ]] || fail "the keychain does not hold the phone's key"
ok "the hand-off stored the phone's key and --pair exited 0"

kill -0 "$app" 2>/dev/null || fail "the running copy quit during the pairing"
grep -Eq "took over|quitting|asking the older copy" "$logs/app.log" && fail "the pairing took over from the running copy"
"$phone" send --key-file "$work/key" --account "Work GitHub" --service github --code 662607 \
    --ttl 30 2>/dev/null
expect 5 "the running copy did not open a code sealed with the new key" \
    grep -qs '"code":"662607"' "$latest"
ok "the running copy stayed and opened the next code with the paired key"

# Hand-offs for another offer: another pairing ID, then this ID sealed to another desktop key.
# Each is ignored with one log line, and the wait goes on. The first pairing's record is taken
# away, so that the line for another pairing can only come from the one written here; the
# terminal shows that line with --log-to-stderr only (see the third pairing).
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
sleep 2.5  # a lookup or more after the last record
kill -0 "$pair_pid" 2>/dev/null || fail "--pair ended on a hand-off for another offer: $(pair_screen)"
[[ $("$phone" key export) == "$key" ]] || fail "a hand-off for another offer changed the key"
ok "hand-offs for another pairing ID or another desktop key are ignored, the wait goes on"

printf '\003' >&"$e2e_terminal_keys"  # Ctrl+C
wait_pair 10
[[ $pair_status == 1 ]] || fail "Ctrl+C gave $pair_status"
screen_shows "pairing cancelled by SIGINT; the sync key is unchanged" ||
    fail "Ctrl+C was not explained: $(pair_screen)"
screen_shows "The sync key from your iPhone is stored" && fail "a cancelled pairing claims success"
[[ $("$phone" key export) == "$key" ]] || fail "the key changed after Ctrl+C"
ok "Ctrl+C ends the wait with exit 1 and the key unchanged"

# The record of the second offer is in the cloud now; a later offer ignores it without a word
# on the terminal, as it would the record of every finished pairing. Where there is no journal,
# every log line goes to stderr and so to the terminal, that one too, but only as a log line.
start_pair third
read_pair_uri
sleep 2.5  # a lookup or more
kill -TERM "$pair_app_pid"
wait_pair 10
[[ $pair_status == 1 ]] || fail "SIGTERM gave $pair_status"
screen_shows "pairing cancelled by SIGTERM" || fail "SIGTERM was not explained: $(pair_screen)"
said=$(pair_screen | grep -F "another pairing" || true)
e2e_journal_listens || said=$(grep -v "^ZorvikMac \[info\] [^ ]* pairing: ignored" <<<"$said" || true)
[[ -z $said ]] || fail "the last pairing's record was reported: $(pair_screen)"
ok "SIGTERM ends the wait with exit 1; an earlier offer's record is not reported"

kill -0 "$app" 2>/dev/null || fail "the running copy quit during the later pairings"
grep -qF "$key" "$logs"/* && fail "the sync key reached the terminal or the log"
ok "the running copy outlived every pairing; the key never reached the terminal or the log"
