// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPointF>
#include <QRectF>
#include <optional>
#include <vector>

// The attached screens as the popover sees them, in the platform's screen coordinates: points,
// x growing to the right and y growing UPWARD, the origin at the bottom-left corner of the main
// screen. A rectangle's x() and y() are its minimum x and minimum y; its maximum y is
// y() + height().
//
// Qt's global coordinates run the other way (y grows downward from the top of the virtual
// desktop, which is the top of the main screen). One rectangle of height h converts as
//   y_up = mainScreenHeight − (y_down + h)
// and, the formula being its own inverse, back the same way.
class Screens {
public:
    struct Screen {
        // The whole screen.
        QRectF frame;
        // The part windows may use: the frame less panels and docks.
        QRectF visibleFrame;
        // Device pixels per point.
        double backingScaleFactor = 1;
        // The screen whose bottom-left corner is the origin (Qt's primary screen).
        bool isMain = false;
        bool operator==(const Screen&) const = default;
    };

    virtual ~Screens() = default;

    // Every attached screen, in the system's order.
    virtual std::vector<Screen> screens() const = 0;

    // The main screen; absent when no screen is attached.
    std::optional<Screen> mainScreen() const {
        for (const Screen& screen : screens()) {
            if (screen.isMain) {
                return screen;
            }
        }
        return std::nullopt;
    }

    // The screen whose frame holds `point`; absent when none does.
    std::optional<Screen> screenContaining(QPointF point) const {
        for (const Screen& screen : screens()) {
            const QRectF& f = screen.frame;
            if (point.x() >= f.x() && point.x() < f.x() + f.width() && point.y() >= f.y() &&
                point.y() < f.y() + f.height()) {
                return screen;
            }
        }
        return std::nullopt;
    }

    // A rectangle in Qt's global coordinates (y downward) in the platform's (y upward), or back.
    static QRectF flipped(const QRectF& rect, double mainScreenHeight) {
        return {rect.x(), mainScreenHeight - (rect.y() + rect.height()), rect.width(),
                rect.height()};
    }
    // A rectangle in Qt's global coordinates converted with this main screen's height (0 when
    // no screen is attached).
    QRectF fromGlobal(const QRectF& global) const {
        const std::optional<Screen> main = mainScreen();
        return flipped(global, main ? main->frame.height() : 0);
    }
};
