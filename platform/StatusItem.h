// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QString>
#include <functional>
#include <optional>

// The application's item in the desktop's status area (the tray): an image, optionally a short
// title beside it, and a tooltip; activating it runs the button's action with the point where
// the desktop says it was activated, which the popover hangs from.
class StatusItem {
public:
    // The status area's length constants.
    static constexpr double variableLength = -1;
    static constexpr double squareLength = -2;

    enum class ImagePosition { imageOnly = 1, imageLeading = 7 };

    // A title with the attributes the product sets. A text-only status area shows `text`; the
    // colour, font and offset are kept so the shell's choices can be checked.
    struct AttributedTitle {
        QString text;
        QColor foregroundColor;
        // The monospaced-digit system font's size and weight, in points.
        double fontPointSize = 13;
        bool semibold = true;
        double baselineOffset = 0;
        bool operator==(const AttributedTitle&) const = default;
    };

    virtual ~StatusItem() = default;

    // An image that is not a template keeps its own colours. A null image removes it.
    virtual void setImage(const QImage& image, const QString& accessibilityDescription) = 0;
    virtual void setAttributedTitle(const AttributedTitle& title) = 0;
    virtual void setImagePosition(ImagePosition position) = 0;
    virtual void setImageHugsTitle(bool hugs) = 0;
    virtual void setLength(double length) = 0;
    virtual void setToolTip(const QString& toolTip) = 0;
    // The button's action; `anchor` is in global screen coordinates (Qt's, y downwards).
    virtual void setAction(std::function<void(QPoint anchor)> action) = 0;
    // Tells `answer` whether the desktop has a tray that can show the item right now; the
    // answer may come on a later turn of the event loop. An item that cannot tell says yes.
    virtual void askWhetherShown(std::function<void(bool shown)> answer) { answer(true); }
    // Whether the desktop draws the title beside the image; where it does not, the title is
    // only in the item's tooltip.
    virtual bool drawsTitle() const { return true; }
};
