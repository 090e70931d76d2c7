#!/usr/bin/env bash
# End to end in a Wayland session that also offers XWayland, as GNOME starts the app: the tray
# app runs on XWayland, so a code sent by the phone tool reaches the Wayland clipboard (read with
# wl-paste), marked concealed, and leaves it at expiry. Then, with Wayland alone and no X display,
# --headless publishes codes, also after the compositor has gone.
set -euo pipefail

here=$(dirname "${BASH_SOURCE[0]}")
# shellcheck source=tests/e2e/session.sh
source "$here/session.sh"
# shellcheck source=tests/e2e/wayland-host.sh
source "$here/wayland-host.sh"
e2e_require_session wayland-journey.sh "ZORVIKMAC ZORVIK_PHONE" "$@"
app_binary=$1
phone=$2
latest=$e2e_shared_dir/latest-code.json
host_log=$(mktemp -p "$ZORVIK_SESSION_DIR" wayland-host.XXXXXX)
log=$(mktemp -p "$ZORVIK_SESSION_DIR" wayland-tray.XXXXXX)
app=

fail() {
    echo "FAIL: $*"
    echo "--- app log"
    cat "$log"
    echo "--- compositor log (last lines)"
    tail -n 20 "$host_log"
    exit 1
}
cleanup() {
    if [[ -n $app ]]; then
        kill "$app" 2>/dev/null || true
        wait "$app" 2>/dev/null || true
    fi
    wayland_host_stop
    e2e_reset_session "$phone"
}
trap cleanup EXIT
# What a Wayland client finds on the clipboard ("" when nothing is there).
wayland_clipboard() { wl-paste --no-newline 2>/dev/null || true; }

wayland_host_start "$host_log"
dunstctl close-all 2>/dev/null || true
"$phone" key generate --force 2>/dev/null
# Started as the session starts it: no QT_QPA_PLATFORM, both displays set.
env -u QT_QPA_PLATFORM "$app_binary" --log-to-stderr >"$log" 2>&1 &
app=$!
within 10 grep -q "subscription saved" "$log" || fail "the tray app did not start"
grep -q "Zorvik: running on XWayland (DISPLAY $DISPLAY) beside the Wayland display $WAYLAND_DISPLAY" \
    "$log" || fail "the app did not say it runs on XWayland"
echo "ok: with WAYLAND_DISPLAY and DISPLAY set, the tray app runs on XWayland and says so"

"$phone" send --account "Work GitHub" --service github --code 615243 --ttl 4 2>/dev/null
within 5 bash -c '[[ $(wl-paste --no-newline 2>/dev/null) == 615243 ]]' ||
    fail "wl-paste reads '$(wayland_clipboard)', not the code"
types=$(wl-paste --list-types)
grep -qx org.nspasteboard.ConcealedType <<<"$types" || fail "no concealed marker: $types"
grep -qx x-kde-passwordManagerHint <<<"$types" || fail "no password-manager hint: $types"
echo "ok: a Wayland client reads the code from the clipboard, marked concealed"
within 6 bash -c '[[ $(wl-paste --no-newline 2>/dev/null) != 615243 ]]' ||
    fail "the code is still on the Wayland clipboard after its expiry"
within 2 grep -q "code expired" "$log" || fail "no expiry in the log"
echo "ok: at expiry the code leaves the Wayland clipboard"

# A Wayland session without XWayland: the headless copy needs no window, so it does not go
# down with the compositor either. It takes over from the tray app.
tray=$app
tray_log=$log
log=$(mktemp -p "$ZORVIK_SESSION_DIR" wayland-headless.XXXXXX)
env -u QT_QPA_PLATFORM -u DISPLAY -u XAUTHORITY "$app_binary" --headless >"$log" 2>&1 &
app=$!
within 10 bash -c "! kill -0 $tray 2>/dev/null" || fail "the tray app still runs beside the headless copy"
wait "$tray" 2>/dev/null || true
within 10 grep -q "subscription saved" "$log" || fail "with Wayland alone, --headless did not start"
wayland_host_stop
"$phone" send --account "Work GitHub" --service github --code 902817 --ttl 30 2>/dev/null
within 5 test -f "$latest" || fail "with Wayland alone, latest-code.json did not appear"
grep -q '"code":"902817"' "$latest" || fail "with Wayland alone, latest-code.json lacks the code"
within 2 bash -c '[[ $(dunstctl count displayed) -ge 1 ]]' || fail "with Wayland alone, no notification is shown"
kill -0 "$app" || fail "the headless copy ended"
echo "ok: with Wayland alone, --headless publishes the file and a notification, also once the compositor is gone"

if grep -Eq "615 ?243|902 ?817" "$log" "$tray_log"; then
    fail "a code reached a log line"
fi
echo "ok: no log line holds a code"
