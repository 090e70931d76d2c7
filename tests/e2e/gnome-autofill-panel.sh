#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# End to end on GNOME Shell (headless, Wayland, with Xwayland): the user has just clicked in the
# browser (an X11 window, as browsers mostly run there) and the browser starts the AutoFill helper
# with the session's own environment and asks for the panel. The panel must come up in front,
# above the browser, with the keyboard: mutter's focus-stealing prevention must not keep it back.
# Twice: on native Wayland, which Qt picks in the session's environment, and on XWayland, as for a
# user who sets QT_QPA_PLATFORM=xcb.
# Return then presses the panel's default button and Escape its cancel button, typed as a user
# types (through the shell's own input, to whichever window has the focus).
set -euo pipefail

here=$(dirname "${BASH_SOURCE[0]}")
# shellcheck source=tests/e2e/session.sh
source "$here/session.sh"
# shellcheck source=tests/e2e/gnome-host.sh
source "$here/gnome-host.sh"
e2e_begin gnome-autofill-panel.sh "ZORVIKMACAUTOFILL" "$@"
gnome_require
if ! command -v xmessage >/dev/null; then
    echo "skipped: xmessage is missing (scripts/bootstrap installs it)"
    exit 77
fi
autofill=$1
readonly origin=chrome-extension://pefndcdalefolcllbmhdfnidbfjfjkgc/

chmod 0755 "$logs"
# The helper's pid. Its output (the answers) goes apart from its log, so e2e_start does not
# start it.
helper=
failures=0

e2e_on_exit() {
    set +e
    exec 3>&- 2>/dev/null
    e2e_stop_process "$helper"
    gnome_host_stop
}

# The title of the window that has the keyboard, as JSON ("null" when none has).
focused_title() {
    gnome_eval 'global.display.focus_window ? global.display.focus_window.get_title() : null'
}
focused_is() {
    [[ $(focused_title 2>/dev/null) == "\"$1\"" ]]
}
# The frame of the first window titled $1 on screen: "x y width height".
window_frame() {
    gnome_eval "(() => {
        const window = global.get_window_actors().map(actor => actor.meta_window)
            .find(window => window.get_title() === '$1' && window.showing_on_its_workspace());
        if (!window) throw new Error('no window $1');
        const r = window.get_frame_rect();
        return [r.x, r.y, r.width, r.height].join(' '); })()" | jq -r .
}
# What mutter's focus-stealing prevention compares: the last user time of the window titled $1.
user_time() {
    gnome_eval "global.get_window_actors().map(actor => actor.meta_window)
        .find(window => window.get_title() === '$1')?.get_user_time() ?? null"
}
has_window() {
    window_frame "$1" >/dev/null 2>&1
}
# Input as a user gives it: the shell's own virtual devices, which go through its focus handling
# like a real keyboard and mouse (a real click is also what tells mutter the user acted).
click_at() {
    gnome_eval "(() => {
        const Clutter = imports.gi.Clutter;
        const seat = Clutter.get_default_backend().get_default_seat();
        global._zorvikPointer ??= seat.create_virtual_device(Clutter.InputDeviceType.POINTER_DEVICE);
        const t = imports.gi.GLib.get_monotonic_time();
        global._zorvikPointer.notify_absolute_motion(t, $1, $2);
        global._zorvikPointer.notify_button(t + 1000, Clutter.BUTTON_PRIMARY, Clutter.ButtonState.PRESSED);
        global._zorvikPointer.notify_button(t + 2000, Clutter.BUTTON_PRIMARY, Clutter.ButtonState.RELEASED);
        return true; })()" >/dev/null
}
press_key() {
    gnome_eval "(() => {
        const Clutter = imports.gi.Clutter;
        const seat = Clutter.get_default_backend().get_default_seat();
        global._zorvikKeyboard ??= seat.create_virtual_device(Clutter.InputDeviceType.KEYBOARD_DEVICE);
        const t = imports.gi.GLib.get_monotonic_time();
        global._zorvikKeyboard.notify_keyval(t, Clutter.KEY_$1, Clutter.KeyState.PRESSED);
        global._zorvikKeyboard.notify_keyval(t + 1000, Clutter.KEY_$1, Clutter.KeyState.RELEASED);
        return true; })()" >/dev/null
}

answered() {
    grep -aq -- "$1" "$gnome_dir/answers"
}

gnome_host_start "$logs"
ok "gnome-shell runs (mutter's Xwayland on $(grep -m 1 '^DISPLAY=' "$gnome_session_environment_file"))"

# The browser: an X11 window the user clicks in, so that it is in front and has the keyboard.
gnome_start_in_session browser xmessage -geometry 600x300+100+100 -title Browser "the browser"
expect 10 "the browser's window did not come up" has_window Browser
read -r x y width height <<<"$(window_frame Browser)"
click_at $((x + width / 2)) $((y + height / 3))
within 5 focused_is Browser || fail "the browser does not have the keyboard: $(focused_title)"
ok "the browser's window is in front with the keyboard"

# show_panel HOW KEY ANSWER REQUEST [VAR=VALUE...]: the helper as the browser starts it,
# with the session's environment (and the variables given), asked for a panel.
show_panel() {
    local how=$1 key=$2 wanted=$3 request=$4
    shift 4
    click_at $((x + width / 2)) $((y + height / 3))
    within 5 focused_is Browser || fail "the browser does not have the keyboard: $(focused_title)"
    rm -f -- "$gnome_dir/in" "$gnome_dir/answers"
    mkfifo -m 0644 "$gnome_dir/in"
    "${gnome_user_prefix[@]}" env -i "${gnome_session_environment[@]}" "$@" "$autofill" "$origin" \
        <"$gnome_dir/in" >"$gnome_dir/answers" 2>>"$logs/helper.log" &
    helper=$!
    exec 3>"$gnome_dir/in"
    e2e_native_message "$request" >&3
    expect 10 "$how: the panel did not come up" has_window Zorvik
    echo "note: $how: user times: the browser's $(user_time Browser), the panel's $(user_time Zorvik)"
    if within 3 focused_is Zorvik; then
        ok "$how: the panel has the keyboard"
    else
        echo "FAIL: $how: the panel does not have the keyboard: the focused window is $(focused_title)"
        failures=$((failures + 1))
    fi
    # A user types a moment after the panel appears, not in the instant it is mapped; on a loaded
    # machine a key can still come before the window takes keys, and a user presses it again.
    sleep 0.3
    local attempt
    for ((attempt = 1; attempt <= 3; attempt++)); do
        press_key "$key"
        within 2 answered "$wanted" && break
        focused_is Zorvik || break
    done
    if answered "$wanted"; then
        ok "$how: $key typed then reached the panel"
    else
        echo "FAIL: $how: $key typed then did not reach the panel (answers: $(tr -cd '[:print:]' <"$gnome_dir/answers"))"
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
