#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# End to end on KDE Plasma 5.27, as its users run it: headless KWin on Wayland with XWayland,
# plasmashell's panel and system tray, kded5's tray watcher, and KWallet's Secret Service with the
# wallet opened at login (pam_kwallet5). A returning user's login starts the tray app; the phone
# tool sends a code; then what a user meets is asked of the desktop itself: the keyring not
# reported locked (the wallet was opened at login), the item in plasmashell's tray, the code in
# its tooltip (Plasma draws no label), the notification with its Copy button, the clipboard as a
# Wayland client reads it, marked concealed, and Klipper's history without the code. With
# ZORVIK_PLASMA_SCREENSHOT set, it leaves a screenshot (KWin's own) there while the code is shown.
#
# Run as root, it runs itself again as the user nobody (see plasma-host.sh).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=tests/e2e/session.sh
source "$here/session.sh"
# shellcheck source=tests/e2e/plasma-host.sh
source "$here/plasma-host.sh"
e2e_begin plasma-journey.sh "ZORVIKMAC ZORVIK_PHONE" "$@"
app_binary=$1
phone=$2

plasma_require wl-paste wl-copy xclip xmessage pgrep
plasma_as_unprivileged_user plasma-journey.sh "$app_binary" "$phone"

code=482913
label="482 913"
ttl=30
failures=0

monitor_pid=
e2e_on_exit() {
    set +e
    e2e_stop_process "$monitor_pid"
    plasma_stop
}

# Reports a check that the test goes on after: verdict NAME PASSED MESSAGE.
verdict() {
    local name=$1 passed=$2 message=$3
    if ((passed)); then
        ok "$message"
    else
        echo "FAIL: $name: $message"
        failures=$((failures + 1))
    fi
}

# The app's item as the watcher lists it: "bus-name/path".
app_item() {
    plasma_call -d org.kde.StatusNotifierWatcher -o /StatusNotifierWatcher \
        -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher \
        RegisteredStatusNotifierItems | grep -o "org\.kde\.StatusNotifierItem-$app-[0-9]*/[A-Za-z/]*"
}
item_property() {
    local item
    item=$(app_item) || return 1
    plasma_call -d "${item%%/*}" -o "/${item#*/}" -m org.freedesktop.DBus.Properties.Get \
        org.kde.StatusNotifierItem "$1"
}
app_item_registered() { app_item >/dev/null; }
tooltip_holds() { [[ $(item_property ToolTip) == *"'$1')>,)" ]]; }
tooltip_lacks() {
    local tooltip
    tooltip=$(item_property ToolTip) || return 1
    [[ $tooltip != *"$1"* ]]
}
# Klipper's history, one entry a line.
klipper_history() {
    plasma_call -d org.kde.klipper -o /klipper -m org.kde.klipper.klipper.getClipboardHistoryMenu
}
klipper_holds() { [[ $(klipper_history) == *"'$1'"* ]]; }
wayland_types() { timeout 5 wl-paste --list-types 2>/dev/null | tr '\n' ' '; }
notified_with() { grep -qF -- "$1" "$notifications"; }

start=$SECONDS
plasma_start
ok "Plasma is up: KWin with XWayland on $DISPLAY, plasmashell hosting the tray, notifications and Klipper, KWallet's Secret Service ($((SECONDS - start)) s)"

# A returning user: the key went into the wallet at an earlier login, and the first-run popover
# has been seen. The phone keeps its own copy of the key.
# shellcheck disable=SC2016 # expanded by the inner shell
expect 15 "no sync key could be stored in KWallet" \
    bash -c '"$1" key generate --force >/dev/null 2>&1' _ "$phone"
key=$(mktemp -p "$ZORVIK_SESSION_DIR" plasma-key.XXXXXX)
"$phone" key export 2>/dev/null | base64 -d >"$key"
[[ $(stat -c %s "$key") == 32 ]] || fail "the sync key could not be read back from KWallet"
mkdir -p "$XDG_CONFIG_HOME/net.brontal.zorvik"
printf '[General]\nfirstRunDone=true\n' >"$XDG_CONFIG_HOME/net.brontal.zorvik/ZorvikMac.conf"
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
monitor_pid=$!

# Started as a Plasma login starts autostarted programs: the session's environment only.
e2e_start app "$app_binary" --log-to-stderr
app=${e2e_pids[app]}
expect 15 "the tray app did not start" logged app "subscription saved"
expect 10 "the app's item did not register with kded5's watcher" app_item_registered
ok "the app's item is registered with the tray watcher: $(app_item)"

