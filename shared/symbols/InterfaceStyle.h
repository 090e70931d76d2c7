// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>

// The look both deliverables share: the accent colour, the system-like signal colours picked
// for light or dark palettes, the quieter text colours derived from the palette, and the fonts
// at the sizes the interface is drawn in. Sizes are in points, which are logical pixels here.
namespace InterfaceStyle {

// The caption text styles.
constexpr int captionSize = 10;
constexpr int caption2Size = 10;

// The app's accent colour, the same everywhere.
QColor gold();

bool isDark(const QPalette& palette);
QColor orange(const QPalette& palette);
QColor green(const QPalette& palette);
QColor red(const QPalette& palette);
// Text quieter than the palette's text, for details and captions.
QColor secondary(const QPalette& palette);
// Quieter still, for footnotes.
QColor tertiary(const QPalette& palette);
// The label colour on a button tinted `background`: near-black or white, whichever stands out
// more.
QColor textOn(const QColor& background);

// The system's font at `pixelSize` and `weight`. Where no rounded face is installed, the rounded
// design is this font too.
QFont systemFont(int pixelSize, QFont::Weight weight = QFont::Normal);
// The system's fixed-width font, for the monospaced design.
QFont monospacedFont(int pixelSize, QFont::Weight weight = QFont::Normal);

}  // namespace InterfaceStyle
