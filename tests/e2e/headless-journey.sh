#!/usr/bin/env bash
# End to end inside the private desktop session: the phone tool sends a code through the
# embedded cloud, ZorvikMac --headless receives it by push and publishes it; the test reads
# the shared file, the X11 clipboard and the notification server, clicks Copy, and watches
# everything go away when the code expires. Then the same app on a machine with no display.
set -euo pipefail

# shellcheck source=tests/e2e/session.sh
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
e2e_require_session headless-journey.sh "ZORVIKMAC ZORVIK_PHONE" "$@"
app_binary=$1
phone=$2
export QT_QPA_PLATFORM=xcb
latest=$e2e_shared_dir/latest-code.json
log=$(mktemp -p "$ZORVIK_SESSION_DIR" journey.XXXXXX)
app=""

fail() {
    echo "FAIL: $*"
    echo "--- app log"
    cat "$log"
    e2e_describe_stuck "$app"
    exit 1
}
clipboard() { xclip -selection clipboard -o 2>/dev/null; }

# Counting notifications below needs a server with none left over from earlier tests.
dunstctl close-all 2>/dev/null || true
"$phone" key generate --force 2>/dev/null
"$app_binary" --headless >"$log" 2>&1 &
app=$!
cleanup() {
    kill "$app" 2>/dev/null || true
    wait "$app" 2>/dev/null || true
    e2e_reset_session "$phone"
}
trap cleanup EXIT
within 10 grep -q "subscription saved" "$log" || fail "the app did not save its subscription"
within 10 grep -q "fetch: nothing pending" "$log" || fail "the app did not fetch at start"

"$phone" send --account "Work GitHub" --service github --code 482913 --ttl 4 2>/dev/null
within 5 test -f "$latest" || fail "latest-code.json did not appear"
grep -q "push received: subscription pending-code-changes" "$log" || fail "the code did not come by push"
[[ $(stat -c %a "$latest") == 600 ]] || fail "latest-code.json has mode $(stat -c %a "$latest")"
grep -q '"code":"482913"' "$latest" || fail "latest-code.json lacks the code"
echo "ok: latest-code.json (0600) holds the code"

within 2 bash -c '[[ $(xclip -selection clipboard -o 2>/dev/null) == 482913 ]]' ||
    fail "the clipboard holds '$(clipboard)'"
targets=$(xclip -selection clipboard -t TARGETS -o)
grep -qx org.nspasteboard.ConcealedType <<<"$targets" || fail "no concealed marker: $targets"
[[ $(xclip -selection clipboard -t x-kde-passwordManagerHint -o) == secret ]] || fail "no password-manager hint"
echo "ok: the clipboard holds the code, marked concealed"

within 2 bash -c '[[ $(dunstctl count displayed) -ge 1 ]]' || fail "no notification is shown"
(printf 'my own text' | xclip -selection clipboard -quiet >/dev/null 2>&1 &)
within 2 bash -c '[[ $(xclip -selection clipboard -o 2>/dev/null) == "my own text" ]]' || fail "xclip could not copy"
dunstctl context
within 2 bash -c '[[ $(xclip -selection clipboard -o 2>/dev/null) == 482913 ]]' ||
    fail "Copy on the notification did not copy the code (clipboard: '$(clipboard)')"
echo "ok: Copy on the notification copies the code"

within 6 bash -c "[[ ! -e '$latest' ]]" || fail "latest-code.json is still there after the expiry"
within 2 grep -q "code expired" "$log" || fail "no expiry in the log"
within 2 bash -c '[[ $(dunstctl count displayed) -eq 0 ]]' || fail "the notification is still shown"
echo "ok: at expiry the file and the notification are gone"
if grep -Eq "482 ?913" "$log"; then
    fail "the code reached a log line"
fi
echo "ok: no log line holds the code"

# A server without a desktop: no X display at all, yet the code is received and published.
# Started while the first copy still runs, it takes over from it.
first=$app
first_log=$log
log=$(mktemp -p "$ZORVIK_SESSION_DIR" journey-no-display.XXXXXX)
env -u DISPLAY -u WAYLAND_DISPLAY "$app_binary" --headless >"$log" 2>&1 &
app=$!
within 10 bash -c "! kill -0 $first 2>/dev/null" || fail "the first copy still runs beside the second"
wait "$first" 2>/dev/null || true
# The notice and the signal race; the first copy logs whichever reached it first.
grep -Eq "Zorvik: (a newer copy \(pid $app\) took over|quitting on SIGTERM)" "$first_log" ||
    fail "the first copy did not log why it quit"
within 2 grep -q "Zorvik: asking the older copy at .* (pid $first) to quit" "$log" ||
    fail "the second copy did not log the take-over"
echo "ok: a second headless copy takes over from the first"
within 10 grep -q "subscription saved" "$log" || fail "without a display the app did not start"
"$phone" send --account "Work GitHub" --service github --code 271828 --ttl 30 2>/dev/null
within 5 test -f "$latest" || fail "without a display latest-code.json did not appear"
grep -q '"code":"271828"' "$latest" || fail "without a display latest-code.json lacks the code"
within 2 bash -c '[[ $(dunstctl count displayed) -ge 1 ]]' || fail "without a display no notification is shown"
dunstctl close-all
echo "ok: without a display the code still reaches the shared file and a notification"
if grep -Eq "271 ?828" "$log"; then
    fail "the code reached a log line"
fi
