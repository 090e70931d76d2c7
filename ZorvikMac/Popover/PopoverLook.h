#pragma once

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QString>
#include <QWidget>

#include "InterfaceStyle.h"

// Small helpers the popover's parts share: labels in a given font, text colours that a widget
// keeps until its owner sets them again (after a palette change), and the small buttons of the
// settings and the footer.
namespace PopoverLook {

// The popover's width in points.
constexpr int width = 340;
// Text of the settings' check boxes and of their rows.
constexpr int settingsTextSize = 12;
// Text of buttons of the small control size.
constexpr int smallControlTextSize = 11;
// The side of a symbol on a small button.
constexpr int smallSymbolSide = 12;

inline void setTextColor(QWidget* widget, const QColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Text, color);
    widget->setPalette(palette);
}

inline QLabel* makeLabel(const QString& objectName, const QFont& font, QWidget* parent,
                         const QString& text = {}) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(objectName);
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    return label;
}

// A button of the small control size; Return never presses it just because it has focus.
inline QPushButton* makeSmallButton(const QString& objectName, const QString& text,
                                    QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(objectName);
    button->setAutoDefault(false);
    button->setFont(InterfaceStyle::systemFont(smallControlTextSize));
    return button;
}

// A borderless button that reads like a link in the text colour, as "Quit" and "AutoFill
// Settings…" are.
inline QPushButton* makeTextButton(const QString& objectName, const QString& text,
                                   QWidget* parent) {
    QPushButton* button = makeSmallButton(objectName, text, parent);
    button->setFlat(true);
    button->setCursor(Qt::PointingHandCursor);
    // No bezel and no minimum width: as wide as its text, in the palette's button text colour.
    button->setStyleSheet(
        QStringLiteral("QPushButton { border: none; background: transparent; padding: 2px 4px; }"
                       "QPushButton:hover { text-decoration: underline; }"));
    return button;
}

}  // namespace PopoverLook
