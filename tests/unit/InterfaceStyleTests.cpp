// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QPalette>

#include "shared/symbols/InterfaceStyle.h"

namespace {

QPalette withWindow(const QColor& window, const QColor& text) {
    QPalette palette;
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    return palette;
}

TEST(InterfaceStyleTest, AWindowDarkerThanItsTextIsADarkAppearance) {
    EXPECT_FALSE(InterfaceStyle::isDark(withWindow(QColor("#efefef"), Qt::black)));
    EXPECT_TRUE(InterfaceStyle::isDark(withWindow(QColor("#2b2b2d"), QColor("#ececee"))));
}

TEST(InterfaceStyleTest, QuieterTextLiesBetweenTextAndWindowInEitherAppearance) {
    for (const QPalette& palette :
         {withWindow(Qt::white, Qt::black), withWindow(QColor("#2b2b2d"), QColor("#ececee"))}) {
        const qreal text = palette.color(QPalette::WindowText).lightnessF();
        const qreal window = palette.color(QPalette::Window).lightnessF();
        const qreal secondary = InterfaceStyle::secondary(palette).lightnessF();
        const qreal tertiary = InterfaceStyle::tertiary(palette).lightnessF();
        // Each step moves from the text towards the window.
        EXPECT_LT(std::abs(secondary - text), std::abs(tertiary - text));
        EXPECT_LT(std::abs(tertiary - text), std::abs(window - text));
    }
    EXPECT_EQ(InterfaceStyle::secondary(withWindow(Qt::white, Qt::black)).name(), "#666666");
}

TEST(InterfaceStyleTest, ButtonLabelsPickTheReadableInk) {
    EXPECT_EQ(InterfaceStyle::textOn(InterfaceStyle::gold()).name(), "#1c1c1e")
        << "white on this gold would be hard to read";
    EXPECT_EQ(InterfaceStyle::textOn(QColor("#0a84ff")).name(), "#1c1c1e");
    EXPECT_EQ(InterfaceStyle::textOn(QColor("#1f2a44")).name(), "#ffffff");
}

}  // namespace
