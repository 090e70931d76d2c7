// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZorvikMacAutoFill/PanelWindow.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>

#include "ZorvikMacAutoFill/AutoFillPanel.h"
#include "shared/symbols/InterfaceStyle.h"

namespace {

class CloseWatcher : public QObject {
public:
    CloseWatcher(QObject* parent, std::function<void()> closed)
        : QObject(parent), closed_(std::move(closed)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Close) {
            closed_();
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> closed_;
};

}  // namespace

PanelWindow::PanelWindow(AutoFillModel& model, MainActor& mainActor, QSize size)
    : window_(std::make_unique<QWidget>()) {
    window_->setGeometry(0, 0, size.width(), size.height());
    auto* panel = new AutoFillPanel(model, InterfaceStyle::gold(), mainActor, window_.get());
    panel->move(0, 0);
    panel->resize(size);
}

PanelWindow::~PanelWindow() = default;

QSize PanelWindow::size() const {
    return window_->size();
}

void PanelWindow::present(QSize size, std::function<void()> closed) {
    QWidget* window = window_.get();
    window->setWindowTitle(QStringLiteral("Zorvik"));
    window->setFixedSize(size);
    window->setWindowFlag(Qt::WindowStaysOnTopHint);
    // The browser gives no position; the middle of the screen is where the user looks.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), window->size());
        frame.moveCenter(screen->availableGeometry().center());
        window->move(frame.topLeft());
    }
    window->installEventFilter(new CloseWatcher(window, std::move(closed)));
    // The helper is started afresh for each request and has seen no input yet, so the panel
    // carries no user time of its own: mutter then lets it take the keyboard from the browser,
    // and sway gives it to every new window anyway. Shown "without activating" and not
    // activated, it would leave the keyboard with the browser on GNOME under X11 (the
    // *-autofill-panel.sh end-to-end tests check this).
    window->show();
    window->raise();
    window->activateWindow();
}

void PanelWindow::hide() {
    window_->hide();
}
