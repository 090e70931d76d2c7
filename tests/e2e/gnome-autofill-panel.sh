#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# On GNOME Shell (see gnome-host.sh) the browser, an X11 window the user just clicked, asks for the
# AutoFill panel: it must come up in front with the keyboard despite mutter's focus-stealing
# prevention (see autofill_panel_checks), keys typed through the shell's own input.
# shellcheck source-path=SCRIPTDIR disable=SC2154 # e2e_begin sets the arguments' variables
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
source "$e2e_here/gnome-host.sh"
e2e_begin gnome-autofill-panel.sh "autofill" "$@"
gnome_require
e2e_require_tools xmessage
chmod 0755 "$logs"
e2e_on_exit() {
    set +e
    exec 3>&- 2>/dev/null
    e2e_stop helper
    gnome_host_stop
}

focused() { gnome_eval 'global.display.focus_window ? global.display.focus_window.get_title() : null'; }
focused_is() { [[ $(focused 2>/dev/null) == "\"$1\"" ]]; }
# The frame of the first window titled $1 on screen: "x y width height".
window_frame() {
    gnome_eval "(() => { const window = global.get_window_actors().map(actor => actor.meta_window)
            .find(window => window.get_title() === '$1' && window.showing_on_its_workspace());
        if (!window) throw new Error('no window $1');
        const r = window.get_frame_rect();
        return [r.x, r.y, r.width, r.height].join(' '); })()" | jq -r .
}
has_window() { window_frame "$1" >/dev/null 2>&1; }
# Input as a user gives it: the shell's own virtual devices, which go through its focus handling
# like a real keyboard and mouse (a real click is also what tells mutter the user acted).
virtual_input() {
    gnome_eval "(() => { const Clutter = imports.gi.Clutter;
        const seat = Clutter.get_default_backend().get_default_seat();
        global._zorvik$1 ??= seat.create_virtual_device(Clutter.InputDeviceType.$2);
        const device = global._zorvik$1, t = imports.gi.GLib.get_monotonic_time();
        $3; return true; })()" >/dev/null
}
focus_browser() {
    virtual_input Pointer POINTER_DEVICE "device.notify_absolute_motion(t, $((x + width / 2)), $((y + height / 3)));
        device.notify_button(t + 1000, Clutter.BUTTON_PRIMARY, Clutter.ButtonState.PRESSED);
        device.notify_button(t + 2000, Clutter.BUTTON_PRIMARY, Clutter.ButtonState.RELEASED)"
}
press_key() {
    virtual_input Keyboard KEYBOARD_DEVICE "device.notify_keyval(t, Clutter.KEY_$1, Clutter.KeyState.PRESSED);
        device.notify_keyval(t + 1000, Clutter.KEY_$1, Clutter.KeyState.RELEASED)"
}

gnome_host_start "$logs"
ok "gnome-shell runs (mutter's Xwayland on $(grep -m 1 '^DISPLAY=' "$gnome_session_environment_file"))"
gnome_start_in_session browser xmessage -geometry 600x300+100+100 -title Browser "the browser"
expect 10 "the browser's window did not come up" has_window Browser
read -r x y width height <<<"$(window_frame Browser)"
focus_browser
within 5 focused_is Browser || fail "the browser does not have the keyboard: $(focused)"
ok "the browser's window is in front with the keyboard"
panel_dir=$gnome_dir
panel_run=("${gnome_user_prefix[@]}" env -i "${gnome_session_environment[@]}")
autofill_panel_checks
