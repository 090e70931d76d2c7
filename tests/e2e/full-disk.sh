#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# ZorvikMac --headless unable to write latest-code.json for a while (a file size limit on the
# running process fails its writes as a full disk does): the file offers no code rather than the
# previous one, the failure is logged, and once writing works the held code is written.
# shellcheck source-path=SCRIPTDIR disable=SC2154 # e2e_begin sets the arguments' variables
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
e2e_begin full-disk.sh "app_binary phone" "$@"
e2e_own_config
e2e_on_exit() { e2e_reset_session "$phone"; }

e2e_reset_session "$phone"
store_sync_key
# The log goes through a pipe, as the limit holds for every file the app writes itself.
env -u DISPLAY -u WAYLAND_DISPLAY "$app_binary" --headless > >(cat >"$logs/app.log") 2>&1 &
e2e_pids[app]=$!
app=${e2e_pids[app]}
app_checked app
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
