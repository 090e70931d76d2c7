#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Tray mode: ZorvikMac registers its status item, opens the popover by itself on a first run,
# shows a code as the item's label, a second copy takes over, and Quit in its popover ends it.
# shellcheck source-path=SCRIPTDIR disable=SC2154 # e2e_begin sets the arguments' variables
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
e2e_begin tray-journey.sh "app_binary phone screenshot" "$@"
export QT_QPA_PLATFORM=xcb
e2e_own_config
e2e_on_exit() { e2e_reset_session "$phone"; }

"$phone" key generate --force 2>/dev/null
e2e_start first "$app_binary"
first=${e2e_pids[first]}
expect 10 "the status item did not register" item_listed "$first"
[[ $(item_property "$first" Title) == "(<'Zorvik'>,)" ]] || fail "Title is $(item_property "$first" Title)"
[[ $(item_property "$first" ToolTip) == *"Zorvik — codes from your iPhone"* ]] ||
    fail "ToolTip is $(item_property "$first" ToolTip)"
ok "the status item is registered as $(item_of "$first")"
e2e_visible_window "$first" 5 >/dev/null || fail "the first-run popover did not open"
ok "the popover opened by itself on the first run"

send_code 482913 60
within 5 item_label_is "$first" "482 913" || fail "the label reads $(item_property "$first" XAyatanaLabel)"
ok "the item's label shows the code"
"$screenshot" "$ZORVIK_SESSION_DIR/tray-journey.png" || true
# Started as from the menu (stderr no terminal), the app logs to the journal; without journald,
# as in this session, its lines go to stderr instead of nowhere.
if ! e2e_journal_listens; then
    grep -q "net.brontal.zorvik:mac received Work GitHub from .*, expires in" "$logs/first.log" ||
        fail "without a journal, the line of the code received went nowhere"
    logged first "net.brontal.zorvik:mac fetch: " || fail "without a journal, the fetch lines went nowhere"
    ok "with no journal, the app's lines are on its stderr"
fi

take_over first second "$app_binary"
second=${e2e_pids[second]}
expect 10 "the second copy's item did not register" item_listed "$second"
ok "a second copy took over from the first"

# A click on the item opens the popover; its Quit shortcut ends the application.
item_activate "$second"
e2e_visible_window "$second" 5 >/dev/null || fail "a click on the item did not open the popover"
expect 3 "the popover did not take the keyboard" e2e_has_keyboard "$second"
xdotool key ctrl+q
expect 5 "Ctrl+Q in the popover did not quit" gone "$second"
e2e_stop_clean second 0
ok "Quit in the popover ends the application"
e2e_expect_no_code_in_logs 482913
