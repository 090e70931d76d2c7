#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# KDE Plasma 5.27 (see plasma-host.sh) starts the tray app at a returning user's login: the wallet
# not reported locked, the item and its tooltip, the notification's Copy, the clipboard for Wayland
# and X11 clients, no code in Klipper. It leaves KWin's screenshot at $ZORVIK_PLASMA_SCREENSHOT.
# shellcheck source-path=SCRIPTDIR disable=SC2154 # e2e_begin sets the arguments' variables
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
source "$e2e_here/plasma-host.sh"
e2e_begin plasma-journey.sh "app_binary phone" "$@"
plasma_require wl-paste wl-copy xclip xmessage pkill
e2e_as_unprivileged_user ZORVIK_PLASMA_SCREENSHOT plasma-journey.sh "$app_binary" "$phone"
code=482913
label="482 913"
ttl=30
e2e_on_exit() {
    set +e
    plasma_stop
}
tooltip() { item_property "$app" ToolTip; }
tooltip_holds() { [[ $(tooltip) == *"'$1')>,)" ]]; }
tooltip_lacks() {
    local text
    text=$(tooltip) && [[ $text != *"$1"* ]]
}
klipper_history() { bus_call -d org.kde.klipper -o /klipper -m org.kde.klipper.klipper.getClipboardHistoryMenu; }
klipper_holds() { [[ $(klipper_history) == *"'$1'"* ]]; }
wayland_types() { timeout 5 wl-paste --list-types 2>/dev/null | tr '\n' ' '; }
notified_with() { grep -qF -- "$1" "$notifications"; }
copy_offered() { [[ $1 == *"\"$label"* && $1 == *'string "copy" string "Copy"'* ]]; }

start=$SECONDS
plasma_start
ok "Plasma is up: KWin with XWayland on $DISPLAY, plasmashell hosting the tray, notifications and Klipper, KWallet's Secret Service ($((SECONDS - start)) s)"

# A returning user: the key went into the wallet at an earlier login (the phone keeps its own
# copy), and the first-run popover has been seen.
store_sync_key
key=$(mktemp -p "$ZORVIK_SESSION_DIR" plasma-key.XXXXXX)
"$phone" key export 2>/dev/null | base64 -d >"$key"
[[ $(stat -c %s "$key") == 32 ]] || fail "the sync key could not be read back from KWallet"
e2e_returning_user
# This login: pam_kwallet5 opens the wallet, and KWallet still reports it locked until asked.
plasma_wallet_login_again
[[ $(plasma_collection_locked) == true ]] ||
    fail "KWallet reports the wallet opened at login as '$(plasma_collection_locked)', not locked: the keyring check below would prove nothing"
ok "as at a login with pam_kwallet5, the wallet is open and its collection reported locked"
before=$plasma_dir/before.png
plasma_screenshot "$before" >/dev/null || fail "KWin took no screenshot"
# Every notification the session's server is sent (kept out of $logs, which must hold no code).
notifications=$plasma_dir/notifications.log
dbus-monitor --session "type='method_call',interface='org.freedesktop.Notifications',member='Notify'" \
    >"$notifications" 2>&1 &
plasma_pids+=("$!")

# Started as a Plasma login starts autostarted programs: the session's environment only.
e2e_start app "$app_binary" --log-to-stderr
app=${e2e_pids[app]}
expect 15 "the tray app did not start" logged app "subscription saved"
expect 10 "the app's item did not register with kded5's watcher" item_listed "$app"
ok "the app's item is registered with the tray watcher: $(item_of "$app")"
# The app asks KWallet for the wallet opened at login without a prompt.
within 15 logged app "check syncKey: ok" ||
    fail "the sync-key row reads '$(grep -oE "check syncKey: .*" "$logs/app.log" | tail -n 1)'"
! logged app "check syncKey: failed — Keyring locked" || fail "a row said the keyring was locked"
[[ $(plasma_collection_locked) == false ]] || fail "KWallet still reports the collection locked: $(plasma_collection_locked)"
ok "with the wallet opened at login, the app opened it without a prompt and no row said it was locked"

send_code "$code" "$ttl" --key-file "$key"
sent=$SECONDS
expect 15 "the code did not reach the app" logged app "received Work GitHub"
within 5 tooltip_holds "$label" || true
verdict tooltip "$(passes tooltip_holds "$label")" "the item's tooltip is $(tooltip || echo "unreadable") (want '$label' in it)"
within 5 notified_with "$label" || true
verdict notification "$(passes copy_offered "$(tr -s ' \n' ' ' <"$notifications")")" \
    "plasmashell was sent the code's notification with a Copy button"
within 5 wayland_clipboard_is "$code" || true
types=$(wayland_types)
verdict clipboard "$(wayland_clipboard_is "$code" && passes concealed "$types" || echo 0)" \
    "wl-paste reads '$(wayland_clipboard)' with the types: $types"
# KWin hands the clipboard to X11 clients while an X11 window has the focus, as wlroots does.
e2e_start window xmessage -geometry 240x60 "X11 window"
within 5 x11_clipboard_is "$code" || true
verdict x11-clipboard "$(passes x11_clipboard_is "$code")" \
    "with an X11 window in front, xclip reads '$(timeout 2 xclip -o -selection clipboard 2>&1)'"
e2e_stop window

# What a user sees now: the tray's corner, left of the clock at the right end of the bottom
# panel, has changed since before the app started.
shot=$plasma_dir/code.png
if plasma_screenshot "$shot" >/dev/null; then
    if [[ -n ${ZORVIK_PLASMA_SCREENSHOT:-} ]]; then cp -- "$shot" "$ZORVIK_PLASMA_SCREENSHOT"; fi
    changed=$(/usr/bin/python3 "$e2e_here/pictures.py" changed "$before" "$shot" 1000 760 130 40)
    verdict tray-icon "$((changed > 50 ? 1 : 0))" "the system tray's corner of the panel changed in $changed pixels since the app started"
else
    verdict tray-icon 0 "KWin took no screenshot"
fi

klipper_holds "$code" && in_history=1 || in_history=0
# Klipper does keep what others copy, so its empty history above means something.
e2e_start copier wl-copy --foreground "meeting notes"
expect 5 "wl-copy's entry did not reach the clipboard" wayland_clipboard_is "meeting notes"
within 5 klipper_holds "meeting notes" || fail "Klipper keeps nothing at all: $(klipper_history)"
e2e_stop copier
verdict klipper "$((1 - in_history))" "Klipper's history $( ((in_history)) && echo holds || echo "does not hold") the code: $(klipper_history)"

remaining=$((ttl - (SECONDS - sent) + 5))
((remaining > 0)) || remaining=1
within "$remaining" tooltip_lacks "$label" || true
verdict tooltip-expiry "$(passes tooltip_lacks "$label")" \
    "$((SECONDS - sent)) s after a code of $ttl s, the tooltip is $(tooltip || echo unreadable)"

kill -0 "$app" 2>/dev/null || fail "the app ended"
e2e_expect_no_code_in_logs "$code"
echo "done in $((SECONDS - start)) s"
verdicts_passed
