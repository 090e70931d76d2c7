#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# ZorvikMac --headless with a phone whose clock is an hour off this computer's: an hour ahead,
# every code arrives expired, stays unpublished and the log names the clock; an hour behind, the
# code is published but held no longer than its own 90 s, and the log names the clock.
# shellcheck source-path=SCRIPTDIR disable=SC2154 # e2e_begin sets the arguments' variables
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
e2e_begin clock-skew.sh "app_binary phone" "$@"
e2e_own_config
e2e_on_exit() { e2e_reset_session "$phone"; }
# Sends CODE, valid for 90 s, issued at this computer's clock moved by OFFSET ("-1 hour": the
# phone is an hour behind this computer).
send_skewed() { send_code "$1" 90 --issued "$(date -u -d "$2" +%Y-%m-%dT%H:%M:%SZ)"; }

e2e_reset_session "$phone"
store_sync_key
start_headless ahead
send_skewed 111111 "-1 hour"
expect 15 "ahead: the clock was not named" \
    logged ahead "This computer's clock is about 1 hour ahead of your iPhone's"
logged ahead "[error]" || fail "ahead: the clock was not logged as an error"
[[ -e $latest ]] && fail "ahead: an expired code was published"
e2e_stop_clean ahead
ok "an hour ahead, the code stays unpublished and the log names the clock"

"$phone" clear 2>/dev/null || true
start_headless behind
send_skewed 222222 "+1 hour"
expect 15 "behind: the code was not published" published 222222
logged behind "This computer's clock is about 1 hour behind your iPhone's" ||
    fail "behind: the clock was not named"
held=$(python3 -c '
import datetime, json, sys
code = json.load(open(sys.argv[1]))
at = lambda text: datetime.datetime.fromisoformat(text.replace("Z", "+00:00"))
print(round((at(code["expiresAt"]) - at(code["receivedAt"])).total_seconds()))' "$latest")
[[ $held -le 90 ]] || fail "behind: the code is held for $held s, longer than its 90 s"
e2e_stop_clean behind
ok "an hour behind, the code is held for $held s, no longer than its own lifetime, and the log names the clock"
