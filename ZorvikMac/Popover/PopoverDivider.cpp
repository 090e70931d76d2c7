// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZorvikMac/Popover/PopoverDivider.h"

#include <QPainter>

PopoverDivider::PopoverDivider(QWidget* parent) : QWidget(parent) {
    setFixedHeight(1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void PopoverDivider::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QColor line = palette().color(QPalette::WindowText);
    line.setAlphaF(0.14f);
    painter.fillRect(rect(), line);
}
