// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <optional>

// The windowing platform Qt starts on, chosen from the environment before QApplication exists.
//
// Where a Wayland session also offers XWayland (both WAYLAND_DISPLAY and DISPLAY set), the tray
// app runs as an X11 client: Qt's native Wayland client can neither set the clipboard from the
// background nor place a parentless popup under the tray item, and both work through XWayland.
// A QT_QPA_PLATFORM or -platform the user gave wins over that.
struct ToolkitPlatform {
    // The part of the environment the choice reads.
    struct Environment {
        std::optional<QByteArray> asked;  // QT_QPA_PLATFORM, when set
        QByteArray display;               // DISPLAY
        QByteArray waylandDisplay;        // WAYLAND_DISPLAY
        bool platformOption = false;      // Qt's own -platform among the arguments

        static Environment current(bool platformOption);
    };
    enum class Use { tray, headless, terminal };

    static ToolkitPlatform choose(const Environment& environment, Use use);
    static bool isOffscreen(const QByteArray& platform);

    // Platforms for Qt to try in order, put in QT_QPA_PLATFORM while QApplication starts; empty
    // when the environment's own choice stands.
    QByteArray platforms;
    // The tray item has no display at all to appear on.
    bool noDisplay = false;
    // A display is meant but may be unreachable, in which case Qt ends up offscreen.
    bool mayFallBack = false;
    // X11 through XWayland was preferred to the Wayland display beside it.
    bool xwayland = false;
};
