#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# End to end in tray mode: with no sync key on this desktop a code waits in the cloud; Ctrl+P in
# the popover shows the pairing view, whose QR code is read back from a screenshot with zbarimg;
# zorvik-phone pair answers it, the key lands in the Secret Service, and the waiting code reaches
# latest-code.json, the item's label and the clipboard without a restart.
set -euo pipefail

# shellcheck source=tests/e2e/session.sh
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
e2e_begin pair-popover.sh "ZORVIKMAC ZORVIK_PHONE SCREENSHOT_TOOL PICTURE" "$@"
app_binary=$1
phone=$2
screenshot=$3
picture=$4
export QT_QPA_PLATFORM=xcb
latest=$e2e_shared_dir/latest-code.json
work=$(mktemp -d -p "$ZORVIK_SESSION_DIR" pair-popover.XXXXXX)
XDG_CONFIG_HOME=$work/config
export XDG_CONFIG_HOME
e2e_on_exit() { e2e_reset_session "$phone"; }

item_of() {
    gdbus call --session -d org.kde.StatusNotifierWatcher -o /StatusNotifierWatcher \
        -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher \
        RegisteredStatusNotifierItems 2>/dev/null | grep -o "org.kde.StatusNotifierItem-$1-[0-9]*" | head -n 1
}
label() {
    gdbus call --session -d "$item" -o /StatusNotifierItem \
        -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierItem XAyatanaLabel 2>/dev/null
}

# The phone's key, which this desktop does not have yet; a code sealed with it waits.
head -c 32 /dev/urandom >"$work/key"
"$phone" key delete 2>/dev/null || true
"$phone" send --key-file "$work/key" --account "Work GitHub" --service github --code 314159 \
    --ttl 60 2>/dev/null
e2e_start app "$app_binary" --log-to-stderr
app=${e2e_pids[app]}
expect 10 "the status item did not register" \
    bash -c "[[ -n \$(gdbus call --session -d org.kde.StatusNotifierWatcher -o /StatusNotifierWatcher -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher RegisteredStatusNotifierItems 2>/dev/null | grep -o 'StatusNotifierItem-$app-') ]]"
item=$(item_of "$app")
expect 10 "the code is not waiting for the key" logged app "fetch: record present but no sync key"
ok "a code waits for the key"

# The first run opens the popover by itself; otherwise a click on the item does.
if ! popover=$(e2e_visible_window "$app" 3); then
    gdbus call --session -d "$item" -o /StatusNotifierItem \
        -m org.kde.StatusNotifierItem.Activate 0 0 >/dev/null
    popover=$(e2e_visible_window "$app" 5) || fail "the popover did not open"
fi
expect 3 "the popover did not take the keyboard" e2e_has_keyboard "$app"
popover=$(xdotool getwindowfocus)
xdotool key ctrl+p
expect 5 "Ctrl+P did not open a pairing offer" logged app "pairing: offer open"
sleep 0.5 # the popover grows to the pairing view and draws it
eval "$(xdotool getwindowgeometry --shell "$popover")"
"$screenshot" "$picture" "$X" "$Y" "$WIDTH" "$HEIGHT" || fail "no screenshot"
uri=$(zbarimg --raw -q "$picture") || fail "zbarimg found no code in $picture"
[[ $uri == zorvik://pair\?v=1\&id=*\&pk=* ]] || fail "the code reads '$uri'"
ok "zbarimg read the pairing code from the screenshot: ${uri:0:40}…"

"$phone" pair "$uri" --key-file "$work/key" 2>/dev/null || fail "zorvik-phone pair failed"
expect 10 "the hand-off was not taken" logged app "pairing: key received from the phone and stored"
[[ $("$phone" key export) == "$(base64 -w0 <"$work/key")" ]] || fail "the Secret Service holds another key"
ok "the key from the phone is in the Secret Service"

expect 10 "the waiting code did not reach latest-code.json" grep -qs '"code":"314159"' "$latest"
within 5 bash -c "[[ \$(gdbus call --session -d $item -o /StatusNotifierItem -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierItem XAyatanaLabel 2>/dev/null) == \"(<'314 159'>,)\" ]]" ||
    fail "the label reads $(label)"
expect 5 "the clipboard lacks the code" clipboard_is 314159
ok "the waiting code reached latest-code.json, the label and the clipboard"

base64 -w0 <"$work/key" | grep -qF -f - "$logs/app.log" && fail "the key reached a log line"
ok "the key never reached the log"
