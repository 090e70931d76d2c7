#!/usr/bin/env bash
# End to end inside the private desktop session, in tray mode: ZorvikMac registers its status
# item with the session's tray watcher, opens the popover by itself on a first run, shows a code
# sent by the phone tool as the item's label, and a second copy started later takes over.
set -euo pipefail

# shellcheck source=tests/e2e/session.sh
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
e2e_require_session tray-journey.sh "ZORVIKMAC ZORVIK_PHONE SCREENSHOT_TOOL" "$@"
app_binary=$1
phone=$2
screenshot=$3
export QT_QPA_PLATFORM=xcb
# Settings of its own, so this is a first run whatever ran before in the session.
XDG_CONFIG_HOME=$(mktemp -d -p "$ZORVIK_SESSION_DIR" tray-config.XXXXXX)
export XDG_CONFIG_HOME
first_log=$(mktemp -p "$ZORVIK_SESSION_DIR" tray-first.XXXXXX)
second_log=$(mktemp -p "$ZORVIK_SESSION_DIR" tray-second.XXXXXX)
first=""
second=""

fail() {
    echo "FAIL: $*"
    echo "--- first copy's log"
    cat "$first_log"
    echo "--- second copy's log"
    cat "$second_log"
    exit 1
}
item_of() {
    gdbus call --session -d org.kde.StatusNotifierWatcher -o /StatusNotifierWatcher \
        -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher \
        RegisteredStatusNotifierItems 2>/dev/null | grep -o "org.kde.StatusNotifierItem-$1-[0-9]*" | head -n 1
}
property() {
    gdbus call --session -d "$1" -o /StatusNotifierItem \
        -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierItem "$2" 2>/dev/null
}
cleanup() {
    for pid in $first $second; do kill "$pid" 2>/dev/null || true; done
    for pid in $first $second; do wait "$pid" 2>/dev/null || true; done
    # The copies were ended while their code was shown; its notification is closed too.
    e2e_reset_session "$phone"
}
trap cleanup EXIT

"$phone" key generate --force 2>/dev/null
"$app_binary" >"$first_log" 2>&1 &
first=$!
within 10 bash -c "[[ -n \$(gdbus call --session -d org.kde.StatusNotifierWatcher -o /StatusNotifierWatcher -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher RegisteredStatusNotifierItems 2>/dev/null | grep -o 'StatusNotifierItem-$first-') ]]" ||
    fail "the status item did not register"
item=$(item_of "$first")
[[ $(property "$item" Title) == "(<'Zorvik'>,)" ]] || fail "Title is $(property "$item" Title)"
[[ $(property "$item" ToolTip) == *"Zorvik — codes from your iPhone"* ]] || fail "ToolTip is $(property "$item" ToolTip)"
echo "ok: the status item is registered as $item"

within 5 bash -c "xdotool search --onlyvisible --pid $first >/dev/null 2>&1" ||
    fail "the first-run popover did not open"
echo "ok: the popover opened by itself on the first run"

"$phone" send --account "Work GitHub" --service github --code 482913 --ttl 60 2>/dev/null
within 5 bash -c "[[ \$(gdbus call --session -d $item -o /StatusNotifierItem -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierItem XAyatanaLabel 2>/dev/null) == \"(<'482 913'>,)\" ]]" ||
    fail "the label reads $(property "$item" XAyatanaLabel)"
echo "ok: the item's label shows the code"
"$screenshot" "$ZORVIK_SESSION_DIR/tray-journey.png" || true
# Started as from the menu (stderr no terminal), the app logs to the journal; where journald is
# not there, as in this session, its lines go to stderr instead of nowhere.
if ! e2e_journal_listens; then
    grep -q "net.brontal.zorvik:mac received Work GitHub from .*, expires in" "$first_log" ||
        fail "without a journal, the line of the code received went nowhere"
    grep -q "net.brontal.zorvik:mac fetch: " "$first_log" ||
        fail "without a journal, the fetch lines went nowhere"
    echo "ok: with no journal, the app's lines are on its stderr"
fi

"$app_binary" >"$second_log" 2>&1 &
second=$!
within 10 bash -c "! kill -0 $first 2>/dev/null" || fail "the first copy is still running"
within 2 grep -q "Zorvik: asking the older copy at .* (pid $first) to quit" "$second_log" ||
    fail "the second copy did not log the take-over"
# The notice and the signal race; the first copy logs whichever reached it first.
grep -Eq "Zorvik: (a newer copy \(pid $second\) took over|quitting on SIGTERM)" "$first_log" ||
    fail "the first copy did not log why it quit"
within 10 bash -c "[[ -n \$(gdbus call --session -d org.kde.StatusNotifierWatcher -o /StatusNotifierWatcher -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher RegisteredStatusNotifierItems 2>/dev/null | grep -o 'StatusNotifierItem-$second-') ]]" ||
    fail "the second copy's item did not register"
echo "ok: a second copy took over from the first"

# A click on the item opens the popover; its Quit shortcut ends the application.
second_item=$(item_of "$second")
gdbus call --session -d "$second_item" -o /StatusNotifierItem \
    -m org.kde.StatusNotifierItem.Activate 0 0 >/dev/null
popover=$(e2e_visible_window "$second" 5) || fail "a click on the item did not open the popover"
within 3 e2e_has_keyboard "$second" ||
    fail "the popover did not take the keyboard"
xdotool key ctrl+q
within 5 bash -c "! kill -0 $second 2>/dev/null" || fail "Ctrl+Q in the popover did not quit"
wait "$second" || fail "the application quit with status $?"
second=""
echo "ok: Quit in the popover ends the application"
if grep -Eq "482 ?913" "$first_log" "$second_log"; then
    fail "the code reached a log line"
fi
echo "ok: no log line holds the code"
