#!/usr/bin/env bash
# End to end: ZorvikMac --headless with its clock an hour off the phone's (faketime moves the
# app's wall clock only; its timers keep the real boot-time clock):
#  - an hour ahead, every code arrives expired: it stays unpublished, and the log says in plain
#    words that this computer's clock is about 1 hour ahead;
#  - an hour behind, the code is published but held no longer than its own 90 s, and the log
#    says the clock is about 1 hour behind.
set -euo pipefail

# shellcheck source=tests/e2e/session.sh
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
e2e_require_session clock-skew.sh "ZORVIKMAC ZORVIK_PHONE" "$@"
app_binary=$1
phone=$2
# The library itself rather than the faketime wrapper, so that $! is the app's own process.
faketime_library=$(dpkg -L libfaketime 2>/dev/null | grep -m 1 '/libfaketimeMT\.so\.1$') || {
    echo "skipped: libfaketime is not installed"
    exit 77
}
work=$(mktemp -d -p "$ZORVIK_SESSION_DIR" clock-skew.XXXXXX)
logs=$work/logs
mkdir -p "$logs"
XDG_CONFIG_HOME=$work/config
export XDG_CONFIG_HOME
latest=$e2e_shared_dir/latest-code.json
app=""

fail() {
    echo "FAIL: $*"
    e2e_print_logs "$logs"
    exit 1
}
stop_app() {
    [[ -n $app ]] || return 0
    kill "$app" 2>/dev/null || true
    wait "$app" 2>/dev/null || true
    app=""
}
trap 'stop_app; e2e_reset_session "$phone"' EXIT
logged() { grep -qF -- "$2" "$logs/$1.log"; }
# Starts the app with its clock moved by OFFSET (faketime's "+1h", "-1h") and waits for its checks.
start_app() {
    # libfaketime comes before the sanitizer's runtime in the process; that is fine here.
    ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0 \
        LD_PRELOAD=$faketime_library FAKETIME=$2 FAKETIME_DONT_FAKE_MONOTONIC=1 \
        env -u DISPLAY -u WAYLAND_DISPLAY "$app_binary" --headless >"$logs/$1.log" 2>&1 &
    app=$!
    within 20 logged "$1" "check firstCode:" || fail "$1: the app did not finish its checks"
}
send_code() {
    "$phone" send --account "Clock $1" --service github --code "$1" --ttl 90 2>/dev/null
}

e2e_reset_session "$phone"
within 15 "$phone" key generate --force >/dev/null 2>&1 || fail "no sync key could be stored"

start_app ahead +1h
send_code 111111
within 15 logged ahead "This computer's clock is about 1 hour ahead of your iPhone's" ||
    fail "ahead: the clock was not named"
logged ahead "[error]" || fail "ahead: the clock was not logged as an error"
[[ -e $latest ]] && fail "ahead: an expired code was published"
stop_app
echo "ok: an hour ahead, the code stays unpublished and the log names the clock"

"$phone" clear 2>/dev/null || true
start_app behind -1h
send_code 222222
within 15 grep -qF '"code":"222222"' "$latest" 2>/dev/null || fail "behind: the code was not published"
logged behind "This computer's clock is about 1 hour behind your iPhone's" ||
    fail "behind: the clock was not named"
held=$(python3 -c '
import datetime, json, sys
code = json.load(open(sys.argv[1]))
at = lambda text: datetime.datetime.fromisoformat(text.replace("Z", "+00:00"))
print(round((at(code["expiresAt"]) - at(code["receivedAt"])).total_seconds()))' "$latest")
[[ $held -le 90 ]] || fail "behind: the code is held for $held s, longer than its 90 s"
stop_app
echo "ok: an hour behind, the code is held for $held s, no longer than its own lifetime, and the log names the clock"
