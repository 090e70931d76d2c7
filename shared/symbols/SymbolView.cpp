// SPDX-License-Identifier: GPL-3.0-or-later
#include "shared/symbols/SymbolView.h"

#include <QPainter>

SymbolView::SymbolView(const QString& objectName, const QString& name, qreal pointSize,
                       Symbols::Weight weight, QWidget* parent)
    : QWidget(parent), name_(name), pointSize_(pointSize), weight_(weight) {
    setObjectName(objectName);
    const int side = Symbols::boxSide(pointSize_);
    setFixedSize(side, side);
}

void SymbolView::setName(const QString& name) {
    if (name_ != name) {
        name_ = name;
        update();
    }
}

void SymbolView::setColor(const QColor& color) {
    if (color_ != color) {
        color_ = color;
        update();
    }
}

void SymbolView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawPixmap(0, 0,
                       Symbols::pixmap(name_, pointSize_, color_, devicePixelRatioF(), weight_));
}
