// Where the Linux popover's window goes, in Qt's global coordinates (y downward): beside the
// panel that holds the tray item and inside the available area, for panels on every edge, items
// near either end of their panel, windows larger than the area, and screens away from the origin.
#include <gtest/gtest.h>

#include <QRect>

#include "platform/linux/desktop/PopoverPlacement.h"

namespace {

using Panel = PopoverPlacement::Panel;

// The 2-point square the presenter hangs the popover from, around where the item was clicked.
QRect anchorAt(int x, int y) {
    return {x - 1, y - 1, 2, 2};
}

const QRect kScreen(0, 0, 1280, 800);
const QSize kPopover(340, 300);

struct Case {
    const char* what;
    QRect screen;
    QRect available;
    QPoint item;
    QSize size;
    QRect expected;
    Panel panel;
};

TEST(PopoverPlacement, PutsTheWindowBesideTheItemsPanelAndInsideTheAvailableArea) {
    const QRect topPanel(0, 32, 1280, 768);
    const QRect bottomPanel(0, 0, 1280, 760);
    const QRect leftPanel(60, 0, 1220, 800);
    const QRect rightPanel(0, 0, 1220, 800);
    // A screen right of the main one, its top 200 points higher, with a 30-point top panel; one
    // left of it with a 48-point left panel; one above it with a 40-point bottom panel.
    const QRect rightScreen(1280, -200, 1920, 1080);
    const QRect leftScreen(-1024, 0, 1024, 768);
    const QRect upperScreen(0, -900, 1440, 900);
    const Case cases[] = {
        {"top panel, right end",
         kScreen,
         topPanel,
         {1200, 16},
         kPopover,
         {940, 32, 340, 300},
         Panel::top},
        {"top panel, middle",
         kScreen,
         topPanel,
         {640, 16},
         kPopover,
         {470, 32, 340, 300},
         Panel::top},
        {"top panel, left end",
         kScreen,
         topPanel,
         {10, 16},
         kPopover,
         {0, 32, 340, 300},
         Panel::top},
        {"bottom panel, right end",
         kScreen,
         bottomPanel,
         {1250, 780},
         kPopover,
         {940, 460, 340, 300},
         Panel::bottom},
        {"bottom panel, left end",
         kScreen,
         bottomPanel,
         {20, 780},
         kPopover,
         {0, 460, 340, 300},
         Panel::bottom},
        {"left panel, middle",
         kScreen,
         leftPanel,
         {30, 400},
         kPopover,
         {60, 250, 340, 300},
         Panel::left},
        {"left panel, top end",
         kScreen,
         leftPanel,
         {30, 10},
         kPopover,
         {60, 0, 340, 300},
         Panel::left},
        {"left panel, bottom end",
         kScreen,
         leftPanel,
         {30, 790},
         kPopover,
         {60, 500, 340, 300},
         Panel::left},
        {"right panel, middle",
         kScreen,
         rightPanel,
         {1250, 400},
         kPopover,
         {880, 250, 340, 300},
         Panel::right},
        {"right panel, top end",
         kScreen,
         rightPanel,
         {1250, 5},
         kPopover,
         {880, 0, 340, 300},
         Panel::right},
        {"right panel, bottom end",
         kScreen,
         rightPanel,
         {1250, 795},
         kPopover,
         {880, 500, 340, 300},
         Panel::right},
        {"top and left panels, item in the corner",
         kScreen,
         QRect(60, 32, 1220, 768),
         {30, 16},
         kPopover,
         {60, 32, 340, 300},
         Panel::top},
        {"taller than the area under a top panel",
         kScreen,
         topPanel,
         {1200, 16},
         {340, 900},
         {940, 32, 340, 900},
         Panel::top},
        {"taller than the area over a bottom panel",
         kScreen,
         bottomPanel,
         {1250, 780},
         {340, 900},
         {940, 0, 340, 900},
         Panel::bottom},
        {"taller than the area beside a left panel",
         kScreen,
         leftPanel,
         {30, 400},
         {340, 900},
         {60, 0, 340, 900},
         Panel::left},
        {"wider than the area",
         kScreen,
         topPanel,
         {1200, 16},
         {1400, 300},
         {0, 32, 1400, 300},
         Panel::top},
        {"no panel, item at the top",
         kScreen,
         kScreen,
         {640, 10},
         kPopover,
         {470, 11, 340, 300},
         Panel::top},
        {"no panel, item at the bottom",
         kScreen,
         kScreen,
         {640, 790},
         kPopover,
         {470, 489, 340, 300},
         Panel::bottom},
        {"screen to the right, top panel",
         rightScreen,
         QRect(1280, -170, 1920, 1050),
         {3100, -185},
         kPopover,
         {2860, -170, 340, 300},
         Panel::top},
        {"screen to the left, left panel",
         leftScreen,
         QRect(-976, 0, 976, 768),
         {-1000, 384},
         kPopover,
         {-976, 234, 340, 300},
         Panel::left},
        {"screen above, bottom panel",
         upperScreen,
         QRect(0, -900, 1440, 860),
         {700, -20},
         kPopover,
         {530, -340, 340, 300},
         Panel::bottom},
    };
    for (const Case& c : cases) {
        const QRect anchor = anchorAt(c.item.x(), c.item.y());
        EXPECT_EQ(PopoverPlacement::panel(anchor, c.screen, c.available), c.panel) << c.what;
        const QRect frame = PopoverPlacement::place(anchor, c.size, c.screen, c.available);
        EXPECT_EQ(frame, c.expected) << c.what;
        if (c.size.width() <= c.available.width() && c.size.height() <= c.available.height()) {
            EXPECT_TRUE(c.available.contains(frame)) << c.what;
        }
    }
}

TEST(PopoverPlacement, MovesAFrameIntoTheAreaAsLittleAsItTakes) {
    const QRect area(60, 32, 1220, 768);
    EXPECT_EQ(PopoverPlacement::inside({100, 100, 340, 300}, area), QRect(100, 100, 340, 300));
    EXPECT_EQ(PopoverPlacement::inside({0, 0, 340, 300}, area), QRect(60, 32, 340, 300));
    EXPECT_EQ(PopoverPlacement::inside({1200, 700, 340, 300}, area), QRect(940, 500, 340, 300));
    EXPECT_EQ(PopoverPlacement::inside({1200, 700, 340, 900}, area), QRect(940, 32, 340, 900));
}

}  // namespace
