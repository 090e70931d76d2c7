// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "platform/linux/desktop/ToolkitPlatform.h"

namespace {

using Use = ToolkitPlatform::Use;

// The platforms, then each flag that is set.
std::string summary(const ToolkitPlatform& choice) {
    return choice.platforms.toStdString() + (choice.noDisplay ? " noDisplay" : "") +
           (choice.mayFallBack ? " mayFallBack" : "") + (choice.xwayland ? " xwayland" : "");
}

TEST(ToolkitPlatform, ChoosesFromTheEnvironment) {
    const std::optional<QByteArray> unset;
    const QByteArray none;
    const struct {
        Use use;
        std::optional<QByteArray> asked;
        QByteArray display, waylandDisplay;
        bool platformOption;
        std::string expected;
    } rows[] = {
        // A Wayland session with XWayland: X11, whether it calls itself a Wayland session or not.
        {Use::tray, unset, ":0", "wayland-0", false, "xcb;offscreen mayFallBack xwayland"},
        {Use::headless, unset, ":0", "wayland-0", false, "xcb;offscreen mayFallBack xwayland"},
        {Use::tray, QByteArray(), ":0", "wayland-0", false, "xcb;offscreen mayFallBack xwayland"},
        // The user's own choice stands.
        {Use::headless, "wayland", ":0", "wayland-0", false, "wayland;offscreen mayFallBack"},
        {Use::tray, unset, ":0", "wayland-0", true, ""},
        {Use::tray, "offscreen", none, none, false, ""},
        // Wayland alone: the tray on Wayland, headless with no window at all.
        {Use::tray, unset, none, "wayland-0", false, "wayland;xcb;offscreen mayFallBack"},
        {Use::headless, unset, none, "wayland-0", false, "offscreen mayFallBack"},
        // X11 alone, no display, and the terminal whatever there is.
        {Use::tray, unset, ":0", none, false, "xcb;offscreen mayFallBack"},
        {Use::tray, unset, none, none, false, "offscreen noDisplay"},
        {Use::headless, unset, none, none, false, "offscreen"},
        {Use::terminal, "xcb", ":0", "wayland-0", false, "offscreen"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(summary(ToolkitPlatform::choose(
                      {row.asked, row.display, row.waylandDisplay, row.platformOption}, row.use)),
                  row.expected)
            << "use " << int(row.use) << ", asked " << row.asked.value_or("<unset>").toStdString()
            << ", DISPLAY " << row.display.toStdString() << ", WAYLAND_DISPLAY "
            << row.waylandDisplay.toStdString() << ", -platform " << row.platformOption;
    }
}

}  // namespace
