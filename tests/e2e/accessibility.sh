#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# What a screen reader finds in the popover, through AT-SPI in the private session as Orca reads
# it: the popover listed among the app's windows under its name, a name on every control, each
# checklist row's state in words, the picker tied to its label, the keyboard on Copy when the
# popover opens with a code, and a code that arrives while it is open announced once.
set -euo pipefail

# shellcheck source=tests/e2e/session.sh
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
e2e_begin accessibility.sh "ZORVIKMAC ZORVIK_PHONE TREE_FILE" "$@"
app_binary=$1
phone=$2
tree_file=$3
checker=$(dirname "${BASH_SOURCE[0]}")/accessible-tree.py
# Debian's Python, which has the AT-SPI bindings (another python3 may come first on the PATH).
python=/usr/bin/python3
if [[ ! -x /usr/libexec/at-spi-bus-launcher ]] ||
    ! "$python" -c 'import gi; gi.require_version("Atspi", "2.0")' 2>/dev/null; then
    echo "skipped: at-spi2-core or python3-gi with gir1.2-atspi-2.0 is missing (scripts/bootstrap installs them)"
    exit 77
fi
[[ ${ZORVIK_TRAY_WATCHER_RUNNING:-0} == 1 ]] || {
    echo "skipped: the session has no tray watcher"
    exit 77
}
export QT_QPA_PLATFORM=xcb
# A screen reader switches the desktop's accessibility on in its settings, which this session
# does not keep; Qt's own switch stands in for it.
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
XDG_CONFIG_HOME=$(mktemp -d -p "$ZORVIK_SESSION_DIR" a11y-config.XXXXXX)
export XDG_CONFIG_HOME
e2e_on_exit() { e2e_reset_session "$phone"; }

gdbus call --session -d org.a11y.Bus -o /org/a11y/bus -m org.a11y.Bus.GetAddress >/dev/null ||
    fail "the accessibility bus did not start"
"$phone" key generate --force 2>/dev/null
e2e_start app "$app_binary"
app=${e2e_pids[app]}
e2e_visible_window "$app" 10 >/dev/null || fail "the first-run popover did not open"

# A code while the popover is open is announced once, not at every tick of its countdown.
coproc listener { "$python" "$checker" listen ZorvikMac 6; }
# shellcheck disable=SC2154 # bash sets it for the coprocess, and unsets it once that ends
listener_pid=$listener_PID
if ! read -r -t 10 line <&"${listener[0]}" || [[ $line != listening ]]; then
    fail "the AT-SPI listener did not start"
fi
"$phone" send --account "Work GitHub" --service github --code 482913 --ttl 60 2>/dev/null
announcements=$(cat <&"${listener[0]}")
wait "$listener_pid" || fail "the AT-SPI listener failed"
[[ $(grep -c '4 8 2 9 1 3' <<<"$announcements") -eq 1 ]] ||
    fail "the new code was announced $(grep -c '4 8 2 9 1 3' <<<"$announcements") times: $announcements"
grep -qx 'notification: New code for Work GitHub: 4 8 2 9 1 3' <<<"$announcements" ||
    fail "the announcement reads: $announcements"
ok "a code arriving in the open popover is announced once, digit by digit"

# Opened again with the code there, the keyboard is on Copy, which carries the code.
item=$(gdbus call --session -d org.kde.StatusNotifierWatcher -o /StatusNotifierWatcher \
    -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher \
    RegisteredStatusNotifierItems | grep -o "org.kde.StatusNotifierItem-$app-[0-9]*" | head -n 1)
[[ -n $item ]] || fail "the status item is not registered"
activate() {
    gdbus call --session -d "$item" -o /StatusNotifierItem -m org.kde.StatusNotifierItem.Activate \
        0 0 >/dev/null
}
activate
expect 5 "a click on the item did not close the popover" \
    bash -c "! xdotool search --onlyvisible --pid $app >/dev/null 2>&1"
activate
e2e_visible_window "$app" 5 >/dev/null || fail "a click on the item did not open the popover"
expect 3 "the popover did not take the keyboard" e2e_has_keyboard "$app"
within 5 "$python" "$checker" check ZorvikMac Zorvik "$tree_file" "4 8 2 9 1 3" >/dev/null ||
    fail "$("$python" "$checker" check ZorvikMac Zorvik "$tree_file" "4 8 2 9 1 3")"
ok "the popover is the window Zorvik, every control is named, the rows say their state, the picker has its label and Copy has the keyboard (tree in $tree_file)"
e2e_expect_no_code_in_logs 482913
ok "no log line holds the code"
