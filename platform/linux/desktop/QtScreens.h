// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QRectF>

#include "platform/Screens.h"

class QScreen;

// The screens Qt knows (QGuiApplication::screens(), in that order), converted from Qt's global
// coordinates, where y grows downward from the top of the primary screen, into the platform's,
// where y grows upward from the bottom of the primary (main) screen:
//   y_up = mainScreenHeight − (y_down + height),   x unchanged,
// mainScreenHeight being the height of the primary screen's geometry. Qt's device-independent
// pixels are the platform's points; devicePixelRatio is the backing scale factor.
class QtScreens final : public Screens {
public:
    std::vector<Screen> screens() const override;

    // One Qt screen in the platform's coordinates.
    static Screen describe(const QScreen& screen);
    // The primary screen's height (0 without a screen), and conversions both ways with it.
    static double mainScreenHeight();
    static QRectF fromGlobal(const QRectF& global) { return flipped(global, mainScreenHeight()); }
    static QRectF toGlobal(const QRectF& rect) { return flipped(rect, mainScreenHeight()); }
};
