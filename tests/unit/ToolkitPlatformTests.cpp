// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "platform/linux/desktop/ToolkitPlatform.h"

namespace {

using Use = ToolkitPlatform::Use;

struct Case {
    const char* what;
    Use use;
    std::optional<QByteArray> asked;
    QByteArray display, waylandDisplay;
    bool platformOption;
    // Expected:
    QByteArray platforms;
    bool noDisplay, mayFallBack, xwayland;
};

TEST(ToolkitPlatform, ChoosesFromTheEnvironment) {
    const QByteArray none;
    const std::optional<QByteArray> unset;
    const Case cases[] = {
        // A Wayland session with XWayland: X11, whether it calls itself a Wayland session or not.
        {"tray, both", Use::tray, unset, ":0", "wayland-0", false, "xcb;offscreen", false, true,
         true},
        {"headless, both", Use::headless, unset, ":0", "wayland-0", false, "xcb;offscreen", false,
         true, true},
        {"tray, both, empty QT_QPA_PLATFORM", Use::tray, QByteArray(), ":0", "wayland-0", false,
         "xcb;offscreen", false, true, true},
        // The user's own choice stands.
        {"tray, both, asked wayland", Use::tray, "wayland", ":0", "wayland-0", false,
         "wayland;offscreen", false, true, false},
        {"headless, both, asked wayland", Use::headless, "wayland", ":0", "wayland-0", false,
         "wayland;offscreen", false, true, false},
        {"tray, both, -platform", Use::tray, unset, ":0", "wayland-0", true, none, false, false,
         false},
        {"tray, asked offscreen", Use::tray, "offscreen", none, none, false, none, false, false,
         false},
        // Wayland alone (a session without XWayland, whatever XDG_SESSION_TYPE says): the tray on
        // Wayland, headless with no window at all.
        {"tray, Wayland", Use::tray, unset, none, "wayland-0", false, "wayland;xcb;offscreen",
         false, true, false},
        {"headless, Wayland", Use::headless, unset, none, "wayland-0", false, "offscreen", false,
         true, false},
        // X11 alone, and no display.
        {"tray, X11", Use::tray, unset, ":0", none, false, "xcb;offscreen", false, true, false},
        {"tray, nothing", Use::tray, unset, none, none, false, "offscreen", true, false, false},
        {"headless, nothing", Use::headless, unset, none, none, false, "offscreen", false, false,
         false},
        {"terminal, both", Use::terminal, "xcb", ":0", "wayland-0", false, "offscreen", false,
         false, false},
    };
    for (const Case& c : cases) {
        const ToolkitPlatform choice = ToolkitPlatform::choose(
            {c.asked, c.display, c.waylandDisplay, c.platformOption}, c.use);
        EXPECT_EQ(choice.platforms, c.platforms) << c.what;
        EXPECT_EQ(choice.noDisplay, c.noDisplay) << c.what;
        EXPECT_EQ(choice.mayFallBack, c.mayFallBack) << c.what;
        EXPECT_EQ(choice.xwayland, c.xwayland) << c.what;
    }
}

}  // namespace
