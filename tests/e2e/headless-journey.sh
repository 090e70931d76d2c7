#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# ZorvikMac --headless receives a code by push and publishes it: the shared file, the X11
# clipboard, the notification and its Copy, all gone at expiry. Then a copy with no display at all
# takes over and still publishes.
# shellcheck source-path=SCRIPTDIR disable=SC2154 # e2e_begin sets the arguments' variables
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
e2e_begin headless-journey.sh "app_binary phone" "$@"
export QT_QPA_PLATFORM=xcb
e2e_on_exit() { e2e_reset_session "$phone"; }
no_code_published() { [[ ! -e $latest ]]; }

# Counting notifications needs a server with none left over from earlier tests.
e2e_reset_session "$phone"
store_sync_key
e2e_start app "$app_binary" --headless
expect 10 "the app did not save its subscription" logged app "subscription saved"
expect 10 "the app did not fetch at start" logged app "fetch: nothing pending"
# Kernels from 6.12 on keep a thread's own time slice: every thread of the app asked for 0.5 ms.
IFS=. read -r major minor _ <<<"$(uname -r)"
if ((major > 6 || (major == 6 && minor >= 12))); then
    for sched in /proc/"${e2e_pids[app]}"/task/*/sched; do
        grep -Eq '^se\.slice +: +500000$' "$sched" ||
            fail "a thread of the app runs with $(grep '^se\.slice' "$sched")"
    done
    ok "every thread of the app asked for a 0.5 ms time slice"
fi

send_code 482913 4
expect 5 "latest-code.json did not appear" published 482913
logged app "push received: subscription pending-code-changes" || fail "the code did not come by push"
[[ $(stat -c %a "$latest") == 600 ]] || fail "latest-code.json has mode $(stat -c %a "$latest")"
ok "latest-code.json (0600) holds the code"

within 2 clipboard_is 482913 || fail "the clipboard holds '$(clipboard)'"
targets=$(xclip -selection clipboard -t TARGETS -o)
grep -qx org.nspasteboard.ConcealedType <<<"$targets" || fail "no concealed marker: $targets"
[[ $(xclip -selection clipboard -t x-kde-passwordManagerHint -o) == secret ]] || fail "no password-manager hint"
ok "the clipboard holds the code, marked concealed"

expect 2 "no notification is shown" a_notification_shows
(printf 'my own text' | xclip -selection clipboard -quiet >/dev/null 2>&1 &)
expect 2 "xclip could not copy" clipboard_is "my own text"
dunstctl context
within 2 clipboard_is 482913 || fail "Copy on the notification did not copy the code (clipboard: '$(clipboard)')"
ok "Copy on the notification copies the code"

expect 6 "latest-code.json is still there after the expiry" no_code_published
expect 2 "no expiry in the log" logged app "code expired"
expect 2 "the notification is still shown" no_notification_shows
ok "at expiry the file and the notification are gone"

take_over app headless env -u DISPLAY -u WAYLAND_DISPLAY "$app_binary" --headless
ok "a second headless copy, without a display, takes over from the first"
expect 10 "without a display the app did not start" logged headless "subscription saved"
send_code 271828 30
expect 5 "without a display latest-code.json lacks the code" published 271828
expect 2 "without a display no notification is shown" a_notification_shows
ok "without a display the code still reaches the shared file and a notification"
e2e_expect_no_code_in_logs 482913 271828
