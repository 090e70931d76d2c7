// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <optional>

#include "platform/MainActor.h"
#include "platform/Popover.h"

// A popover that keeps its state and logs every call, one line each:
//   setContentView()  setContentSize(340×500)  showRelativeTo(10,870 1×1, minY)
//   showDetached("Zorvik")  performClose()  close()  setAnimates(false)  makeKeyWindow()
//   activate()
// Its window, once shown, hangs below the anchor as the desktop would place it: centred on the
// anchor, its top at the anchor's minimum y, as large as the content; shown detached, it is
// centred in the usable area of its screen (at the origin without one). A test may pin the frame
// with `pinnedFrame`. The delegate hears of shows and closes through the main queue.
class FakePopover final : public Popover {
public:
    explicit FakePopover(MainActor& mainActor) : mainActor_(mainActor) {}

    bool isShown() const override { return shown; }
    QSizeF contentSize() const override { return size; }
    void setContentSize(QSizeF newSize) override {
        size = newSize;
        calls << QStringLiteral("setContentSize(%1×%2)").arg(newSize.width()).arg(newSize.height());
    }
    void setContentView(QWidget* view) override {
        contentView = view;
        calls << QStringLiteral("setContentView()");
    }
    void showRelativeTo(const QRectF& newAnchor, Edge edge) override {
        anchor = newAnchor;
        detached = false;
        calls << QStringLiteral("showRelativeTo(%1,%2 %3×%4, %5)")
                     .arg(newAnchor.x())
                     .arg(newAnchor.y())
                     .arg(newAnchor.width())
                     .arg(newAnchor.height())
                     .arg(edge == Edge::minY ? "minY" : "?");
        ++shows;
        shown = true;
        closedOutside = false;
        hasWindow = true;
        tell(didShow);
    }
    void showDetached(const QString& title) override {
        calls << QStringLiteral("showDetached(\"%1\")").arg(title);
        ++shows;
        shown = true;
        closedOutside = false;
        hasWindow = true;
        detached = true;
        tell(didShow);
    }
    void performClose() override {
        calls << QStringLiteral("performClose()");
        closeNow();
    }
    void close() override {
        calls << QStringLiteral("close()");
        closeNow();
    }
    void setAnimates(bool newAnimates) override {
        animating = newAnimates;
        calls << QStringLiteral("setAnimates(%1)").arg(newAnimates ? "true" : "false");
    }
    bool animates() const override { return animating; }

    std::optional<QRectF> windowFrame() const override {
        if (!hasWindow) {
            return std::nullopt;
        }
        if (detached && !pinnedFrame) {
            QRectF frame(QPointF(0, 0), size);
            if (screen) {
                frame.moveCenter(screen->visibleFrame.center());
            }
            return frame;
        }
        return pinnedFrame.value_or(QRectF(anchor.center().x() - size.width() / 2,
                                           anchor.y() - size.height(), size.width(),
                                           size.height()));
    }
    std::optional<Screens::Screen> windowScreen() const override {
        return hasWindow ? screen : std::nullopt;
    }
    void makeKeyWindow() override { calls << QStringLiteral("makeKeyWindow()"); }
    void activate() override { calls << QStringLiteral("activate()"); }

    // A click elsewhere, which closes a transient popover.
    void clickElsewhere() {
        closedOutside = shown;
        closeNow();
    }
    bool closedByClickOutside() const override { return closedOutside; }
    // A key that closes it, as Escape does.
    void pressEscape() { closeNow(); }

    bool shown = false;
    bool closedOutside = false;
    bool hasWindow = false;
    bool detached = false;
    bool animating = false;
    int shows = 0;
    QSizeF size{0, 0};
    QRectF anchor;
    QWidget* contentView = nullptr;
    // The screen the window reports; absent as if the desktop did not say.
    std::optional<Screens::Screen> screen;
    std::optional<QRectF> pinnedFrame;
    QStringList calls;

private:
    void closeNow() {
        if (shown) {
            shown = false;
            tell(didClose);
        }
    }
    void tell(const std::function<void()>& callback) {
        mainActor_.post([callback] {
            if (callback) {
                callback();
            }
        });
    }

    MainActor& mainActor_;
};
