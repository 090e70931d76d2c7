#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
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
e2e_begin wayland-journey.sh "ZORVIKMAC ZORVIK_PHONE" "$@"
app_binary=$1
phone=$2
latest=$e2e_shared_dir/latest-code.json
e2e_on_exit() {
    wayland_host_stop
    e2e_reset_session "$phone"
}

wayland_host_start "$logs/compositor.log"
dunstctl close-all 2>/dev/null || true
"$phone" key generate --force 2>/dev/null
# Started as the session starts it: no QT_QPA_PLATFORM, both displays set.
e2e_start tray env -u QT_QPA_PLATFORM "$app_binary" --log-to-stderr
expect 10 "the tray app did not start" logged tray "subscription saved"
logged tray "Zorvik: running on XWayland (DISPLAY $DISPLAY) beside the Wayland display $WAYLAND_DISPLAY" ||
    fail "the app did not say it runs on XWayland"
ok "with WAYLAND_DISPLAY and DISPLAY set, the tray app runs on XWayland and says so"

"$phone" send --account "Work GitHub" --service github --code 615243 --ttl 4 2>/dev/null
within 5 wayland_clipboard_is 615243 || fail "wl-paste reads '$(wayland_clipboard)', not the code"
types=$(wl-paste --list-types)
grep -qx org.nspasteboard.ConcealedType <<<"$types" || fail "no concealed marker: $types"
grep -qx x-kde-passwordManagerHint <<<"$types" || fail "no password-manager hint: $types"
ok "a Wayland client reads the code from the clipboard, marked concealed"
expect 6 "the code is still on the Wayland clipboard after its expiry" wayland_clipboard_is_not 615243
expect 2 "no expiry in the log" logged tray "code expired"
ok "at expiry the code leaves the Wayland clipboard"

# A Wayland session without XWayland: the headless copy needs no window, so it does not go
# down with the compositor either. It takes over from the tray app.
tray=${e2e_pids[tray]}
e2e_start headless env -u QT_QPA_PLATFORM -u DISPLAY -u XAUTHORITY "$app_binary" --headless
expect 10 "the tray app still runs beside the headless copy" bash -c "! kill -0 $tray 2>/dev/null"
e2e_stop tray
expect 10 "with Wayland alone, --headless did not start" logged headless "subscription saved"
wayland_host_stop
"$phone" send --account "Work GitHub" --service github --code 902817 --ttl 30 2>/dev/null
expect 5 "with Wayland alone, latest-code.json did not appear" test -f "$latest"
grep -q '"code":"902817"' "$latest" || fail "with Wayland alone, latest-code.json lacks the code"
expect 2 "with Wayland alone, no notification is shown" bash -c '[[ $(dunstctl count displayed) -ge 1 ]]'
kill -0 "${e2e_pids[headless]}" || fail "the headless copy ended"
ok "with Wayland alone, --headless publishes the file and a notification, also once the compositor is gone"

e2e_expect_no_code_in_logs 615243 902817
ok "no log line holds a code"
