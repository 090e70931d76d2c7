#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# ZorvikMac --diagnostics: the running copy's report (exit 0), taken over by a newer copy; with no
# copy running its own probes (exit 3), also without a bus; never the code or the sync key.
# shellcheck source-path=SCRIPTDIR disable=SC2154 # e2e_begin sets the arguments' variables
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
e2e_begin diagnostics.sh "app_binary phone" "$@"
export QT_QPA_PLATFORM=xcb
e2e_own_config
code=482913
e2e_on_exit() { e2e_reset_session "$phone"; }
# A copy held stopped (below) would not end on SIGTERM: every copy is continued first.
trap 'kill -CONT "${e2e_pids[@]}" 2>/dev/null || true; e2e_end' EXIT

# Runs --diagnostics (with the environment changes given) into $logs/NAME.out and .err; fails
# unless it exits with STATUS.
diagnostics() {
    local name=$1 expected=$2 status=0
    shift 2
    env "$@" "$app_binary" --diagnostics >"$logs/$name.out" 2>"$logs/$name.err" || status=$?
    [[ $status == "$expected" ]] || fail "$name: --diagnostics exited $status, not $expected"
}
# Fails unless line N of NAME's output matches the extended regular expression.
line_matches() {
    sed -n "$2p" "$logs/$1.out" | grep -Eq -- "$3" || fail "$1: line $2 reads: $(sed -n "$2p" "$logs/$1.out")"
}
has_line() { grep -qxF -- "$2" "$logs/$1.out" || fail "$1: no line '$2'"; }
owned_by_tray() { [[ $(bus_owner_pid net.brontal.zorvik.Diagnostics) == "${e2e_pids[tray]}" ]]; }
# The distribution as os-release names it, and the kernel's release.
first_line='^Zorvik for Linux [^ ]+ \([^)]*\) — [^,]+, Linux [0-9]+\.[0-9]+'

e2e_reset_session "$phone"
"$phone" account available 2>/dev/null
"$phone" key generate --force 2>/dev/null
sync_key=$("$phone" key export 2>/dev/null)
[[ -n $sync_key ]] || fail "zorvik-phone did not export the sync key"

start_app headless --headless --log-to-stderr
send_code "$code" 120
expect 5 "the code was not published" published "$code"
diagnostics running 0
[[ ! -s $logs/running.err ]] || fail "--diagnostics wrote to stderr with a copy running"
line_matches running 1 "$first_line"
line_matches running 2 '^Checked: [0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:]{8}Z$'
grep -q '^\[OK\] ' "$logs/running.out" || fail "the report has no checklist rows"
grep -q '^Last received: Work GitHub at ' "$logs/running.out" || fail "the report does not name the code received"
ok "--diagnostics prints the running copy's report and exits 0"

# The newer copy takes the report over even from an older one that has not yet quit: the older
# one is held stopped until the newer one answers.
older=${e2e_pids[headless]}
kill -STOP "$older"
start_app tray --log-to-stderr
within 5 owned_by_tray || fail "the bus name is owned by pid '$(bus_owner_pid net.brontal.zorvik.Diagnostics)', not ${e2e_pids[tray]}"
diagnostics tray 0
line_matches tray 1 "$first_line"
kill -CONT "$older"
expect 10 "the older copy is still running" gone "$older"
e2e_stop headless
owned_by_tray || fail "the bus name went to pid '$(bus_owner_pid net.brontal.zorvik.Diagnostics)' as the older copy quit"
ok "the newer copy owns the report's bus name and answers while the older one quits"

e2e_stop tray
diagnostics alone 3
[[ $(cat "$logs/alone.err") == "No copy of Zorvik is running in this session; what this command can tell by itself:" ]] ||
    fail "stderr: $(cat "$logs/alone.err")"
line_matches alone 1 "$first_line"
line_matches alone 2 '^Cloud: embedded cloud on this computer \(.*\) — folder present, account available$'
has_line alone "Session bus: connected"
has_line alone "Secret Service: answers; sync key stored"
has_line alone "Notification server: on the bus"
if bus_has_owner org.kde.StatusNotifierWatcher; then tray="on the bus"; else tray="none on the bus"; fi
has_line alone "Tray (StatusNotifierWatcher): $tray"
grep -q '^AutoFill helper for ' "$logs/alone.out" || fail "no AutoFill helper lines"
has_line alone "latest-code.json: present, mode 600 ($latest)"
ok "with no copy running it says so, prints its own probes and exits 3"

# Neither the bus's address nor the user bus in XDG_RUNTIME_DIR.
diagnostics no-bus 3 -u DBUS_SESSION_BUS_ADDRESS -u XDG_RUNTIME_DIR
grep -q '^No session bus is reachable' "$logs/no-bus.err" || fail "no-bus: $(cat "$logs/no-bus.err")"
has_line no-bus "Session bus: not reachable"
ok "without a session bus it says so and exits 3"

grep -Eq -- "${code:0:3} ?${code:3}" "$logs"/* && fail "the code reached the output or a log line"
grep -qF -- "$sync_key" "$logs"/* && fail "the sync key reached the output or a log line"
ok "neither output nor any log line holds the code or the sync key"
