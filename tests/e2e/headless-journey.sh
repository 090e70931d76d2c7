#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# End to end inside the private desktop session: the phone tool sends a code through the
# embedded cloud, ZorvikMac --headless receives it by push and publishes it; the test reads
# the shared file, the X11 clipboard and the notification server, clicks Copy, and watches
# everything go away when the code expires. Then the same app on a machine with no display.
set -euo pipefail

# shellcheck source=tests/e2e/session.sh
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
e2e_begin headless-journey.sh "ZORVIKMAC ZORVIK_PHONE" "$@"
app_binary=$1
phone=$2
export QT_QPA_PLATFORM=xcb
latest=$e2e_shared_dir/latest-code.json
e2e_on_exit() { e2e_reset_session "$phone"; }

# Counting notifications below needs a server with none left over from earlier tests.
dunstctl close-all 2>/dev/null || true
"$phone" key generate --force 2>/dev/null
e2e_start app "$app_binary" --headless
expect 10 "the app did not save its subscription" logged app "subscription saved"
expect 10 "the app did not fetch at start" logged app "fetch: nothing pending"

"$phone" send --account "Work GitHub" --service github --code 482913 --ttl 4 2>/dev/null
expect 5 "latest-code.json did not appear" test -f "$latest"
logged app "push received: subscription pending-code-changes" || fail "the code did not come by push"
[[ $(stat -c %a "$latest") == 600 ]] || fail "latest-code.json has mode $(stat -c %a "$latest")"
grep -q '"code":"482913"' "$latest" || fail "latest-code.json lacks the code"
ok "latest-code.json (0600) holds the code"

within 2 clipboard_is 482913 || fail "the clipboard holds '$(clipboard)'"
targets=$(xclip -selection clipboard -t TARGETS -o)
grep -qx org.nspasteboard.ConcealedType <<<"$targets" || fail "no concealed marker: $targets"
[[ $(xclip -selection clipboard -t x-kde-passwordManagerHint -o) == secret ]] || fail "no password-manager hint"
ok "the clipboard holds the code, marked concealed"

expect 2 "no notification is shown" bash -c '[[ $(dunstctl count displayed) -ge 1 ]]'
(printf 'my own text' | xclip -selection clipboard -quiet >/dev/null 2>&1 &)
expect 2 "xclip could not copy" clipboard_is "my own text"
dunstctl context
within 2 clipboard_is 482913 ||
    fail "Copy on the notification did not copy the code (clipboard: '$(clipboard)')"
ok "Copy on the notification copies the code"

expect 6 "latest-code.json is still there after the expiry" bash -c "[[ ! -e '$latest' ]]"
expect 2 "no expiry in the log" logged app "code expired"
expect 2 "the notification is still shown" bash -c '[[ $(dunstctl count displayed) -eq 0 ]]'
ok "at expiry the file and the notification are gone"

# A server without a desktop: no X display at all, yet the code is received and published.
# Started while the first copy still runs, it takes over from it.
first=${e2e_pids[app]}
e2e_start headless env -u DISPLAY -u WAYLAND_DISPLAY "$app_binary" --headless
second=${e2e_pids[headless]}
expect 10 "the first copy still runs beside the second" bash -c "! kill -0 $first 2>/dev/null"
e2e_stop app
# The notice and the signal race; the first copy logs whichever reached it first.
grep -Eq "Zorvik: (a newer copy \(pid $second\) took over|quitting on SIGTERM)" "$logs/app.log" ||
    fail "the first copy did not log why it quit"
expect 2 "the second copy did not log the take-over" \
    grep -q "Zorvik: asking the older copy at .* (pid $first) to quit" "$logs/headless.log"
ok "a second headless copy takes over from the first"
expect 10 "without a display the app did not start" logged headless "subscription saved"
"$phone" send --account "Work GitHub" --service github --code 271828 --ttl 30 2>/dev/null
expect 5 "without a display latest-code.json did not appear" test -f "$latest"
grep -q '"code":"271828"' "$latest" || fail "without a display latest-code.json lacks the code"
expect 2 "without a display no notification is shown" bash -c '[[ $(dunstctl count displayed) -ge 1 ]]'
dunstctl close-all
ok "without a display the code still reaches the shared file and a notification"
e2e_expect_no_code_in_logs 482913 271828
ok "no log line holds a code"
