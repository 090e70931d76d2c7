#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# End to end on sway (wlroots), headless, with XWayland, as a sway session starts the tray app:
# the app sets the clipboard through the compositor's data control, so a Wayland client (wl-paste)
# reads the code with both hints that keep it out of clipboard histories, and so does an X11
# client while an X11 window has the focus; the code leaves at expiry, and an entry someone else
# copied meanwhile (wl-copy) stays. Then the same for --headless with Wayland alone. With
# ZORVIK_SWAY_SCREENSHOT set, it leaves a screenshot of the screen (grim) there while the code is
# shown.
#
# Run as root, it runs itself again as the user nobody (see sway-host.sh).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=tests/e2e/session.sh
source "$here/session.sh"
# shellcheck source=tests/e2e/sway-host.sh
source "$here/sway-host.sh"
e2e_begin sway-clipboard.sh "ZORVIKMAC ZORVIK_PHONE" "$@"
app_binary=$1
phone=$2

sway_require wl-paste wl-copy xclip xmessage
sway_as_unprivileged_user sway-clipboard.sh "$app_binary" "$phone"

e2e_on_exit() {
    sway_stop
    e2e_reset_session "$phone"
}
# xclip may wait for an owner that never answers; the harness's clipboard_is would wait with it.
x11_clipboard_is() { [[ $(timeout 2 xclip -o -selection clipboard 2>/dev/null) == "$1" ]]; }
expiries() { grep -c "code expired" "$logs/app.log" || true; }
expired_more_than() { (($(expiries) > $1)); }

sway_start bar

# The session's keyring may still be starting.
within 15 "$phone" key generate --force >/dev/null 2>&1 || fail "no sync key could be stored"
# Started as sway starts a program: its environment, nothing forced.
e2e_start app "$app_binary" --log-to-stderr
expect 15 "the tray app did not start" logged app "subscription saved"
logged app "Zorvik: the clipboard goes through the data control of the Wayland display $WAYLAND_DISPLAY" ||
    fail "the app does not use the compositor's data control"
ok "on sway the tray app sets the clipboard through the compositor's data control"

"$phone" send --account "Work GitHub" --service github --code 615243 --ttl 10 2>/dev/null
within 5 wayland_clipboard_is 615243 ||
    fail "wl-paste reads '$(wayland_clipboard)', not the code"
types=$(wl-paste --list-types)
grep -qx org.nspasteboard.ConcealedType <<<"$types" || fail "no concealed marker: $types"
grep -qx x-kde-passwordManagerHint <<<"$types" || fail "no password-manager hint: $types"
[[ $(wl-paste --type x-kde-passwordManagerHint) == secret ]] || fail "the hint is not 'secret'"
ok "a Wayland client reads the code from the background app, marked concealed"
if [[ -n ${ZORVIK_SWAY_SCREENSHOT:-} ]] && command -v grim >/dev/null; then
    grim "$ZORVIK_SWAY_SCREENSHOT" 2>/dev/null || echo "note: grim took no screenshot"
fi
# wlroots lets an X11 client read the clipboard while an X11 window has the focus.
e2e_start window xmessage -geometry 240x60 "X11 window"
within 5 x11_clipboard_is 615243 ||
    fail "an X11 client reads '$(timeout 2 xclip -o -selection clipboard 2>&1)', not the code"
e2e_stop window
ok "an X11 client with the focus reads the code too"
expect 12 "the code is still on the clipboard after its expiry" wayland_clipboard_is_not 615243
[[ -z $(wl-paste --list-types 2>/dev/null) ]] || fail "the clipboard is not empty: $(wl-paste --list-types)"
ok "at expiry the code leaves the clipboard"

expired=$(expiries)
"$phone" send --account "Work GitHub" --service github --code 902817 --ttl 10 2>/dev/null
within 5 wayland_clipboard_is 902817 ||
    fail "wl-paste reads '$(wayland_clipboard)', not the second code"
e2e_start copier wl-copy --foreground "meeting notes" </dev/null
expect 2 "wl-copy's entry did not reach the clipboard" wayland_clipboard_is "meeting notes"
expired_more_than "$expired" && fail "the second code expired before the copy, which proves nothing"
expect 12 "the second code did not expire" expired_more_than "$expired"
sleep 0.5
[[ $(wayland_clipboard) == "meeting notes" ]] ||
    fail "the entry copied after the code was cleared at expiry: '$(wayland_clipboard)'"
ok "an entry copied after the code stays at the code's expiry"

kill -0 "${e2e_pids[app]}" || fail "the app ended"

# Wayland alone, no X display: --headless runs on no display of Qt's at all, and still sets the
# clipboard; it takes over from the tray app, and outlives the compositor.
tray=${e2e_pids[app]}
e2e_start headless env -u DISPLAY "$app_binary" --headless
expect 10 "the tray app still runs beside the headless copy" bash -c "! kill -0 $tray 2>/dev/null"
e2e_stop app
expect 15 "with Wayland alone, --headless did not start" logged headless "subscription saved"
"$phone" send --account "Work GitHub" --service github --code 731904 --ttl 30 2>/dev/null
within 5 wayland_clipboard_is 731904 ||
    fail "with Wayland alone, wl-paste reads '$(wayland_clipboard)', not the code"
wl-paste --list-types | grep -qx org.nspasteboard.ConcealedType || fail "with Wayland alone, no concealed marker"
ok "with Wayland alone, the headless app sets the clipboard, marked concealed"
sway_stop
"$phone" send --account "Work GitHub" --service github --code 550127 --ttl 30 2>/dev/null
expect 5 "once the compositor is gone, the code does not reach latest-code.json" \
    grep -q '"code":"550127"' "$e2e_shared_dir/latest-code.json"
kill -0 "${e2e_pids[headless]}" || fail "the headless app ended with the compositor"
ok "the headless app outlives the compositor and goes on publishing"

e2e_expect_no_code_in_logs 615243 902817 731904 550127
ok "no log line holds a code"
