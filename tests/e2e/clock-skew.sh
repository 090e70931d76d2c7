#!/usr/bin/env bash
# End to end: ZorvikMac --headless receiving codes from a phone whose clock is an hour off this
# computer's (the phone tool dates its codes an hour back or ahead):
#  - this computer an hour ahead, every code arrives expired: it stays unpublished, and the log
#    says in plain words that this computer's clock is about 1 hour ahead;
#  - an hour behind, the code is published but held no longer than its own 90 s, and the log
#    says the clock is about 1 hour behind.
set -euo pipefail

# shellcheck source=tests/e2e/session.sh
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
# shellcheck source=tests/e2e/headless-app.sh
source "$(dirname "${BASH_SOURCE[0]}")/headless-app.sh"
e2e_require_session clock-skew.sh "ZORVIKMAC ZORVIK_PHONE" "$@"
e2e_headless_setup clock-skew "$1"
phone=$2
trap 'stop_app || true; e2e_reset_session "$phone"' EXIT
# Sends CODE, valid for 90 s, issued at the phone's clock: this computer's moved by OFFSET
# ("-1 hour": the phone is an hour behind this computer).
send_code() {
    "$phone" send --account "Clock $1" --service github --code "$1" --ttl 90 \
        --issued "$(date -u -d "$2" +%Y-%m-%dT%H:%M:%SZ)" 2>/dev/null
}

e2e_reset_session "$phone"
e2e_store_sync_key "$phone"

start_app ahead
send_code 111111 "-1 hour"
within 15 logged ahead "This computer's clock is about 1 hour ahead of your iPhone's" ||
    fail "ahead: the clock was not named"
logged ahead "[error]" || fail "ahead: the clock was not logged as an error"
[[ -e $latest ]] && fail "ahead: an expired code was published"
stop_app || fail "ahead: the app did not end cleanly"
echo "ok: an hour ahead, the code stays unpublished and the log names the clock"

"$phone" clear 2>/dev/null || true
start_app behind
send_code 222222 "+1 hour"
within 15 published 222222 || fail "behind: the code was not published"
logged behind "This computer's clock is about 1 hour behind your iPhone's" ||
    fail "behind: the clock was not named"
held=$(python3 -c '
import datetime, json, sys
code = json.load(open(sys.argv[1]))
at = lambda text: datetime.datetime.fromisoformat(text.replace("Z", "+00:00"))
print(round((at(code["expiresAt"]) - at(code["receivedAt"])).total_seconds()))' "$latest")
[[ $held -le 90 ]] || fail "behind: the code is held for $held s, longer than its 90 s"
stop_app || fail "behind: the app did not end cleanly"
echo "ok: an hour behind, the code is held for $held s, no longer than its own lifetime, and the log names the clock"
