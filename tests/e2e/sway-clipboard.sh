#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# sway (wlroots) runs the tray app, which sets the clipboard through the data control: Wayland and
# focused X11 clients read the code, concealed, until it expires unless someone copied since. Then
# --headless with Wayland alone, which outlives the compositor. Screenshot: $ZORVIK_SWAY_SCREENSHOT.
# shellcheck source-path=SCRIPTDIR disable=SC2154 # e2e_begin sets the arguments' variables
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
source "$e2e_here/sway-host.sh"
e2e_begin sway-clipboard.sh "app_binary phone" "$@"
e2e_require_tools sway Xwayland wl-paste wl-copy xclip xmessage
e2e_as_unprivileged_user ZORVIK_SWAY_SCREENSHOT sway-clipboard.sh "$app_binary" "$phone"
e2e_on_exit() {
    sway_stop
    e2e_reset_session "$phone"
}
expiries() { grep -c "code expired" "$logs/app.log" || true; }
expired_more_than() { (($(expiries) > $1)); }

sway_start bar
store_sync_key
# Started as sway starts a program: its environment, nothing forced.
e2e_start app "$app_binary" --log-to-stderr
expect 15 "the tray app did not start" logged app "subscription saved"
logged app "Zorvik: the clipboard goes through the data control of the Wayland display $WAYLAND_DISPLAY" ||
    fail "the app does not use the compositor's data control"
ok "on sway the tray app sets the clipboard through the compositor's data control"

send_code 615243 10
within 5 wayland_clipboard_is 615243 || fail "wl-paste reads '$(wayland_clipboard)', not the code"
expect_wayland_concealed
[[ $(wl-paste --type x-kde-passwordManagerHint) == secret ]] || fail "the hint is not 'secret'"
ok "a Wayland client reads the code from the background app, marked concealed"
if [[ -n ${ZORVIK_SWAY_SCREENSHOT:-} ]] && command -v grim >/dev/null; then
    grim "$ZORVIK_SWAY_SCREENSHOT" 2>/dev/null || echo "note: grim took no screenshot"
fi
e2e_start window xmessage -geometry 240x60 "X11 window"
within 5 x11_clipboard_is 615243 ||
    fail "an X11 client reads '$(timeout 2 xclip -o -selection clipboard 2>&1)', not the code"
e2e_stop window
ok "an X11 client with the focus reads the code too"
expect 12 "the code is still on the clipboard after its expiry" wayland_clipboard_is_not 615243
[[ -z $(wl-paste --list-types 2>/dev/null) ]] || fail "the clipboard is not empty: $(wl-paste --list-types)"
ok "at expiry the code leaves the clipboard"

expired=$(expiries)
send_code 902817 10
within 5 wayland_clipboard_is 902817 || fail "wl-paste reads '$(wayland_clipboard)', not the second code"
e2e_start copier wl-copy --foreground "meeting notes" </dev/null
expect 2 "wl-copy's entry did not reach the clipboard" wayland_clipboard_is "meeting notes"
expired_more_than "$expired" && fail "the second code expired before the copy, which proves nothing"
expect 12 "the second code did not expire" expired_more_than "$expired"
sleep 0.5
[[ $(wayland_clipboard) == "meeting notes" ]] ||
    fail "the entry copied after the code was cleared at expiry: '$(wayland_clipboard)'"
ok "an entry copied after the code stays at the code's expiry"
kill -0 "${e2e_pids[app]}" || fail "the app ended"

# Wayland alone: --headless runs on no display of Qt's at all, and still sets the clipboard.
take_over app headless env -u DISPLAY "$app_binary" --headless
expect 15 "with Wayland alone, --headless did not start" logged headless "subscription saved"
send_code 731904 30
within 5 wayland_clipboard_is 731904 ||
    fail "with Wayland alone, wl-paste reads '$(wayland_clipboard)', not the code"
wl-paste --list-types | grep -qx org.nspasteboard.ConcealedType || fail "with Wayland alone, no concealed marker"
ok "with Wayland alone, the headless app sets the clipboard, marked concealed"
sway_stop
send_code 550127 30
expect 5 "once the compositor is gone, the code is not published" published 550127
kill -0 "${e2e_pids[headless]}" || fail "the headless app ended with the compositor"
ok "the headless app outlives the compositor and goes on publishing"
e2e_expect_no_code_in_logs 615243 902817 731904 550127
