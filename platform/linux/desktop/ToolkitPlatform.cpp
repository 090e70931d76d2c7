// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/desktop/ToolkitPlatform.h"

#include <QtGlobal>

ToolkitPlatform::Environment ToolkitPlatform::Environment::current(bool platformOption) {
    Environment environment;
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        environment.asked = qgetenv("QT_QPA_PLATFORM");
    }
    environment.display = qgetenv("DISPLAY");
    environment.waylandDisplay = qgetenv("WAYLAND_DISPLAY");
    environment.platformOption = platformOption;
    return environment;
}

bool ToolkitPlatform::isOffscreen(const QByteArray& platform) {
    return platform.startsWith("offscreen") || platform.startsWith("minimal");
}

ToolkitPlatform ToolkitPlatform::choose(const Environment& environment, Use use) {
    ToolkitPlatform choice;
    const QByteArray asked = environment.asked.value_or(QByteArray());
    const bool x11 = !environment.display.isEmpty();
    const bool wayland = !environment.waylandDisplay.isEmpty();
    if (use == Use::terminal) {
        // Text only: the same with a display or without.
        choice.platforms = "offscreen";
    } else if (!isOffscreen(asked) && !x11 && !wayland) {
        // A server without a desktop: headless still publishes to the shared file, the
        // notifications and the process's own clipboard.
        choice.noDisplay = use == Use::tray;
        choice.platforms = "offscreen";
    } else if (isOffscreen(asked) || environment.platformOption) {
        // Nothing to fall back from, or the user's own -platform.
    } else {
        // A display named but unreachable (say, after an ssh session ended) must not abort Qt:
        // offscreen comes last, and the caller decides what that means.
        choice.mayFallBack = true;
        if (!asked.isEmpty()) {
            choice.platforms = asked + ";offscreen";
        } else if (x11 && wayland) {
            choice.platforms = "xcb;offscreen";
            choice.xwayland = true;
        } else if (wayland && use == Use::headless) {
            // Without a tray item nothing needs a window; Qt's Wayland client could not set the
            // clipboard from the background anyway, and would quit with the compositor.
            choice.platforms = "offscreen";
        } else if (wayland && !x11) {
            // Wayland alone (weston, sway without XWayland), whatever the session calls itself:
            // X11 could not even start.
            choice.platforms = "wayland;xcb;offscreen";
        } else {
            choice.platforms = "xcb;offscreen";
        }
    }
    return choice;
}
