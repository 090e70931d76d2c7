#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Tray mode without a sync key, a code waiting in the cloud: Ctrl+P in the popover shows the
# pairing view, whose QR code zbarimg reads from a screenshot; zorvik-phone pair answers it, the
# key lands in the Secret Service and the waiting code is published, labelled and copied.
# shellcheck source-path=SCRIPTDIR disable=SC2154 # e2e_begin sets the arguments' variables
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
e2e_begin pair-popover.sh "app_binary phone screenshot picture" "$@"
export QT_QPA_PLATFORM=xcb
work=$(mktemp -d -p "$ZORVIK_SESSION_DIR" pair-popover.XXXXXX)
e2e_own_config
e2e_on_exit() { e2e_reset_session "$phone"; }

# The phone's key, which this desktop does not have yet; a code sealed with it waits.
head -c 32 /dev/urandom >"$work/key"
"$phone" key delete 2>/dev/null || true
send_code 314159 60 --key-file "$work/key"
e2e_start app "$app_binary" --log-to-stderr
app=${e2e_pids[app]}
expect 10 "the status item did not register" item_listed "$app"
expect 10 "the code is not waiting for the key" logged app "fetch: record present but no sync key"
ok "a code waits for the key"

# The first run opens the popover by itself; otherwise a click on the item does.
if ! e2e_visible_window "$app" 3 >/dev/null; then
    item_activate "$app"
    e2e_visible_window "$app" 5 >/dev/null || fail "the popover did not open"
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

expect 10 "the waiting code was not published" published 314159
within 5 item_label_is "$app" "314 159" || fail "the label reads $(item_property "$app" XAyatanaLabel)"
expect 5 "the clipboard lacks the code" clipboard_is 314159
ok "the waiting code reached latest-code.json, the label and the clipboard"

base64 -w0 <"$work/key" | grep -qF -f - "$logs/app.log" && fail "the key reached a log line"
ok "the key never reached the log"
