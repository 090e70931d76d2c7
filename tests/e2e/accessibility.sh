#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The popover as a screen reader finds it through AT-SPI: listed under its name, every control
# named, the checklist rows' states in words, the picker tied to its label, the keyboard on Copy
# when it opens with a code, and a code arriving while it is open announced once.
# shellcheck source-path=SCRIPTDIR disable=SC2154 # e2e_begin sets the arguments' variables
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
e2e_begin accessibility.sh "app_binary phone tree_file" "$@"
# Debian's Python, which has the AT-SPI bindings (another python3 may come first on the PATH).
tree() { /usr/bin/python3 "$e2e_here/accessible-tree.py" "$@"; }
if [[ ! -x /usr/libexec/at-spi-bus-launcher ]] ||
    ! /usr/bin/python3 -c 'import gi; gi.require_version("Atspi", "2.0")' 2>/dev/null; then
    e2e_skip "at-spi2-core or python3-gi with gir1.2-atspi-2.0 is missing (scripts/bootstrap installs them)"
fi
[[ ${ZORVIK_TRAY_WATCHER_RUNNING:-0} == 1 ]] || e2e_skip "the session has no tray watcher"
export QT_QPA_PLATFORM=xcb
# A screen reader switches accessibility on in the desktop's settings, which this session lacks.
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
e2e_own_config
e2e_on_exit() { e2e_reset_session "$phone"; }

bus_call -d org.a11y.Bus -o /org/a11y/bus -m org.a11y.Bus.GetAddress >/dev/null ||
    fail "the accessibility bus did not start"
"$phone" key generate --force 2>/dev/null
e2e_start app "$app_binary"
app=${e2e_pids[app]}
e2e_visible_window "$app" 10 >/dev/null || fail "the first-run popover did not open"

# Announced once, not at every tick of its countdown.
coproc listener { tree listen ZorvikMac 6; }
# shellcheck disable=SC2154 # bash sets it for the coprocess, and unsets it once that ends
listener_pid=$listener_PID
if ! read -r -t 10 line <&"${listener[0]}" || [[ $line != listening ]]; then
    fail "the AT-SPI listener did not start"
fi
send_code 482913 60
announcements=$(cat <&"${listener[0]}")
wait "$listener_pid" || fail "the AT-SPI listener failed"
[[ $(grep -c '4 8 2 9 1 3' <<<"$announcements") -eq 1 ]] || fail "the new code was announced $(grep -c '4 8 2 9 1 3' <<<"$announcements") times: $announcements"
grep -qx 'notification: New code for Work GitHub: 4 8 2 9 1 3' <<<"$announcements" ||
    fail "the announcement reads: $announcements"
ok "a code arriving in the open popover is announced once, digit by digit"

# Opened again with the code there, the keyboard is on Copy, which carries the code.
item_listed "$app" || fail "the status item is not registered"
item_activate "$app"
expect 5 "a click on the item did not close the popover" no_window_of "$app"
item_activate "$app"
e2e_visible_window "$app" 5 >/dev/null || fail "a click on the item did not open the popover"
expect 3 "the popover did not take the keyboard" e2e_has_keyboard "$app"
within 5 tree check ZorvikMac Zorvik "$tree_file" "4 8 2 9 1 3" >/dev/null ||
    fail "$(tree check ZorvikMac Zorvik "$tree_file" "4 8 2 9 1 3")"
ok "the popover is the window Zorvik, every control is named, the rows say their state, the picker has its label and Copy has the keyboard (tree in $tree_file)"
e2e_expect_no_code_in_logs 482913
