#include <gtest/gtest.h>

#include <QPalette>

#include "InterfaceStyle.h"

namespace {

QPalette withWindow(const QColor& window, const QColor& text) {
    QPalette palette;
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    return palette;
}

TEST(InterfaceStyleTest, TheAccentAndSignalColoursAreFixedPerAppearance) {
    EXPECT_EQ(InterfaceStyle::gold().name(), "#d4a833");
    const QPalette light = withWindow(QColor("#efefef"), Qt::black);
    const QPalette dark = withWindow(QColor("#2b2b2d"), QColor("#ececee"));
    EXPECT_FALSE(InterfaceStyle::isDark(light));
    EXPECT_TRUE(InterfaceStyle::isDark(dark));
    EXPECT_EQ(InterfaceStyle::orange(light).name(), "#ff9500");
    EXPECT_EQ(InterfaceStyle::orange(dark).name(), "#ff9f0a");
    EXPECT_EQ(InterfaceStyle::green(light).name(), "#28cd41");
    EXPECT_EQ(InterfaceStyle::green(dark).name(), "#30d158");
    EXPECT_EQ(InterfaceStyle::red(light).name(), "#ff3b30");
    EXPECT_EQ(InterfaceStyle::red(dark).name(), "#ff453a");
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
