// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QString>
#include <QStringList>

// Our own single-colour symbols, named after the system symbols the product's interface asks
// for ("lock.fill", "arrow.clockwise", …), drawn from SVG files bundled as a Qt resource and
// tinted to any colour. Each symbol sits in a square sized to match text of the same point
// size, so a 13-point symbol lines up with 13-point text as the named system symbols do.
namespace Symbols {

// How heavy the lines of a symbol are, like the weight of the text beside it. Only the drawn
// lines thicken; filled shapes keep their outline.
enum class Weight { light, regular, semibold, bold };

// Every bundled symbol's name, sorted.
QStringList names();
bool contains(const QString& name);

// The side of the square a symbol of `pointSize` is drawn in, in logical pixels.
int boxSide(qreal pointSize);

// The symbol in `color` at `pointSize` (logical pixels, as our points are), drawn for a screen
// of `devicePixelRatio` so it stays sharp on HiDPI screens. A null image or pixmap for an
// unknown name.
QImage image(const QString& name, qreal pointSize, const QColor& color,
             qreal devicePixelRatio = 1.0, Weight weight = Weight::regular);
QPixmap pixmap(const QString& name, qreal pointSize, const QColor& color,
               qreal devicePixelRatio = 1.0, Weight weight = Weight::regular);

// The symbol filling a square of `side` logical pixels, for callers that size by box rather
// than by text size (icons). Drawn pixmaps are cached.
QPixmap boxPixmap(const QString& name, int side, const QColor& color, qreal devicePixelRatio = 1.0,
                  Weight weight = Weight::regular);

// An icon that draws the symbol afresh at every size and pixel ratio it is asked for; the
// disabled mode fades it. A null icon for an unknown name.
QIcon icon(const QString& name, const QColor& color, Weight weight = Weight::regular);

}  // namespace Symbols
