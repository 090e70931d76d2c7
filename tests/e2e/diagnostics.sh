#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# End to end inside the private desktop session, around ZorvikMac --diagnostics:
#  - with ZorvikMac --headless running, it prints that copy's report, the text the popover's
#    "Copy diagnostics" copies, and exits 0;
#  - a tray copy started later takes the report over with the rest: it owns the bus name once
#    the older copy is gone, and answers;
#  - with no copy running it says so in one line on stderr, prints what it can tell about the
#    session by itself and exits 3, also without a session bus;
#  - neither the code the phone sent nor the sync key reaches either output.
set -euo pipefail

# shellcheck source=tests/e2e/session.sh
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
e2e_begin diagnostics.sh "ZORVIKMAC ZORVIK_PHONE" "$@"
app_binary=$1
phone=$2
export QT_QPA_PLATFORM=xcb
# Settings of its own, so nothing this test does reaches the settings of later tests.
XDG_CONFIG_HOME=$(mktemp -d -p "$ZORVIK_SESSION_DIR" diagnostics-config.XXXXXX)
export XDG_CONFIG_HOME
latest=$e2e_shared_dir/latest-code.json
code=482913
e2e_on_exit() { e2e_reset_session "$phone"; }
# A copy held stopped (below) would not end on SIGTERM: every copy is continued first.
trap 'kill -CONT "${e2e_pids[@]}" 2>/dev/null || true; e2e_end' EXIT

# Starts a copy as NAME (arguments after the name) and waits for its first round of checks.
start_app() {
    local name=$1
    shift
    e2e_start "$name" "$app_binary" "$@" --log-to-stderr
    expect 15 "$name: the app did not finish its checks" logged "$name" "check firstCode:"
}
# Runs ZorvikMac --diagnostics (with the environment changes given) into $logs/NAME.out and
# NAME.err; sets $status.
diagnostics() {
    local name=$1
    shift
    status=0
    env "$@" "$app_binary" --diagnostics >"$logs/$name.out" 2>"$logs/$name.err" || status=$?
}
out_line() { sed -n "$2p" "$logs/$1.out"; }
has_line() { grep -qxF -- "$2" "$logs/$1.out"; }
bus_has() {
    [[ $(gdbus call --session -d org.freedesktop.DBus -o /org/freedesktop/DBus \
        -m org.freedesktop.DBus.NameHasOwner "$1" 2>/dev/null) == "(true,)" ]]
}
name_owner_pid() {
    gdbus call --session -d org.freedesktop.DBus -o /org/freedesktop/DBus \
        -m org.freedesktop.DBus.GetConnectionUnixProcessID net.brontal.zorvik.Diagnostics \
        2>/dev/null | sed -nE 's/^\(uint32 ([0-9]+),\)$/\1/p'
}
owned_by_app() { [[ $(name_owner_pid) == "${e2e_pids[tray]}" ]]; }
# The distribution as os-release names it, and the kernel's release.
first_line_pattern='^Zorvik for Linux [^ ]+ \([^)]*\) — [^,]+, Linux [0-9]+\.[0-9]+'

e2e_reset_session "$phone"
"$phone" account available 2>/dev/null
"$phone" key generate --force 2>/dev/null
sync_key=$("$phone" key export 2>/dev/null)
[[ -n $sync_key ]] || fail "zorvik-phone did not export the sync key"

# --- The running copy answers with its report.
start_app headless --headless
"$phone" send --account "Work GitHub" --service github --code "$code" --ttl 120 2>/dev/null
expect 5 "the code was not published" grep -q "\"code\":\"$code\"" "$latest"
diagnostics headless
[[ $status == 0 ]] || fail "--diagnostics exited $status with a copy running"
[[ ! -s $logs/headless.err ]] || fail "--diagnostics wrote to stderr with a copy running"
out_line headless 1 | grep -Eq "$first_line_pattern" || fail "first line: $(out_line headless 1)"
out_line headless 2 | grep -Eq '^Checked: [0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:]{8}Z$' ||
    fail "second line: $(out_line headless 2)"
grep -q '^\[OK\] ' "$logs/headless.out" || fail "the report has no checklist rows"
grep -q '^Last received: Work GitHub at ' "$logs/headless.out" ||
    fail "the report does not name the code received"
ok "--diagnostics prints the running copy's report and exits 0"

# --- A later copy, here the tray app, takes the report over, even from an older copy that has
# not yet quit: the older one is held stopped until the newer one answers.
older=${e2e_pids[headless]}
kill -STOP "$older"
start_app tray
within 5 owned_by_app || fail "the bus name is owned by pid '$(name_owner_pid)', not ${e2e_pids[tray]}"
diagnostics tray
[[ $status == 0 ]] || fail "--diagnostics exited $status with the tray copy running"
out_line tray 1 | grep -Eq "$first_line_pattern" || fail "tray: first line: $(out_line tray 1)"
kill -CONT "$older"
expect 10 "the older copy is still running" bash -c "! kill -0 $older 2>/dev/null"
e2e_stop headless
owned_by_app || fail "the bus name went to pid '$(name_owner_pid)' as the older copy quit"
ok "the newer copy owns the report's bus name and answers while the older one quits"

# --- No copy running: one line on stderr, the command's own probes on stdout.
e2e_stop tray
diagnostics alone
[[ $status == 3 ]] || fail "--diagnostics exited $status with no copy running"
[[ $(cat "$logs/alone.err") == \
    "No copy of Zorvik is running in this session; what this command can tell by itself:" ]] ||
    fail "stderr: $(cat "$logs/alone.err")"
out_line alone 1 | grep -Eq "$first_line_pattern" || fail "alone: first line: $(out_line alone 1)"
out_line alone 2 | grep -q '^Cloud: embedded cloud on this computer (.*) — folder present, account available$' ||
    fail "alone: $(out_line alone 2)"
has_line alone "Session bus: connected" || fail "the bus is not reported as connected"
has_line alone "Secret Service: answers; sync key stored" || fail "the keyring is not reported"
has_line alone "Notification server: on the bus" || fail "the notification server is not reported"
if bus_has org.kde.StatusNotifierWatcher; then tray="on the bus"; else tray="none on the bus"; fi
has_line alone "Tray (StatusNotifierWatcher): $tray" || fail "the tray watcher is not reported"
grep -q '^AutoFill helper for ' "$logs/alone.out" || fail "no AutoFill helper lines"
has_line alone "latest-code.json: present, mode 600 ($latest)" || fail "latest-code.json is not reported"
ok "with no copy running it says so, prints its own probes and exits 3"

# Neither the bus's address nor the user bus in XDG_RUNTIME_DIR.
diagnostics no-bus -u DBUS_SESSION_BUS_ADDRESS -u XDG_RUNTIME_DIR
[[ $status == 3 ]] || fail "--diagnostics exited $status without a session bus"
grep -q '^No session bus is reachable' "$logs/no-bus.err" || fail "no-bus: $(cat "$logs/no-bus.err")"
has_line no-bus "Session bus: not reachable" || fail "the missing bus is not reported"
ok "without a session bus it says so and exits 3"

if grep -Eq -- "${code:0:3} ?${code:3}" "$logs"/*; then
    fail "the code reached the output or a log line"
fi
if grep -qF -- "$sync_key" "$logs"/*; then
    fail "the sync key reached the output or a log line"
fi
ok "neither output nor any log line holds the code or the sync key"
