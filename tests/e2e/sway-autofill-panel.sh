#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# End to end on sway (headless, with XWayland): the browser (an X11 window, as browsers mostly
# run there) has the keyboard and starts the AutoFill helper with the session's own environment,
# asking for the panel. The panel must come up in front with the keyboard, so that Return presses
# its default button and Escape its cancel button. Twice: on native Wayland, which Qt picks in
# sway's own environment, and on XWayland, as for a user who sets QT_QPA_PLATFORM=xcb.
#
# Run as root, it runs itself again as the user nobody (see sway-host.sh).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=tests/e2e/session.sh
source "$here/session.sh"
# shellcheck source=tests/e2e/sway-host.sh
source "$here/sway-host.sh"
e2e_begin sway-autofill-panel.sh "ZORVIKMACAUTOFILL" "$@"
autofill=$1
readonly origin=chrome-extension://pefndcdalefolcllbmhdfnidbfjfjkgc/

sway_require xmessage xdotool wtype swaymsg jq
sway_as_unprivileged_user sway-autofill-panel.sh "$autofill"

answers=$ZORVIK_SESSION_DIR/answers
input=$ZORVIK_SESSION_DIR/input
# The helper's pid. Its output (the answers) goes apart from its log, so e2e_start does not
# start it.
helper=
failures=0

e2e_on_exit() {
    exec 3>&- 2>/dev/null || true
    e2e_stop_process "$helper"
    sway_stop
}

sway_start no-bar
mapfile -t session_environment <"$sway_environment"

# The focused window, as sway sees it: its title and kind (xwayland or xdg_shell).
focused() {
    swaymsg -t get_tree 2>/dev/null |
        jq -r 'first(.. | objects | select(.focused == true and .type != "workspace"
            and .type != "output" and .type != "root")) | "\(.name) (\(.shell))"'
}
focused_is() {
    [[ $(focused) == "$1 "* ]]
}
has_window() {
    swaymsg -t get_tree 2>/dev/null | jq -e --arg name "$1" \
        'any(.. | objects; .name == $name and .visible == true)' >/dev/null
}
x_focus() {
    xdotool getwindowfocus getwindowname 2>/dev/null || true
}
x_focus_is() {
    [[ $(x_focus) == "$1" ]]
}
answered() {
    grep -aq -- "$1" "$answers"
}

e2e_start browser xmessage -geometry 600x300 -title Browser "the browser"
expect 10 "the browser's window did not come up" has_window Browser

# show_panel HOW KEY ANSWER REQUEST [VAR=VALUE...]: the helper as the browser starts it,
# with the session's environment (and the variables given), asked for a panel.
show_panel() {
    local how=$1 key=$2 wanted=$3 request=$4
    shift 4
    swaymsg "[title=\"^Browser\$\"] focus" >/dev/null
    within 5 focused_is Browser || fail "the browser does not have the keyboard: $(focused)"
    rm -f -- "$input" "$answers"
    mkfifo "$input"
    env -i "${session_environment[@]}" "$@" "$autofill" "$origin" <"$input" >"$answers" \
        2>>"$logs/helper.log" &
    helper=$!
    exec 3>"$input"
    e2e_native_message "$request" >&3
    expect 10 "$how: the panel did not come up" has_window Zorvik
    if within 3 focused_is Zorvik; then
        ok "$how: the panel has the keyboard: $(focused)"
    else
        echo "FAIL: $how: the panel does not have the keyboard: the focused window is $(focused)"
        failures=$((failures + 1))
    fi
    # Typed as a keyboard types, to whichever window has the keyboard: wtype through sway's
    # virtual keyboard; xdotool through XWayland, which delivers to its focused X11 window.
    # A user types a moment after the panel appears. wtype's virtual keyboard brings a keymap of
    # its own, which the client must have taken before the key comes (keys sent at once are
    # lost); an X11 window gets XTEST's keys once XWayland has given it the X input focus too.
    # On a loaded machine a key typed the moment the window is ready can still be lost; a user
    # would press it again, and so does this, while the panel has the keyboard.
    local attempt
    for ((attempt = 1; attempt <= 3; attempt++)); do
        if [[ $(focused) == *"(xwayland)" ]]; then
            within 3 x_focus_is Zorvik || echo "note: XWayland's input focus is on '$(x_focus)'"
            xdotool key "$key"
        else
            wtype -s 300 -k "$key"
        fi
        within 2 answered "$wanted" && break
        focused_is Zorvik || break
    done
    if answered "$wanted"; then
        ok "$how: $key typed then reached the panel"
    else
        echo "FAIL: $how: $key typed then did not reach the panel (answers: $(tr -cd '[:print:]' <"$answers"))"
        failures=$((failures + 1))
    fi
    exec 3>&-
    within 5 bash -c "! kill -0 $helper 2>/dev/null" || e2e_stop_process "$helper"
    wait "$helper" 2>/dev/null || true
    helper=
}

configuration='{"id":1,"type":"prepareConfiguration"}'
provide='{"id":2,"type":"prepareInterfaceToProvide","site":"github.com","request":{"type":3,"credentialIdentity":{"serviceIdentifier":{"identifier":"github.com","type":"domain"}}}}'
for how in "native Wayland" "XWayland"; do
    settings=()
    [[ $how == XWayland ]] && settings=(QT_QPA_PLATFORM=xcb)
    # Return presses the configuration panel's Done; Escape the waiting panel's Cancel.
    show_panel "$how" Return '"result":"configurationCompleted"' "$configuration" "${settings[@]}"
    show_panel "$how" Escape '"code":1,' "$provide" "${settings[@]}"
done

((failures == 0)) || fail "$failures check(s) failed"
