// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

#include "shared/symbols/Symbols.h"

// One of our symbols as a widget: drawn when painted, at the pixel ratio of the screen it is on,
// in a square sized to sit beside text of the same point size.
class SymbolView : public QWidget {
    Q_OBJECT

public:
    SymbolView(const QString& objectName, const QString& name, qreal pointSize,
               Symbols::Weight weight, QWidget* parent = nullptr);

    const QString& name() const { return name_; }
    const QColor& color() const { return color_; }
    void setName(const QString& name);
    void setColor(const QColor& color);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString name_;
    qreal pointSize_;
    Symbols::Weight weight_;
    QColor color_;
};
