#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# End to end inside the private desktop session, in tray mode: ZorvikMac registers its status
# item with the session's tray watcher, opens the popover by itself on a first run, shows a code
# sent by the phone tool as the item's label, and a second copy started later takes over.
set -euo pipefail

# shellcheck source=tests/e2e/session.sh
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
e2e_begin tray-journey.sh "ZORVIKMAC ZORVIK_PHONE SCREENSHOT_TOOL" "$@"
app_binary=$1
phone=$2
screenshot=$3
export QT_QPA_PLATFORM=xcb
# Settings of its own, so this is a first run whatever ran before in the session.
XDG_CONFIG_HOME=$(mktemp -d -p "$ZORVIK_SESSION_DIR" tray-config.XXXXXX)
export XDG_CONFIG_HOME
# The copies were ended while their code was shown; its notification is closed too.
e2e_on_exit() { e2e_reset_session "$phone"; }

item_of() {
    gdbus call --session -d org.kde.StatusNotifierWatcher -o /StatusNotifierWatcher \
        -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher \
        RegisteredStatusNotifierItems 2>/dev/null | grep -o "org.kde.StatusNotifierItem-$1-[0-9]*" | head -n 1
}
property() {
    gdbus call --session -d "$1" -o /StatusNotifierItem \
        -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierItem "$2" 2>/dev/null
}

"$phone" key generate --force 2>/dev/null
e2e_start first "$app_binary"
first=${e2e_pids[first]}
expect 10 "the status item did not register" \
    bash -c "[[ -n \$(gdbus call --session -d org.kde.StatusNotifierWatcher -o /StatusNotifierWatcher -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher RegisteredStatusNotifierItems 2>/dev/null | grep -o 'StatusNotifierItem-$first-') ]]"
item=$(item_of "$first")
[[ $(property "$item" Title) == "(<'Zorvik'>,)" ]] || fail "Title is $(property "$item" Title)"
[[ $(property "$item" ToolTip) == *"Zorvik — codes from your iPhone"* ]] || fail "ToolTip is $(property "$item" ToolTip)"
ok "the status item is registered as $item"

expect 5 "the first-run popover did not open" \
    bash -c "xdotool search --onlyvisible --pid $first >/dev/null 2>&1"
ok "the popover opened by itself on the first run"

"$phone" send --account "Work GitHub" --service github --code 482913 --ttl 60 2>/dev/null
within 5 bash -c "[[ \$(gdbus call --session -d $item -o /StatusNotifierItem -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierItem XAyatanaLabel 2>/dev/null) == \"(<'482 913'>,)\" ]]" ||
    fail "the label reads $(property "$item" XAyatanaLabel)"
ok "the item's label shows the code"
"$screenshot" "$ZORVIK_SESSION_DIR/tray-journey.png" || true
# Started as from the menu (stderr no terminal), the app logs to the journal; where journald is
# not there, as in this session, its lines go to stderr instead of nowhere.
if ! e2e_journal_listens; then
    grep -q "net.brontal.zorvik:mac received Work GitHub from .*, expires in" "$logs/first.log" ||
        fail "without a journal, the line of the code received went nowhere"
    grep -q "net.brontal.zorvik:mac fetch: " "$logs/first.log" ||
        fail "without a journal, the fetch lines went nowhere"
    ok "with no journal, the app's lines are on its stderr"
fi

e2e_start second "$app_binary"
second=${e2e_pids[second]}
expect 10 "the first copy is still running" bash -c "! kill -0 $first 2>/dev/null"
e2e_stop first
expect 2 "the second copy did not log the take-over" \
    grep -q "Zorvik: asking the older copy at .* (pid $first) to quit" "$logs/second.log"
# The notice and the signal race; the first copy logs whichever reached it first.
grep -Eq "Zorvik: (a newer copy \(pid $second\) took over|quitting on SIGTERM)" "$logs/first.log" ||
    fail "the first copy did not log why it quit"
expect 10 "the second copy's item did not register" \
    bash -c "[[ -n \$(gdbus call --session -d org.kde.StatusNotifierWatcher -o /StatusNotifierWatcher -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher RegisteredStatusNotifierItems 2>/dev/null | grep -o 'StatusNotifierItem-$second-') ]]"
ok "a second copy took over from the first"

# A click on the item opens the popover; its Quit shortcut ends the application.
second_item=$(item_of "$second")
gdbus call --session -d "$second_item" -o /StatusNotifierItem \
    -m org.kde.StatusNotifierItem.Activate 0 0 >/dev/null
e2e_visible_window "$second" 5 >/dev/null || fail "a click on the item did not open the popover"
expect 3 "the popover did not take the keyboard" e2e_has_keyboard "$second"
xdotool key ctrl+q
expect 5 "Ctrl+Q in the popover did not quit" bash -c "! kill -0 $second 2>/dev/null"
wait "$second" || fail "the application quit with status $?"
unset 'e2e_pids[second]'
ok "Quit in the popover ends the application"
e2e_expect_no_code_in_logs 482913
ok "no log line holds the code"
