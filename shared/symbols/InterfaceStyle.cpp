// SPDX-License-Identifier: GPL-3.0-or-later
#include "shared/symbols/InterfaceStyle.h"

#include <QFontDatabase>
#include <cmath>

namespace InterfaceStyle {

namespace {

QColor mixed(const QColor& ink, const QColor& paper, qreal inkShare) {
    return QColor::fromRgbF(ink.redF() * inkShare + paper.redF() * (1 - inkShare),
                            ink.greenF() * inkShare + paper.greenF() * (1 - inkShare),
                            ink.blueF() * inkShare + paper.blueF() * (1 - inkShare));
}

qreal relativeLuminance(const QColor& color) {
    const auto linear = [](qreal channel) {
        return channel <= 0.03928 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(color.redF()) + 0.7152 * linear(color.greenF()) +
           0.0722 * linear(color.blueF());
}

}  // namespace

QColor gold() {
    return QColor::fromRgbF(0.83f, 0.66f, 0.20f, 1.0f);
}

bool isDark(const QPalette& palette) {
    return palette.color(QPalette::Window).lightnessF() < 0.5;
}

QColor orange(const QPalette& palette) {
    return isDark(palette) ? QColor(0xFF, 0x9F, 0x0A) : QColor(0xFF, 0x95, 0x00);
}

QColor green(const QPalette& palette) {
    return isDark(palette) ? QColor(0x30, 0xD1, 0x58) : QColor(0x28, 0xCD, 0x41);
}

QColor red(const QPalette& palette) {
    return isDark(palette) ? QColor(0xFF, 0x45, 0x3A) : QColor(0xFF, 0x3B, 0x30);
}

// The text colour worn down towards the background, so it reads as quieter on light and dark
// palettes alike and stays legible at caption size.
QColor secondary(const QPalette& palette) {
    return mixed(palette.color(QPalette::WindowText), palette.color(QPalette::Window), 0.6);
}

QColor tertiary(const QPalette& palette) {
    return mixed(palette.color(QPalette::WindowText), palette.color(QPalette::Window), 0.42);
}

QColor textOn(const QColor& background) {
    const qreal luminance = relativeLuminance(background);
    const qreal onBlack = (luminance + 0.05) / 0.05;
    const qreal onWhite = 1.05 / (luminance + 0.05);
    return onBlack >= onWhite ? QColor(0x1C, 0x1C, 0x1E) : QColor(Qt::white);
}

QFont systemFont(int pixelSize, QFont::Weight weight) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

QFont monospacedFont(int pixelSize, QFont::Weight weight) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    // The system's "monospace" may name a face that does not say it is fixed-pitch (Noto Sans
    // Mono); asking for fixed pitch makes the match prefer one that does.
    font.setStyleHint(QFont::Monospace);
    font.setFixedPitch(true);
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

}  // namespace InterfaceStyle
