// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZorvikMac/Shell/PopoverPresenter.h"

#include <QStringList>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "ZorvikMac/Popover/PopoverScreen.h"
#include "ZorvikMac/Receiver/CodeReceiver.h"
#include "platform/Popover.h"
#include "platform/UserDefaults.h"

namespace {

const QString kFirstRunDone = QStringLiteral("firstRunDone");

// Numbers in the layout note are whole, truncated toward zero.
QString whole(double value) {
    return QString::number(static_cast<long long>(std::trunc(value)));
}

double maxY(const QRectF& rect) {
    return rect.y() + rect.height();
}

// printf's "%.0f", which the log line is written with.
QString noDecimals(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.0f", value);
    return QString::fromLatin1(text);
}

}  // namespace

PopoverPresenter::PopoverPresenter(Popover& popover, Screens& screens, PopoverScreen& popoverScreen,
                                   MainActor& mainActor, SystemLog& systemLog,
                                   CodeReceiver* receiver)
    : popover_(popover),
      screens_(screens),
      popoverScreen_(popoverScreen),
      mainActor_(mainActor),
      log_(systemLog, QStringLiteral("net.brontal.zorvik"), QStringLiteral("shell")),
      receiver_(receiver),
      self_(std::make_shared<PopoverPresenter*>(this)) {
    std::weak_ptr<PopoverPresenter*> weak = self_;
    popover_.didShow = [weak] {
        if (const auto alive = weak.lock()) {
            (*alive)->popoverDidShow();
        }
    };
    popover_.didClose = [weak] {
        if (const auto alive = weak.lock()) {
            (*alive)->popoverDidClose();
        }
    };
    popover_.setAnimates(true);
}

PopoverPresenter::~PopoverPresenter() {
    popover_.didShow = nullptr;
    popover_.didClose = nullptr;
    if (reshowGuard_) {
        mainActor_.stopTimer(*reshowGuard_);
    }
}

void PopoverPresenter::setContentView(QWidget* view) {
    makeContentView_ = nullptr;
    hosting_ = view;
    popover_.setContentView(view);
}

void PopoverPresenter::setContentViewMaker(std::function<QWidget*()> make) {
    makeContentView_ = std::move(make);
}

QRectF PopoverPresenter::anchorRect() const {
    if (anchor_) {
        const QRectF global(anchor_->x() - anchorSide / 2, anchor_->y() - anchorSide / 2,
                            anchorSide, anchorSide);
        return screens_.fromGlobal(global);
    }
    if (const std::optional<Screens::Screen> main = screens_.mainScreen()) {
        return cornerAnchor(*main);
    }
    return {0, 0, anchorSide, anchorSide};
}

QRectF PopoverPresenter::cornerAnchor(const Screens::Screen& screen) {
    const QRectF& frame = screen.frame;
    const QRectF& usable = screen.visibleFrame;
    const double left = usable.x();
    const double right = usable.x() + usable.width();
    const double top = maxY(usable);
    // Panels in the order they most often hold the tray: a desktop with a top bar and a dock
    // at the side keeps it in the top bar.
    if (top < maxY(frame)) {
        return {right - anchorSide, top, anchorSide, anchorSide};
    }
    if (usable.y() > frame.y()) {
        return {right - anchorSide, usable.y() - anchorSide, anchorSide, anchorSide};
    }
    if (right < frame.x() + frame.width()) {
        return {right, top - anchorSide, anchorSide, anchorSide};
    }
    if (left > frame.x()) {
        return {left - anchorSide, top - anchorSide, anchorSide, anchorSide};
    }
    return {right - anchorSide, top, anchorSide, anchorSide};
}

std::optional<Screens::Screen> PopoverPresenter::statusItemScreen() const {
    if (anchor_) {
        if (auto screen = screens_.screenContaining(anchorRect().center())) {
            return screen;
        }
    }
    return screens_.mainScreen();
}

QSizeF PopoverPresenter::fittingContentSize() const {
    const QSize hint = hosting_->sizeHint();
    const double width = std::min<double>(hint.width(), measuringWidth);
    const double height = hosting_->hasHeightForWidth()
                              ? hosting_->heightForWidth(static_cast<int>(measuringWidth))
                              : hint.height();
    return {width, std::min(height, measuringHeight)};
}

void PopoverPresenter::togglePopover(QPoint anchor) {
    if (popover_.isShown()) {
        ++closesAsked_;
        popover_.performClose();
        return;
    }
    const std::optional<Instant> closedAt = std::exchange(closedByItselfAt_, std::nullopt);
    if (closedAt && secondsBetween(*closedAt, mainActor_.now()) < clickCloseSeconds) {
        return;
    }
    // Some tray hosts report every click at (0, 0); the last known place serves better.
    showPopover(anchor.isNull() ? std::nullopt : std::optional<QPoint>(anchor));
}

void PopoverPresenter::showPopover(std::optional<QPoint> anchor) {
    if (anchor) {
        anchor_ = anchor;
    }
    detached_ = false;
    prepareShow(statusItemScreen());
    popover_.showRelativeTo(anchorRect(), Popover::Edge::minY);
    popover_.makeKeyWindow();
    popover_.activate();
}

void PopoverPresenter::showPopoverWindow(const QString& title) {
    if (popover_.isShown()) {
        return;
    }
    detached_ = true;
    windowTitle_ = title;
    prepareShow(screens_.mainScreen());
    popover_.showDetached(title);
    popover_.makeKeyWindow();
    popover_.activate();
}

