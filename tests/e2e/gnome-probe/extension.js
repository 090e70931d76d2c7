// SPDX-License-Identifier: GPL-3.0-or-later
// Loaded only into the headless GNOME Shell of the end-to-end tests. Eval and Screenshot answer
// only callers the shell trusts unless it runs in unsafe mode, a headless start leaves the
// overview open over the panel that the tests look at, and a headless seat has no keyboard,
// without which a Wayland client such as wl-paste is never shown the clipboard.
/* exported init enable disable */
const Clutter = imports.gi.Clutter;
const Main = imports.ui.main;
const MessageTray = imports.ui.messageTray;

let startupId = 0;
let keyboard = null;

function hideOverview() {
    Main.overview.hide();
}

function init() {}

function enable() {
    global.context.unsafe_mode = true;
    // The shell says so in a notification, which is not the app's and would cover the screen.
    for (const source of Main.messageTray.getSources()) {
        if (source instanceof MessageTray.SystemNotificationSource)
            source.destroy();
    }
    keyboard = Clutter.get_default_backend().get_default_seat()
        .create_virtual_device(Clutter.InputDeviceType.KEYBOARD_DEVICE);
    if (Main.layoutManager._startingUp)
        startupId = Main.layoutManager.connect('startup-complete', hideOverview);
    else
        hideOverview();
}

function disable() {
    if (startupId) {
        Main.layoutManager.disconnect(startupId);
        startupId = 0;
    }
    keyboard = null;
    global.context.unsafe_mode = false;
}
