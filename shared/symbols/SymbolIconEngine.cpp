// SPDX-License-Identifier: GPL-3.0-or-later
#include "shared/symbols/SymbolIconEngine.h"

#include <QPaintDevice>
#include <QPainter>
#include <algorithm>

SymbolIconEngine::SymbolIconEngine(QString name, QColor color, Symbols::Weight weight)
    : name_(std::move(name)), color_(color), weight_(weight) {}

QColor SymbolIconEngine::colorFor(QIcon::Mode mode) const {
    QColor color = color_;
    if (mode == QIcon::Disabled) {
        color.setAlphaF(color.alphaF() * 0.35f);
    }
    return color;
}

void SymbolIconEngine::paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) {
    const int side = std::min(rect.width(), rect.height());
    const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
    const QPixmap drawn = Symbols::boxPixmap(name_, side, colorFor(mode), ratio, weight_);
    if (drawn.isNull()) {
        return;
    }
    const QPoint origin(rect.x() + (rect.width() - side) / 2,
                        rect.y() + (rect.height() - side) / 2);
    painter->drawPixmap(QRect(origin, QSize(side, side)), drawn);
}

// QIcon asks for device pixels here and sets the pixel ratio on what it gets back.
QPixmap SymbolIconEngine::pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) {
    return scaledPixmap(size, mode, state, 1.0);
}

// `size` in logical pixels, drawn with `scale` device pixels to each.
QPixmap SymbolIconEngine::scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State,
                                       qreal scale) {
    const int side = std::min(size.width(), size.height());
    return Symbols::boxPixmap(name_, side, colorFor(mode), scale > 0 ? scale : 1.0, weight_);
}

QSize SymbolIconEngine::actualSize(const QSize& size, QIcon::Mode, QIcon::State) {
    const int side = std::min(size.width(), size.height());
    return {side, side};
}

QIconEngine* SymbolIconEngine::clone() const {
    return new SymbolIconEngine(name_, color_, weight_);
}

QString SymbolIconEngine::key() const {
    return QStringLiteral("zorvik.symbol");
}

QString SymbolIconEngine::iconName() {
    return name_;
}

bool SymbolIconEngine::isNull() {
    return !Symbols::contains(name_);
}
