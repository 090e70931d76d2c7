// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/desktop/QtPopover.h"

#include <QGuiApplication>
#include <QHideEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>
#include <algorithm>
#include <cmath>

#include "platform/linux/desktop/PopoverPlacement.h"
#include "platform/linux/desktop/QtScreens.h"

class QtPopover::Window final : public QWidget {
public:
    explicit Window(QtPopover& owner)
        : QWidget(nullptr, Qt::Popup | Qt::FramelessWindowHint), owner_(owner) {
        setObjectName(QStringLiteral("popoverWindow"));
        // The click that closes the popup stays with it: a click on the tray icon must not
        // open it again straight away.
        setAttribute(Qt::WA_NoMouseReplay);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
    }

protected:
    void mousePressEvent(QMouseEvent* event) override {
        // A popup hears every press while it is open; one outside it closes it.
        if (windowType() == Qt::Popup && !rect().contains(event->position().toPoint())) {
            owner_.closedByClickOutside_ = true;
        }
        QWidget::mousePressEvent(event);
    }

    void hideEvent(QHideEvent* event) override {
        QWidget::hideEvent(event);
        owner_.windowHidden();
    }

private:
    QtPopover& owner_;
};

QtPopover::QtPopover() : window_(std::make_unique<Window>(*this)) {}

QtPopover::~QtPopover() {
    didShow = nullptr;
    didClose = nullptr;
    if (content_ != nullptr) {
        content_->hide();
        content_->setParent(nullptr);
    }
}

QWidget* QtPopover::window() const {
    return window_.get();
}

bool QtPopover::isShown() const {
    return shown_;
}

void QtPopover::setContentSize(QSizeF size) {
    contentSize_ = size;
    window_->setFixedSize(static_cast<int>(std::ceil(size.width())),
                          static_cast<int>(std::ceil(size.height())));
    if (shown_) {
        place();
    }
}

void QtPopover::setContentView(QWidget* view) {
    if (content_ != nullptr) {
        window_->layout()->removeWidget(content_);
        content_->setParent(nullptr);
    }
    content_ = view;
    if (view != nullptr) {
        window_->layout()->addWidget(view);
        // Screen readers name the window after what it holds.
        window_->setAccessibleName(view->accessibleName());
    }
}

void QtPopover::place() {
    if (detached_) {
        // Where the window already is, moved back inside its screen's usable area.
        QScreen* screen = window_->screen();
        if (screen == nullptr) {
            return;
        }
        window_->move(PopoverPlacement::inside(QRect(window_->pos(), window_->size()),
                                               screen->availableGeometry())
                          .topLeft());
        return;
    }
    const QRect anchor = QtScreens::toGlobal(anchor_).toAlignedRect();
    QScreen* screen = QGuiApplication::screenAt(anchor.center());
    if (screen == nullptr) {
        screen = QGuiApplication::primaryScreen();
    }
    if (screen == nullptr) {
        window_->move(anchor.x(), anchor.y() + anchor.height());
        return;
    }
    window_->setScreen(screen);
    const QRect frame = PopoverPlacement::place(anchor, window_->size(), screen->geometry(),
                                                screen->availableGeometry());
    window_->move(frame.topLeft());
}

void QtPopover::setDetached(bool detached) {
    if (detached == detached_) {
        return;
    }
    detached_ = detached;
    // Changing the flags hides the window, which is hidden already.
    window_->setWindowFlags(detached ? Qt::Window : Qt::Popup | Qt::FramelessWindowHint);
}

void QtPopover::showRelativeTo(const QRectF& anchor, Edge /*preferredEdge*/) {
    setDetached(false);
    anchor_ = anchor;
    place();
    show();
}

void QtPopover::showDetached(const QString& title) {
    setDetached(true);
    window_->setWindowTitle(title);
    QScreen* screen = QGuiApplication::primaryScreen();
    if (screen != nullptr) {
        window_->setScreen(screen);
        // Centred in the usable area; a window larger than that keeps its top-left corner in it.
        const QRect area = screen->availableGeometry();
        QRect frame(QPoint(0, 0), window_->size());
        frame.moveCenter(area.center());
        window_->move(PopoverPlacement::inside(frame, area).topLeft());
    }
    show();
}

void QtPopover::show() {
    closedByClickOutside_ = false;
    if (content_ != nullptr) {
        content_->show();
    }
    window_->show();
    shown_ = true;
    QTimer::singleShot(0, window_.get(), [this] {
        if (shown_ && didShow) {
            didShow();
        }
    });
}

void QtPopover::performClose() {
    close();
}

void QtPopover::close() {
    window_->hide();
}

void QtPopover::windowHidden() {
    if (!shown_) {
        return;
    }
    shown_ = false;
    if (didClose) {
        didClose();
    }
}

std::optional<QRectF> QtPopover::windowFrame() const {
    if (content_ == nullptr || !window_->isVisible()) {
        return std::nullopt;
    }
    return QtScreens::fromGlobal(QRectF(window_->frameGeometry()));
}

std::optional<Screens::Screen> QtPopover::windowScreen() const {
    if (content_ == nullptr || !window_->isVisible() || window_->screen() == nullptr) {
        return std::nullopt;
    }
    return QtScreens::describe(*window_->screen());
}

void QtPopover::makeKeyWindow() {
    window_->activateWindow();
}

void QtPopover::activate() {
    window_->raise();
}
