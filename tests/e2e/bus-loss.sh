#!/usr/bin/env bash
# End to end: the desktop session's bus going away while ZorvikMac --headless runs. The app
# ends, and its log names the cause rather than reading like an ordinary quit by signal.
set -euo pipefail

# shellcheck source=tests/e2e/session.sh
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
e2e_require_session bus-loss.sh "ZORVIKMAC" "$@"
app_binary=$1
work=$(mktemp -d -p "$ZORVIK_SESSION_DIR" bus-loss.XXXXXX)
log=$work/app.log
app=""
bus_pid=""

fail() {
    echo "FAIL: $*"
    echo "--- app log"
    cat "$log" 2>/dev/null || true
    [[ -n $app ]] && kill "$app" 2>/dev/null
    [[ -n $bus_pid ]] && kill "$bus_pid" 2>/dev/null
    exit 1
}

# A bus of its own, so that taking it away leaves the session's bus to the other tests.
read -r address bus_pid < <(dbus-daemon --session --fork --nopidfile --print-address=1 \
    --print-pid=1 | paste -sd ' ')
[[ -n $address && -n $bus_pid ]] || fail "no private bus could be started"

DBUS_SESSION_BUS_ADDRESS=$address XDG_CONFIG_HOME=$work/config \
    "$app_binary" --headless --embedded-cloud >"$log" 2>&1 &
app=$!
within 20 grep -q "start: version" "$log" || fail "the app did not start"
kill "$bus_pid"
bus_pid=""
app_ended() { ! kill -0 "$app" 2>/dev/null; }
within 15 app_ended || fail "the app kept running without its session bus"
status=0
wait "$app" || status=$?
app=""
grep -q "lost the connection to the session bus" "$log" ||
    fail "the log does not say that the session bus went away"
grep -q "quitting on SIGTERM" "$log" && fail "the loss of the bus reads as a quit by SIGTERM"
[[ $status == 0 ]] || fail "the app exited with status $status"
echo "ok: the app ends when its session bus goes away, and says so (exit status $status)"
