// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZorvikMac/Popover/StatusDot.h"

#include <QPainter>

StatusDot::StatusDot(int diameter, QWidget* parent) : QWidget(parent), diameter_(diameter) {
    setFixedSize(diameter_, diameter_);
}

void StatusDot::setColor(const QColor& color) {
    if (color_ != color) {
        color_ = color;
        update();
    }
}

void StatusDot::setShape(Shape shape, qreal lineWidth) {
    if (shape_ != shape || lineWidth_ != lineWidth) {
        shape_ = shape;
        lineWidth_ = lineWidth;
        update();
    }
}

QSize StatusDot::sizeHint() const {
    return {diameter_, diameter_};
}

void StatusDot::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds(0, 0, diameter_, diameter_);
    if (shape_ == Shape::filled) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(color_);
        painter.drawEllipse(bounds);
        return;
    }
    // The pen is centred on the path, so the path runs half a line inside the bounds.
    const qreal inset = lineWidth_ / 2;
    painter.setPen(QPen(color_, lineWidth_));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(bounds.adjusted(inset, inset, -inset, -inset));
}
