#include "QtPopover.h"

#include <QGuiApplication>
#include <QHideEvent>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>
#include <algorithm>
#include <cmath>

#include "QtScreens.h"

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
    }
}

QRect QtPopover::placement(const QRect& anchor, QSize size, const QRect& screen,
                           const QRect& available) {
    const int availableBottom = available.y() + available.height();
    const int availableRight = available.x() + available.width();
    // An anchor in the bottom half of its screen belongs to a panel at the bottom.
    const bool above = 2 * (anchor.y() + anchor.height() / 2) > 2 * screen.y() + screen.height();
    const int y = above ? std::min(anchor.y(), availableBottom) - size.height()
                        : std::max(anchor.y() + anchor.height(), available.y());
    const int centred = anchor.x() + anchor.width() / 2 - size.width() / 2;
    const int x = std::max(available.x(), std::min(centred, availableRight - size.width()));
    return {QPoint(x, y), size};
}

void QtPopover::place() {
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
    const QRect frame =
        placement(anchor, window_->size(), screen->geometry(), screen->availableGeometry());
    window_->move(frame.topLeft());
}

void QtPopover::showRelativeTo(const QRectF& anchor, Edge /*preferredEdge*/) {
    anchor_ = anchor;
    if (content_ != nullptr) {
        content_->show();
    }
    place();
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
