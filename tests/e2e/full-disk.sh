#!/usr/bin/env bash
# End to end: ZorvikMac --headless unable to write latest-code.json for a while (a file size
# limit set on the running process fails its writes as a full disk does). The file then offers
# no code at all rather than the previous one, the failure is logged with its cause, and once
# writing works again the held code is written at the next fetch.
set -euo pipefail

# shellcheck source=tests/e2e/session.sh
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
# shellcheck source=tests/e2e/headless-app.sh
source "$(dirname "${BASH_SOURCE[0]}")/headless-app.sh"
e2e_require_session full-disk.sh "ZORVIKMAC ZORVIK_PHONE" "$@"
e2e_headless_setup full-disk "$1"
phone=$2

trap 'stop_app || true; e2e_reset_session "$phone"' EXIT
send_code() {
    "$phone" send --account "Disk $1" --service github --code "$1" --ttl 120 2>/dev/null
}

e2e_reset_session "$phone"
e2e_store_sync_key "$phone"
# The log goes through a pipe: the limit below holds for every file the app writes itself.
env -u DISPLAY -u WAYLAND_DISPLAY "$app_binary" --headless > >(cat >"$logs/app.log") 2>&1 &
app=$!
within 20 logged app "check firstCode:" || fail "the app did not finish its checks"
send_code 511111
within 15 published 511111 || fail "the first code was not published"

prlimit --pid "$app" --fsize=16:unlimited
send_code 522222
within 15 logged app "could not save the code for AutoFill: " || fail "the failed save was not logged"
kill -0 "$app" 2>/dev/null || fail "the app ended on the failed write"
[[ -e $latest ]] && fail "latest-code.json still offers a code: $(cat "$latest")"

prlimit --pid "$app" --fsize=unlimited:unlimited
within 15 published 522222 || fail "the held code was not written once writing worked again"
logged app "the code is saved for AutoFill again" || fail "the recovery was not logged"
echo "ok: with writes failing, no older code is offered and the failure is logged; once they work, the held code is written at the next fetch"
