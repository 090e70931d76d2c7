// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZorvikMac/Popover/ExpiryBar.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

ExpiryBar::ExpiryBar(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("expiryBar"));
    setFixedHeight(barHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void ExpiryBar::setFraction(double fraction) {
    const double limited = std::isnan(fraction) ? 0.0 : std::clamp(fraction, 0.0, 1.0);
    if (fraction_ != limited) {
        fraction_ = limited;
        update();
    }
}

void ExpiryBar::setTint(const QColor& tint) {
    if (tint_ != tint) {
        tint_ = tint;
        update();
    }
}

void ExpiryBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const QRectF track = QRectF(rect());
    const qreal radius = track.height() / 2;
    QColor trackColor = palette().color(QPalette::WindowText);
    trackColor.setAlphaF(0.12f);
    painter.setBrush(trackColor);
    painter.drawRoundedRect(track, radius, radius);
    if (fraction_ <= 0) {
        return;
    }
    // A sliver narrower than the bar is tall still shows as a rounded dot.
    const qreal filled = std::max(track.width() * fraction_, track.height());
    painter.setBrush(tint_);
    painter.drawRoundedRect(QRectF(track.left(), track.top(), filled, track.height()), radius,
                            radius);
}