void PopoverPresenter::prepareShow(const std::optional<Screens::Screen>& screen) {
    const double height = screen ? screen->visibleFrame.height() : unknownScreenHeight;
    popoverScreen_.setHeight(height);
    layoutNote_ = QStringLiteral("screen height ") + whole(height) + screensDescription();
    if (makeContentView_) {
        // Built for the screen it opens on, whose height it reads as it lays itself out.
        setContentView(makeContentView_());
    }
    if (hosting_) {
        popover_.setContentSize(fittingContentSize());
    }
}

void PopoverPresenter::showAgain() {
    if (detached_) {
        popover_.showDetached(windowTitle_);
    } else {
        popover_.showRelativeTo(anchorRect(), Popover::Edge::minY);
    }
}

void PopoverPresenter::popoverContentSizeChanged(double width, double height) {
    if (width <= 0 || height <= 0) {
        return;
    }
    if (popover_.contentSize() == QSizeF(width, height)) {
        return;
    }
    popover_.setContentSize(QSizeF(width, height));
    if (popover_.isShown()) {
        scheduleLayoutCheck();
    }
}

void PopoverPresenter::scheduleLayoutCheck() {
    mainActor_.post([weak = std::weak_ptr<PopoverPresenter*>(self_)] {
        if (const auto alive = weak.lock()) {
            (*alive)->checkPopoverLayout(true);
        }
    });
}

void PopoverPresenter::popoverDidShow() {
    if (reshowing_) {
        return;
    }
    if (receiver_ != nullptr) {
        receiver_->setPopoverVisible(true);
    }
    scheduleLayoutCheck();
}

void PopoverPresenter::popoverDidClose() {
    if (reshowing_) {
        return;
    }
    if (closesAsked_ > 0) {
        --closesAsked_;
    } else if (!detached_ && popover_.closedByClickOutside()) {
        closedByItselfAt_ = mainActor_.now();
    }
    if (receiver_ == nullptr) {
        return;
    }
    receiver_->setPopoverVisible(false);
    if (receiver_->firstRun()) {
        receiver_->setFirstRun(false);
        receiver_->userDefaults().setBool(true, kFirstRunDone);
    }
}

void PopoverPresenter::checkPopoverLayout(bool reshow) {
    const std::optional<QRectF> window = popover_.windowFrame();
    if (!popover_.isShown() || !window) {
        return;
    }
    std::optional<Screens::Screen> screen = popover_.windowScreen();
    if (!screen) {
        screen = statusItemScreen();
    }
    if (!screen) {
        return;
    }
    const QRectF& frame = *window;
    const QRectF& usable = screen->visibleFrame;
    const double topOverflow = maxY(frame) - maxY(screen->frame);
    const double bottomOverflow = usable.y() - frame.y();
    const double overflow = std::max(topOverflow, 0.0) + std::max(bottomOverflow, 0.0);

    layoutNote_ += QStringLiteral("; popover ") + whole(frame.width()) + u'\u00d7' +
                   whole(frame.height()) + QStringLiteral(" y ") + whole(frame.y()) + u'\u2026' +
                   whole(maxY(frame)) + QStringLiteral(", usable y ") + whole(usable.y()) +
                   u'\u2026' + whole(maxY(usable)) + QStringLiteral(", overflow ") +
                   whole(overflow);

    if (overflow > 0 && reshow && !reshowing_) {
        reshowing_ = true;
        log_.info("Zorvik: popover overflowed by %s pt, re-showing", noDecimals(overflow));
        popover_.setAnimates(false);
        popover_.close();
        // Showing the same size at the same anchor would place it the same way. Fitted to the
        // usable area of the screen it is on, the content lays itself out for that height (it
        // may report its new size at once), and the window fits where the popover places it.
        popoverScreen_.setHeight(usable.height());
        const QSizeF size = popover_.contentSize();
        popover_.setContentSize(QSizeF(std::min(size.width(), usable.width()),
                                       std::min(size.height(), usable.height())));
        showAgain();
        popover_.setAnimates(true);
        layoutNote_ += QStringLiteral(" \u2192 re-shown");
        reshowGuard_ = mainActor_.startTimer(reshowGuardSeconds,
                                             [weak = std::weak_ptr<PopoverPresenter*>(self_)] {
                                                 if (const auto alive = weak.lock()) {
                                                     PopoverPresenter& presenter = **alive;
                                                     presenter.reshowGuard_.reset();
                                                     presenter.reshowing_ = false;
                                                     presenter.checkPopoverLayout(false);
                                                 }
                                             });
    }

    if (receiver_ != nullptr) {
        receiver_->setLayoutNote(layoutNote_);
    }
}

QString PopoverPresenter::screensDescription() const {
    QStringList descriptions;
    for (const Screens::Screen& screen : screens_.screens()) {
        QString description = whole(screen.frame.width()) + u'\u00d7' +
                              whole(screen.frame.height()) + QStringLiteral(" @") +
                              whole(screen.backingScaleFactor) + QStringLiteral("x usable ") +
                              whole(screen.visibleFrame.height());
        if (screen.isMain) {
            description += QStringLiteral(" (main)");
        }
        descriptions << description;
    }
    return QStringLiteral("; screens ") + descriptions.join(QStringLiteral(", "));
}
