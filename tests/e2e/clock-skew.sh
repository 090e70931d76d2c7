#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# End to end: ZorvikMac --headless receiving codes from a phone whose clock is an hour off this
# computer's (the phone tool dates its codes an hour back or ahead):
#  - this computer an hour ahead, every code arrives expired: it stays unpublished, and the log
#    says in plain words that this computer's clock is about 1 hour ahead;
#  - an hour behind, the code is published but held no longer than its own 90 s, and the log
#    says the clock is about 1 hour behind.
set -euo pipefail

# shellcheck source=tests/e2e/session.sh
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
e2e_begin clock-skew.sh "ZORVIKMAC ZORVIK_PHONE" "$@"
app_binary=$1
phone=$2
# shellcheck source=tests/e2e/headless-app.sh
source "$(dirname "${BASH_SOURCE[0]}")/headless-app.sh"
# Settings of its own, so nothing this test does reaches the settings of later tests.
e2e_on_exit() { e2e_reset_session "$phone"; }

# Starts the app as NAME and waits for its first round of checks. Without a display its
# clipboard is its own, so no other test's is touched.
# Stops the copy started as NAME; returns its exit status.
# Sends CODE, valid for 90 s, issued at the phone's clock: this computer's moved by OFFSET
# ("-1 hour": the phone is an hour behind this computer).
send_code() {
    "$phone" send --account "Clock $1" --service github --code "$1" --ttl 90 \
        --issued "$(date -u -d "$2" +%Y-%m-%dT%H:%M:%SZ)" 2>/dev/null
}

e2e_reset_session "$phone"
# The keyring may still be starting with the session.
expect 15 "no sync key could be stored" store_sync_key

start_app ahead
send_code 111111 "-1 hour"
expect 15 "ahead: the clock was not named" \
    logged ahead "This computer's clock is about 1 hour ahead of your iPhone's"
logged ahead "[error]" || fail "ahead: the clock was not logged as an error"
[[ -e $latest ]] && fail "ahead: an expired code was published"
stop_app ahead || fail "ahead: the app did not end cleanly"
ok "an hour ahead, the code stays unpublished and the log names the clock"

"$phone" clear 2>/dev/null || true
start_app behind
send_code 222222 "+1 hour"
expect 15 "behind: the code was not published" published 222222
logged behind "This computer's clock is about 1 hour behind your iPhone's" ||
    fail "behind: the clock was not named"
held=$(python3 -c '
import datetime, json, sys
code = json.load(open(sys.argv[1]))
at = lambda text: datetime.datetime.fromisoformat(text.replace("Z", "+00:00"))
print(round((at(code["expiresAt"]) - at(code["receivedAt"])).total_seconds()))' "$latest")
[[ $held -le 90 ]] || fail "behind: the code is held for $held s, longer than its 90 s"
stop_app behind || fail "behind: the app did not end cleanly"
ok "an hour behind, the code is held for $held s, no longer than its own lifetime, and the log names the clock"
