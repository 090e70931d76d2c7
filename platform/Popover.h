// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QRectF>
#include <QSizeF>
#include <QString>
#include <functional>
#include <optional>

#include "platform/Screens.h"

class QWidget;

// The window that hangs from the status item and holds the application's content view. It is
// transient: a click anywhere else closes it, unless it is shown detached. Rectangles are in the
// platform's screen coordinates (y upward, see Screens.h); sizes are in points.
class Popover {
public:
    // The side of the anchor the popover prefers to open on.
    enum class Edge { minY = 1 };

    virtual ~Popover() = default;

    virtual bool isShown() const = 0;

    // The size of the content; the window is that size.
    virtual QSizeF contentSize() const = 0;
    virtual void setContentSize(QSizeF size) = 0;

    // The view shown inside; the popover does not take it over before it is set.
    virtual void setContentView(QWidget* view) = 0;

    // Opens the popover next to `anchor`, on the `preferredEdge` side when there is room.
    virtual void showRelativeTo(const QRectF& anchor, Edge preferredEdge) = 0;
    // Opens the popover as an ordinary window of its own instead, for a desktop with nothing to
    // hang it from: with `title`, the desktop's decorations and its close button, in the middle
    // of the main screen's usable area. A click elsewhere leaves it open.
    virtual void showDetached(const QString& title) = 0;
    // Closes it as a user's dismissal would.
    virtual void performClose() = 0;
    // Closes it at once.
    virtual void close() = 0;
    virtual void setAnimates(bool animates) = 0;
    virtual bool animates() const = 0;

    // The frame of the window holding the content view, and the screen that window is on;
    // absent while the content view has no window.
    virtual std::optional<QRectF> windowFrame() const = 0;
    virtual std::optional<Screens::Screen> windowScreen() const = 0;

    // Whether it last closed because of a click outside it (with the mouse going down on the
    // status item, say), rather than a key or a request.
    virtual bool closedByClickOutside() const { return false; }

    // Gives the content's window the keyboard, and brings the application forward.
    virtual void makeKeyWindow() = 0;
    virtual void activate() = 0;

    // The delegate: told after the popover has opened and after it has closed, however that
    // happened (also for the close and show of a re-show).
    std::function<void()> didShow;
    std::function<void()> didClose;
};
