// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZorvikMac/Popover/ActivitySpinner.h"

#include <QPainter>
#include <cmath>

#include "platform/MainActor.h"
#include "shared/symbols/InterfaceStyle.h"

ActivitySpinner::ActivitySpinner(MainActor& mainActor, QWidget* parent)
    : QWidget(parent), mainActor_(mainActor) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

ActivitySpinner::~ActivitySpinner() {
    stop();
}

QSize ActivitySpinner::sizeHint() const {
    const QMargins margins = contentsMargins();
    return {side + margins.left() + margins.right(), side + margins.top() + margins.bottom()};
}

void ActivitySpinner::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!isSpinning()) {
        spinning_ = mainActor_.spawn(spin(QPointer<ActivitySpinner>(this), mainActor_));
    }
}

void ActivitySpinner::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    stop();
}

void ActivitySpinner::stop() {
    spinning_.cancel();
    spinning_ = TaskHandle();
}

Task<void> ActivitySpinner::spin(QPointer<ActivitySpinner> spinner, MainActor& mainActor) {
    // Each await in a statement of its own (g++ 12 at -O2 miscompiles one inside a condition).
    for (;;) {
        co_await mainActor.sleep(step);
        const bool cancelled = co_await isCancelled();
        if (cancelled || !spinner) {
            co_return;
        }
        spinner->phase_ = (spinner->phase_ + 1) % spokes;
        spinner->update();
    }
}

void ActivitySpinner::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area = contentsRect();
    const qreal radius = std::min(area.width(), area.height()) / 2;
    painter.translate(area.center());
    QColor ink = InterfaceStyle::secondary(palette());
    QPen pen(ink, radius * 0.28, Qt::SolidLine, Qt::RoundCap);
    for (int spoke = 0; spoke < spokes; ++spoke) {
        // The brightest spoke is the phase; those behind it fade.
        const int behind = (phase_ - spoke + spokes) % spokes;
        QColor shade = ink;
        shade.setAlphaF(static_cast<float>(1.0 - 0.8 * behind / (spokes - 1)));
        pen.setColor(shade);
        painter.setPen(pen);
        const qreal angle = 2 * M_PI * spoke / spokes - M_PI / 2;
        const QPointF direction(std::cos(angle), std::sin(angle));
        painter.drawLine(direction * radius * 0.45, direction * radius * 0.86);
    }
}
