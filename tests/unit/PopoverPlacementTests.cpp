// SPDX-License-Identifier: GPL-3.0-or-later
// Where the Linux popover's window goes, in Qt's global coordinates (y downward): beside the
// panel that holds the tray item and inside the available area, for panels on every edge, items
// near either end of their panel, windows larger than the area, and screens away from the origin.
#include <gtest/gtest.h>

#include <QRect>

#include "platform/linux/desktop/PopoverPlacement.h"

namespace {

using Panel = PopoverPlacement::Panel;

const QRect kScreen(0, 0, 1280, 800);

// The window's size is the expected frame's.
struct Case {
    const char* what;
    QRect available;
    QPoint item;
    QRect expected;
    Panel panel;
    QRect screen = kScreen;
};

TEST(PopoverPlacement, PutsTheWindowBesideTheItemsPanelAndInsideTheAvailableArea) {
    const QRect top(0, 32, 1280, 768);
    const QRect bottom(0, 0, 1280, 760);
    const QRect left(60, 0, 1220, 800);
    const QRect right(0, 0, 1220, 800);
    const QRect topAndLeft(60, 32, 1220, 768);
    // A screen right of the main one, its top 200 points higher, with a 30-point top panel; one
    // left of it with a 48-point left panel; one above it with a 40-point bottom panel.
    const QRect rightScreen(1280, -200, 1920, 1080), rightArea(1280, -170, 1920, 1050);
    const QRect leftScreen(-1024, 0, 1024, 768), leftArea(-976, 0, 976, 768);
    const QRect upperScreen(0, -900, 1440, 900), upperArea(0, -900, 1440, 860);
    const Case cases[] = {
        {"top panel, right end", top, {1200, 16}, {940, 32, 340, 300}, Panel::top},
        {"top panel, middle", top, {640, 16}, {470, 32, 340, 300}, Panel::top},
        {"top panel, left end", top, {10, 16}, {0, 32, 340, 300}, Panel::top},
        {"bottom panel, right end", bottom, {1250, 780}, {940, 460, 340, 300}, Panel::bottom},
        {"left panel, middle", left, {30, 400}, {60, 250, 340, 300}, Panel::left},
        {"left panel, top end", left, {30, 10}, {60, 0, 340, 300}, Panel::left},
        {"left panel, bottom end", left, {30, 790}, {60, 500, 340, 300}, Panel::left},
        {"right panel, middle", right, {1250, 400}, {880, 250, 340, 300}, Panel::right},
        {"top and left panels, corner", topAndLeft, {30, 16}, {60, 32, 340, 300}, Panel::top},
        {"taller, top panel", top, {1200, 16}, {940, 32, 340, 900}, Panel::top},
        {"taller, bottom panel", bottom, {1250, 780}, {940, 0, 340, 900}, Panel::bottom},
        {"wider than the area", top, {1200, 16}, {0, 32, 1400, 300}, Panel::top},
        {"no panel, item at the top", kScreen, {640, 10}, {470, 11, 340, 300}, Panel::top},
        {"no panel, item at the bottom", kScreen, {640, 790}, {470, 489, 340, 300}, Panel::bottom},
        {"right screen", rightArea, {3100, -185}, {2860, -170, 340, 300}, Panel::top, rightScreen},
        {"left screen", leftArea, {-1000, 384}, {-976, 234, 340, 300}, Panel::left, leftScreen},
        {"upper screen", upperArea, {700, -20}, {530, -340, 340, 300}, Panel::bottom, upperScreen},
    };
    // Moving into the area takes the least it can; the top or left end wins when it cannot fit.
    for (const Case& c : cases) {
        // The 2-point square the presenter hangs the popover from, around the click.
        const QRect anchor(c.item.x() - 1, c.item.y() - 1, 2, 2);
        EXPECT_EQ(PopoverPlacement::panel(anchor, c.screen, c.available), c.panel) << c.what;
        EXPECT_EQ(PopoverPlacement::place(anchor, c.expected.size(), c.screen, c.available),
                  c.expected)
            << c.what;
    }
}

}  // namespace
