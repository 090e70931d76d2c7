// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPointer>
#include <QRect>
#include <QWidget>
#include <memory>

#include "platform/Popover.h"

// The popover on Linux desktops: a frameless Qt::Popup window holding the content view, placed
// beside the panel that holds the anchor (the tray icon's activation point) and inside the
// available geometry of the anchor's screen, as PopoverPlacement says; it is placed again
// whenever it is shown or its size changes. Like every popup it closes on a click anywhere else;
// that click is not passed on, so a click on the tray icon while the popover is open only closes
// it.
//
// Shown detached, the same window is an ordinary top-level window (Qt::Window) with a title,
// which the window manager decorates and the user closes; its next showRelativeTo makes it a
// popup again.
//
// didShow is told on the next turn of the event loop after the window appeared, didClose as
// soon as it is hidden. There is no animation; setAnimates only keeps the flag.
class QtPopover final : public Popover {
public:
    QtPopover();
    ~QtPopover() override;

    bool isShown() const override;
    QSizeF contentSize() const override { return contentSize_; }
    void setContentSize(QSizeF size) override;
    void setContentView(QWidget* view) override;
    void showRelativeTo(const QRectF& anchor, Edge preferredEdge) override;
    void showDetached(const QString& title) override;
    void performClose() override;
    void close() override;
    void setAnimates(bool animates) override { animates_ = animates; }
    bool animates() const override { return animates_; }
    std::optional<QRectF> windowFrame() const override;
    std::optional<Screens::Screen> windowScreen() const override;
    void makeKeyWindow() override;
    void activate() override;
    bool closedByClickOutside() const override { return closedByClickOutside_; }

    // The popup window itself, for tests and screenshots.
    QWidget* window() const;
    bool isDetached() const { return detached_; }

private:
    class Window;

    void place();
    void show();
    // Makes the window a popup or an ordinary window; only while it is hidden.
    void setDetached(bool detached);
    void windowHidden();

    std::unique_ptr<Window> window_;
    // The content belongs to whoever made it, and may go first.
    QPointer<QWidget> content_;
    QSizeF contentSize_{0, 0};
    QRectF anchor_;
    bool shown_ = false;
    bool detached_ = false;
    bool animates_ = true;
    bool closedByClickOutside_ = false;
};
