// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QPalette>
#include <QString>

class QHBoxLayout;
class QPushButton;
class QVBoxLayout;
class QWidget;

// Small building blocks both deliverables' windows share: plain-text labels in a given font,
// text colours a widget keeps until its owner sets them again (after a palette change), rows
// and columns without margins, buttons that Return leaves alone, and the prominent tinted
// button.
namespace WidgetKit {

// Gives `label` its object name and font and makes it show plain text only.
void setUpLabel(QLabel* label, const QString& objectName, const QFont& font);

// A plain-text label of type `Label` (a QLabel or one of its kind) showing `text`.
template <typename Label = QLabel>
Label* makeLabel(const QString& objectName, const QFont& font, QWidget* parent,
                 const QString& text = {}) {
    auto* label = new Label(text, parent);
    setUpLabel(label, objectName, font);
    return label;
}

// Sets the colour of `widget`'s text, in labels and in fields alike.
void setTextColor(QWidget* widget, const QColor& color);

// A row or a column without margins, `spacing` apart; set on `owner` when one is given.
QHBoxLayout* makeRow(int spacing, QWidget* owner = nullptr);
QVBoxLayout* makeColumn(int spacing, QWidget* owner = nullptr);

// A button that Return never presses just because it has the focus.
QPushButton* makeButton(const QString& objectName, const QString& text, QWidget* parent);

// The outline of a prominent button: corner radius and padding in points.
struct ProminentShape {
    int cornerRadius = 6;
    int verticalPadding = 4;
    int horizontalPadding = 12;
};

// The style sheet of a prominent button tinted `tint`, its label in the colour that stands out
// on it and semibold. Disabled, the tint fades towards the background and the label takes the
// palette's quieter text colour, which stays legible on light and dark palettes.
QString prominentButtonStyle(const QColor& tint, const QPalette& palette,
                             const ProminentShape& shape = {});

}  // namespace WidgetKit
