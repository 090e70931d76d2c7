#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A Wayland session with XWayland, as GNOME starts the app: the tray app runs on XWayland and its
# code reaches the Wayland clipboard, marked concealed, until it expires. Then, with Wayland alone,
# --headless publishes codes, also after the compositor has gone.
# shellcheck source-path=SCRIPTDIR disable=SC2154 # e2e_begin sets the arguments' variables
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
source "$e2e_here/wayland-host.sh"
e2e_begin wayland-journey.sh "app_binary phone" "$@"
e2e_on_exit() {
    wayland_host_stop
    e2e_reset_session "$phone"
}

wayland_host_start "$logs/compositor.log"
e2e_reset_session "$phone"
"$phone" key generate --force 2>/dev/null
# Started as the session starts it: no QT_QPA_PLATFORM, both displays set.
e2e_start tray env -u QT_QPA_PLATFORM "$app_binary" --log-to-stderr
expect 10 "the tray app did not start" logged tray "subscription saved"
logged tray "Zorvik: running on XWayland (DISPLAY $DISPLAY) beside the Wayland display $WAYLAND_DISPLAY" ||
    fail "the app did not say it runs on XWayland"
ok "with WAYLAND_DISPLAY and DISPLAY set, the tray app runs on XWayland and says so"

send_code 615243 4
within 5 wayland_clipboard_is 615243 || fail "wl-paste reads '$(wayland_clipboard)', not the code"
expect_wayland_concealed
ok "a Wayland client reads the code from the clipboard, marked concealed"
expect 6 "the code is still on the Wayland clipboard after its expiry" wayland_clipboard_is_not 615243
expect 2 "no expiry in the log" logged tray "code expired"
ok "at expiry the code leaves the Wayland clipboard"

# Without XWayland the headless copy needs no window, so it outlives the compositor.
take_over tray headless env -u QT_QPA_PLATFORM -u DISPLAY -u XAUTHORITY "$app_binary" --headless
expect 10 "with Wayland alone, --headless did not start" logged headless "subscription saved"
wayland_host_stop
send_code 902817 30
expect 5 "with Wayland alone, latest-code.json lacks the code" published 902817
expect 2 "with Wayland alone, no notification is shown" a_notification_shows
kill -0 "${e2e_pids[headless]}" || fail "the headless copy ended"
ok "with Wayland alone, --headless publishes the file and a notification, also once the compositor is gone"
e2e_expect_no_code_in_logs 615243 902817
