#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# On sway (headless, with XWayland) the browser, an X11 window with the keyboard, starts the
# AutoFill helper with the session's environment and asks for the panel: it comes up in front
# with the keyboard, on native Wayland and on XWayland (see autofill_panel_checks).
# shellcheck source-path=SCRIPTDIR disable=SC2154 # e2e_begin sets the arguments' variables
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
source "$e2e_here/sway-host.sh"
e2e_begin sway-autofill-panel.sh "autofill" "$@"
e2e_require_tools sway Xwayland xmessage xdotool wtype swaymsg jq
e2e_as_unprivileged_user ZORVIK_SWAY_SCREENSHOT sway-autofill-panel.sh "$autofill"
panel_dir=$ZORVIK_SESSION_DIR
e2e_on_exit() {
    exec 3>&- 2>/dev/null || true
    sway_stop
}

# The focused window as sway sees it: its title and kind (xwayland or xdg_shell).
focused() {
    swaymsg -t get_tree 2>/dev/null |
        jq -r 'first(.. | objects | select(.focused == true and .type != "workspace"
            and .type != "output" and .type != "root")) | "\(.name) (\(.shell))"'
}
focused_is() { [[ $(focused) == "$1 "* ]]; }
has_window() {
    swaymsg -t get_tree 2>/dev/null | jq -e --arg name "$1" \
        'any(.. | objects; .name == $name and .visible == true)' >/dev/null
}
x_focus() { xdotool getwindowfocus getwindowname 2>/dev/null || true; }
x_focus_is() { [[ $(x_focus) == "$1" ]]; }
focus_browser() { swaymsg "[title=\"^Browser\$\"] focus" >/dev/null; }
# Typed as a keyboard types, to whichever window has it: through XWayland to its focused X11
# window (once XWayland has given it the X input focus too), else through sway's virtual keyboard,
# whose keymap the client must have taken before the key comes.
press_key() {
    if [[ $(focused) == *"(xwayland)" ]]; then
        within 3 x_focus_is Zorvik || echo "note: XWayland's input focus is on '$(x_focus)'"
        xdotool key "$1"
    else
        wtype -s 300 -k "$1"
    fi
}

sway_start no-bar
mapfile -t session_environment <"$sway_environment"
panel_run=(env -i "${session_environment[@]}")
e2e_start browser xmessage -geometry 600x300 -title Browser "the browser"
expect 10 "the browser's window did not come up" has_window Browser
autofill_panel_checks
