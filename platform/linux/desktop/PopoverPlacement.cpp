// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/desktop/PopoverPlacement.h"

#include <algorithm>

namespace {

// The start of a span of `length` moved into [low, high), the low end winning when it is longer.
int clampedStart(int start, int length, int low, int high) {
    return std::max(low, std::min(start, high - length));
}

}  // namespace

PopoverPlacement::Panel PopoverPlacement::panel(const QRect& anchor, const QRect& screen,
                                                const QRect& available) {
    // Twice the anchor's centre, so that a 2-point anchor's centre stays whole.
    const int centreX2 = 2 * anchor.x() + anchor.width();
    const int centreY2 = 2 * anchor.y() + anchor.height();
    if (centreY2 < 2 * available.y()) {
        return Panel::top;
    }
    if (centreY2 >= 2 * (available.y() + available.height())) {
        return Panel::bottom;
    }
    if (centreX2 < 2 * available.x()) {
        return Panel::left;
    }
    if (centreX2 >= 2 * (available.x() + available.width())) {
        return Panel::right;
    }
    return centreY2 > 2 * screen.y() + screen.height() ? Panel::bottom : Panel::top;
}

QRect PopoverPlacement::place(const QRect& anchor, QSize size, const QRect& screen,
                              const QRect& available) {
    int x = anchor.x() + anchor.width() / 2 - size.width() / 2;
    int y = anchor.y() + anchor.height() / 2 - size.height() / 2;
    switch (panel(anchor, screen, available)) {
        case Panel::top:
            y = anchor.y() + anchor.height();
            break;
        case Panel::bottom:
            y = anchor.y() - size.height();
            break;
        case Panel::left:
            x = anchor.x() + anchor.width();
            break;
        case Panel::right:
            x = anchor.x() - size.width();
            break;
    }
    return inside(QRect(QPoint(x, y), size), available);
}

QRect PopoverPlacement::inside(const QRect& frame, const QRect& available) {
    const int x =
        clampedStart(frame.x(), frame.width(), available.x(), available.x() + available.width());
    const int y =
        clampedStart(frame.y(), frame.height(), available.y(), available.y() + available.height());
    return {QPoint(x, y), frame.size()};
}