# The wallet was opened at login: the app asks KWallet for it without a prompt, and no row says
# the keyring is locked.
within 15 logged app "check syncKey: ok" ||
    fail "the sync-key row reads '$(grep -oE "check syncKey: .*" "$logs/app.log" | tail -n 1)'"
! logged app "check syncKey: failed — Keyring locked" || fail "a row said the keyring was locked"
[[ $(plasma_collection_locked) == false ]] ||
    fail "KWallet still reports the collection locked: $(plasma_collection_locked)"
ok "with the wallet opened at login, the app opened it without a prompt and no row said it was locked"

"$phone" send --key-file "$key" --account "Work GitHub" --service github --code "$code" \
    --ttl "$ttl" >/dev/null 2>&1
sent=$SECONDS
expect 15 "the code did not reach the app" logged app "received Work GitHub"

# Plasma draws no label beside the icon: the tooltip carries the code.
within 5 tooltip_holds "$label" || true
verdict tooltip "$(tooltip_holds "$label" && echo 1 || echo 0)" \
    "the item's tooltip is $(item_property ToolTip || echo "unreadable") (want '$label' in it)"

# The notification reached plasmashell's server, with its Copy button.
within 5 notified_with "$label" || true
notify=$(tr -s ' \n' ' ' <"$notifications")
verdict notification "$([[ $notify == *"\"$label"* && $notify == *'string "copy" string "Copy"'* ]] &&
    echo 1 || echo 0)" "plasmashell was sent the code's notification with a Copy button"

# The clipboard as a Wayland client reads it, marked concealed; Klipper keeps none of it.
within 5 wayland_clipboard_is "$code" || true
types=$(wayland_types)
verdict clipboard "$(wayland_clipboard_is "$code" &&
    [[ " $types " == *" org.nspasteboard.ConcealedType "* &&
        " $types " == *" x-kde-passwordManagerHint "* ]] && echo 1 || echo 0)" \
    "wl-paste reads '$(wayland_clipboard)' with the types: $types"

# KWin hands the clipboard to X11 clients while an X11 window has the focus, as wlroots does.
x11_clipboard_is() { [[ $(timeout 2 xclip -o -selection clipboard 2>/dev/null) == "$1" ]]; }
e2e_start window xmessage -geometry 240x60 "X11 window"
within 5 x11_clipboard_is "$code" || true
verdict x11-clipboard "$(x11_clipboard_is "$code" && echo 1 || echo 0)" \
    "with an X11 window in front, xclip reads '$(timeout 2 xclip -o -selection clipboard 2>&1)'"
e2e_stop window

# What a user sees now: the tray's corner has changed since before the app started.
shot=$plasma_dir/code.png
if plasma_screenshot "$shot" >/dev/null; then
    if [[ -n ${ZORVIK_PLASMA_SCREENSHOT:-} ]]; then cp -- "$shot" "$ZORVIK_PLASMA_SCREENSHOT"; fi
    # The system tray sits left of the clock at the right end of the bottom panel.
    changed=$(plasma_pixels_changed "$before" "$shot" 1000 760 130 40)
    verdict tray-icon "$((changed > 50 ? 1 : 0))" \
        "the system tray's corner of the panel changed in $changed pixels since the app started"
else
    verdict tray-icon 0 "KWin took no screenshot"
fi

klipper_holds "$code" && in_history=1 || in_history=0
# Klipper does keep what others copy, so its empty history above means something.
e2e_start copier wl-copy --foreground "meeting notes"
expect 5 "wl-copy's entry did not reach the clipboard" wayland_clipboard_is "meeting notes"
within 5 klipper_holds "meeting notes" || fail "Klipper keeps nothing at all: $(klipper_history)"
e2e_stop copier
verdict klipper "$((in_history ? 0 : 1))" \
    "Klipper's history $( ((in_history)) && echo holds || echo "does not hold") the code: $(klipper_history)"

# At expiry the code leaves the tooltip.
remaining=$((ttl - (SECONDS - sent) + 5))
((remaining > 0)) || remaining=1
within "$remaining" tooltip_lacks "$label" || true
verdict tooltip-expiry "$(tooltip_lacks "$label" && echo 1 || echo 0)" \
    "$((SECONDS - sent)) s after a code of $ttl s, the tooltip is $(item_property ToolTip || echo unreadable)"

kill -0 "$app" 2>/dev/null || fail "the app ended"
e2e_expect_no_code_in_logs "$code"
ok "no log line holds a code"
echo "done in $((SECONDS - start)) s"
((failures == 0)) || fail "$failures check(s) failed"
