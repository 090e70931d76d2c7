#pragma once

#include <QPointer>
#include <QRect>
#include <QWidget>
#include <memory>

#include "Popover.h"

// The popover on Linux desktops: a frameless Qt::Popup window holding the content view. It opens
// under the anchor (the tray icon's activation point), or above it when the anchor lies in the
// bottom half of its screen, as with a panel at the bottom; it is centred on the anchor and kept
// inside the screen's available geometry, also vertically, so it never covers the panel. Like
// every popup it closes on a click anywhere else; that click is not passed on, so a click on the
// tray icon while the popover is open only closes it.
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
    void performClose() override;
    void close() override;
    void setAnimates(bool animates) override { animates_ = animates; }
    bool animates() const override { return animates_; }
    std::optional<QRectF> windowFrame() const override;
    std::optional<Screens::Screen> windowScreen() const override;
    void makeKeyWindow() override;
    void activate() override;

    // The popup window itself, for tests and screenshots.
    QWidget* window() const;
    // Where a window of `size` goes for `anchor`, both in Qt's global coordinates, on a screen
    // of `screen` with `available` geometry.
    static QRect placement(const QRect& anchor, QSize size, const QRect& screen,
                           const QRect& available);

private:
    class Window;

    void place();
    void windowHidden();

    std::unique_ptr<Window> window_;
    // The content belongs to whoever made it, and may go first.
    QPointer<QWidget> content_;
    QSizeF contentSize_{0, 0};
    QRectF anchor_;
    bool shown_ = false;
    bool animates_ = true;
};
