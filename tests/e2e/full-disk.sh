#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# End to end: ZorvikMac --headless unable to write latest-code.json for a while (a file size
# limit set on the running process fails its writes as a full disk does). The file then offers
# no code at all rather than the previous one, the failure is logged with its cause, and once
# writing works again the held code is written at the next fetch.
set -euo pipefail

# shellcheck source=tests/e2e/session.sh
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
e2e_begin full-disk.sh "ZORVIKMAC ZORVIK_PHONE" "$@"
app_binary=$1
phone=$2
# shellcheck source=tests/e2e/headless-app.sh
source "$(dirname "${BASH_SOURCE[0]}")/headless-app.sh"
# Settings of its own, so nothing reaches later tests.
e2e_on_exit() { e2e_reset_session "$phone"; }

# Whether latest-code.json offers the code $1.
send_code() {
    "$phone" send --account "Disk $1" --service github --code "$1" --ttl 120 2>/dev/null
}

e2e_reset_session "$phone"
# The keyring may still be starting with the session.
within 15 "$phone" key generate --force >/dev/null 2>&1 || fail "no sync key could be stored"
# The log goes through a pipe: the limit below holds for every file the app writes itself (so
# no e2e_start; the harness stops the app all the same). Without a display its clipboard is its
# own, so no other test's is touched.
env -u DISPLAY -u WAYLAND_DISPLAY "$app_binary" --headless > >(cat >"$logs/app.log") 2>&1 &
e2e_pids[app]=$!
app=${e2e_pids[app]}
expect 20 "the app did not finish its checks" logged app "check firstCode:"
send_code 511111
expect 15 "the first code was not published" published 511111

prlimit --pid "$app" --fsize=16:unlimited
send_code 522222
expect 15 "the failed save was not logged" logged app "could not save the code for AutoFill: "
kill -0 "$app" 2>/dev/null || fail "the app ended on the failed write"
[[ -e $latest ]] && fail "latest-code.json still offers a code: $(cat "$latest")"

prlimit --pid "$app" --fsize=unlimited:unlimited
expect 15 "the held code was not written once writing worked again" published 522222
logged app "the code is saved for AutoFill again" || fail "the recovery was not logged"
ok "with writes failing, no older code is offered and the failure is logged; once they work, the held code is written at the next fetch"
