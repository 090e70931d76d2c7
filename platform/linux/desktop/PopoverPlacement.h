// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QRect>
#include <QSize>

// Where the popover's window goes, in Qt's global coordinates (y downward): beside the panel
// that holds the tray item, never over it, and inside the screen's available geometry (the
// screen less the panels the desktop reserves) in both directions.
//
// The panel is told by where the anchor (the point where the item was activated) lies against
// the available geometry: above it means a top panel, below it a bottom one, left or right of it
// a side panel. An anchor inside the available geometry (no panel reserved, as on a bare X
// display or a panel that hides itself) counts as a top panel in the top half of the screen and
// as a bottom panel in the bottom half.
class PopoverPlacement {
public:
    enum class Panel { top, bottom, left, right };

    static Panel panel(const QRect& anchor, const QRect& screen, const QRect& available);

    // The window of `size` for `anchor`: under a top panel's anchor and above a bottom panel's,
    // centred on it horizontally; beside a side panel's, centred on it vertically; then moved
    // into `available`. A window larger than `available` keeps its top-left corner inside it.
    static QRect place(const QRect& anchor, QSize size, const QRect& screen,
                       const QRect& available);
    // `frame` moved into `available`, as little as it takes; a frame larger than `available`
    // gets its top-left corner in it.
    static QRect inside(const QRect& frame, const QRect& available);
};
