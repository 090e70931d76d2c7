#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# End to end: the desktop session's bus going away while ZorvikMac --headless runs. The app
# ends, and its log names the cause rather than reading like an ordinary quit by signal.
set -euo pipefail

# shellcheck source=tests/e2e/session.sh
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
e2e_begin bus-loss.sh "ZORVIKMAC" "$@"
app_binary=$1
config=$(mktemp -d -p "$ZORVIK_SESSION_DIR" bus-loss-config.XXXXXX)
bus_pid=""
e2e_on_exit() {
    if [[ -n $bus_pid ]]; then kill "$bus_pid" 2>/dev/null || true; fi
}

# A bus of its own, so that taking it away leaves the session's bus to the other tests.
read -r address bus_pid < <(dbus-daemon --session --fork --nopidfile --print-address=1 \
    --print-pid=1 | paste -sd ' ')
[[ -n $address && -n $bus_pid ]] || fail "no private bus could be started"

e2e_start app env DBUS_SESSION_BUS_ADDRESS="$address" XDG_CONFIG_HOME="$config" \
    "$app_binary" --headless --embedded-cloud
app=${e2e_pids[app]}
expect 20 "the app did not start" logged app "start: version"
kill "$bus_pid"
bus_pid=""
app_ended() { ! kill -0 "$app" 2>/dev/null; }
expect 15 "the app kept running without its session bus" app_ended
status=0
wait "$app" || status=$?
unset 'e2e_pids[app]'
logged app "lost the connection to the session bus" ||
    fail "the log does not say that the session bus went away"
logged app "quitting on SIGTERM" && fail "the loss of the bus reads as a quit by SIGTERM"
[[ $status == 0 ]] || fail "the app exited with status $status"
ok "the app ends when its session bus goes away, and says so (exit status $status)"
