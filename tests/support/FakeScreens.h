// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <vector>

#include "platform/Screens.h"

// Screens a test lays out by hand, in the platform's coordinates (y upward).
class FakeScreens final : public Screens {
public:
    std::vector<Screen> screens() const override { return attached; }

    // A screen of `width` × `height` points at the origin, the main one, its usable area the
    // frame less a panel of `panel` points at the top.
    static Screen mainScreen(double width, double height, double panel = 0, double scale = 1) {
        return {QRectF(0, 0, width, height), QRectF(0, 0, width, height - panel), scale, true};
    }

    std::vector<Screen> attached;
};
