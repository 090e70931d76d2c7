// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QIconEngine>
#include <QString>

#include "shared/symbols/Symbols.h"

// Draws a symbol for QIcon at whatever size and pixel ratio a widget asks for, instead of
// scaling one fixed pixmap, so icons stay sharp on every screen.
class SymbolIconEngine final : public QIconEngine {
public:
    SymbolIconEngine(QString name, QColor color, Symbols::Weight weight);

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override;
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override;
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state,
                         qreal scale) override;
    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override;
    QIconEngine* clone() const override;
    QString key() const override;
    QString iconName() override;
    bool isNull() override;

private:
    QColor colorFor(QIcon::Mode mode) const;

    QString name_;
    QColor color_;
    Symbols::Weight weight_;
};
