// SPDX-License-Identifier: GPL-3.0-or-later
#include "shared/symbols/WidgetKit.h"

#include <QBoxLayout>
#include <QPushButton>
#include <QWidget>

#include "shared/symbols/InterfaceStyle.h"

namespace WidgetKit {

void setUpLabel(QLabel* label, const QString& objectName, const QFont& font) {
    label->setObjectName(objectName);
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
}

void setTextColor(QWidget* widget, const QColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Text, color);
    widget->setPalette(palette);
}

QHBoxLayout* makeRow(int spacing, QWidget* owner) {
    auto* row = new QHBoxLayout(owner);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(spacing);
    return row;
}

QVBoxLayout* makeColumn(int spacing, QWidget* owner) {
    auto* column = new QVBoxLayout(owner);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(spacing);
    return column;
}

QPushButton* makeButton(const QString& objectName, const QString& text, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(objectName);
    button->setAutoDefault(false);
    return button;
}

QString prominentButtonStyle(const QColor& tint, const QPalette& palette,
                             const ProminentShape& shape) {
    const QColor label = InterfaceStyle::textOn(tint);
    QColor fadedTint = tint;
    fadedTint.setAlphaF(0.35f);
    const QColor fadedLabel = InterfaceStyle::secondary(palette);
    return QStringLiteral(
               "QPushButton { background-color: %1; color: %2; border: 1px solid %3;"
               " border-radius: %7px; padding: %8px %9px; font-weight: 600; }"
               "QPushButton:hover { background-color: %4; }"
               "QPushButton:pressed { background-color: %3; }"
               "QPushButton:focus { border: 1px solid %2; }"
               "QPushButton:disabled { background-color: %5; color: %6;"
               " border: 1px solid %5; }")
        .arg(tint.name(), label.name(), tint.darker(125).name(), tint.lighter(108).name(),
             fadedTint.name(QColor::HexArgb), fadedLabel.name(QColor::HexArgb))
        .arg(shape.cornerRadius)
        .arg(shape.verticalPadding)
        .arg(shape.horizontalPadding);
}

}  // namespace WidgetKit
