// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPushButton>
#include <QString>
#include <QWidget>

#include "shared/symbols/InterfaceStyle.h"
#include "shared/symbols/WidgetKit.h"

// The popover's measures and the small buttons of its settings and footer; the labels, rows and
// text colours it shares with the AutoFill panel are in WidgetKit.
namespace PopoverLook {

// The popover's width in points.
constexpr int width = 340;
// Text of the settings' check boxes and of their rows.
constexpr int settingsTextSize = 12;
// Text of buttons of the small control size.
constexpr int smallControlTextSize = 11;
// The side of a symbol on a small button.
constexpr int smallSymbolSide = 12;

// A button of the small control size; Return never presses it just because it has focus.
inline QPushButton* makeSmallButton(const QString& objectName, const QString& text,
                                    QWidget* parent) {
    QPushButton* button = WidgetKit::makeButton(objectName, text, parent);
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
