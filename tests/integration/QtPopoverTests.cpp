// SPDX-License-Identifier: GPL-3.0-or-later
// The popover's Linux window on the session's X display (Xvfb, 1280 × 800): where it opens for
// an anchor at the top and at the bottom of the screen, that it stays on the screen, that a
// click elsewhere closes it, how the screens read in the platform's coordinates, and the popover
// view shown in it by the presenter, with a screenshot of what the user sees.
#include <gmock/gmock.h>

#include <QApplication>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QTest>
#include <QWidget>
#include <memory>

#include "ZorvikMac/Popover/PopoverScreen.h"
#include "ZorvikMac/Popover/PopoverView.h"
#include "ZorvikMac/Shell/PopoverPresenter.h"
#include "platform/linux/desktop/QtPopover.h"
#include "platform/linux/desktop/QtScreens.h"
#include "tests/support/QStringPrinter.h"
#include "tests/support/SessionEnvironment.h"
#include "tests/unit/CodeReceiverTestFixture.h"

namespace {

using testing::HasSubstr;

#define REQUIRE_X_DISPLAY()                                                  \
    do {                                                                     \
        REQUIRE_DESKTOP_SESSION();                                           \
        if (QGuiApplication::platformName() != QLatin1String("xcb")) {       \
            GTEST_SKIP() << "needs the session's X display (-platform xcb)"; \
        }                                                                    \
    } while (false)

// The session's Xvfb screen.
constexpr int kScreenWidth = 1280;
constexpr int kScreenHeight = 800;

// A point where the tray icon was activated, as a 2-point square in the platform's coordinates.
QRectF anchorAt(QPoint global) {
    return QtScreens::fromGlobal(QRectF(global.x() - 1, global.y() - 1, 2, 2));
}

class QtPopoverTest : public testing::Test {
protected:
    QtPopoverTest() {
        content.setAutoFillBackground(true);
        QPalette palette = content.palette();
        palette.setColor(QPalette::Window, QColor(0x30, 0x60, 0x90));
        content.setPalette(palette);
        popover.setContentView(&content);
        popover.setContentSize(QSizeF(340, 300));
        popover.didShow = [this] { ++shows; };
        popover.didClose = [this] { ++closes; };
    }

    void showAt(QPoint global) {
        const int before = shows;
        popover.showRelativeTo(anchorAt(global), Popover::Edge::minY);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(popover.window()));
        ASSERT_TRUE(QTest::qWaitFor([&] { return shows == before + 1; }, 5000));
    }

    QWidget content;
    QtPopover popover;
    int shows = 0;
    int closes = 0;
};

TEST_F(QtPopoverTest,
       OpensBelowAnAnchorAtTheTopAboveOneAtTheBottomInsideTheScreenAndFollowsItsSize) {
    REQUIRE_X_DISPLAY();
    // Where the tray icon was activated → the window, in Qt's coordinates (y downward).
    const std::pair<QPoint, QRect> cases[] = {
        {{640, 10}, {470, 11, 340, 300}},
        {{640, 790}, {470, 789 - 300, 340, 300}},
        {{kScreenWidth - 5, 10}, {kScreenWidth - 340, 11, 340, 300}},
        {{3, 10}, {0, 11, 340, 300}},
    };
    for (const auto& [anchor, geometry] : cases) {
        showAt(anchor);
        EXPECT_TRUE(popover.isShown());
        EXPECT_EQ(popover.window()->geometry(), geometry) << anchor.x() << "," << anchor.y();
        // In the platform's coordinates: 800 − (top + height).
        EXPECT_EQ(popover.windowFrame(),
                  QRectF(geometry.x(), kScreenHeight - geometry.y() - 300, 340, 300));
        ASSERT_TRUE(popover.windowScreen().has_value());
        EXPECT_TRUE(popover.windowScreen()->isMain);
        popover.performClose();
        EXPECT_FALSE(popover.isShown());
    }
    popover.close();
    EXPECT_EQ(closes, 4) << "closing tells the delegate once";

    // Shown, it follows a new content size.
    showAt(QPoint(640, 790));
    popover.setContentSize(QSizeF(340, 400));
    const QRect grown(470, 789 - 400, 340, 400);
    EXPECT_TRUE(QTest::qWaitFor([&] { return popover.window()->geometry() == grown; }, 5000));
}

// A real click of the X server's pointer at `global`.
void clickAt(QPoint global) {
    QProcess xdotool;
    xdotool.start(QStringLiteral("xdotool"),
                  {QStringLiteral("mousemove"), QString::number(global.x()),
                   QString::number(global.y()), QStringLiteral("click"), QStringLiteral("1")});
    ASSERT_TRUE(xdotool.waitForFinished(10000));
    ASSERT_EQ(xdotool.exitCode(), 0) << xdotool.readAllStandardError().toStdString();
}

// Counts the mouse presses a widget receives.
class PressCounter final : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonPress) {
            ++presses;
        }
        return QObject::eventFilter(watched, event);
    }
    int presses = 0;
};

// A click on another window closes the popup and tells the delegate. Shown detached, the same
// window is an ordinary one: framed, centred in the usable area, left open by a click elsewhere,
// closed by the user; shown under an anchor next, a popup again.
TEST_F(QtPopoverTest, AClickElsewhereClosesThePopupButNotTheWindowShownDetached) {
    REQUIRE_X_DISPLAY();
    QWidget elsewhere;
    PressCounter counter;
    elsewhere.installEventFilter(&counter);
    elsewhere.setGeometry(100, 500, 200, 200);
    elsewhere.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&elsewhere));
    showAt(QPoint(640, 10));
    EXPECT_FALSE(popover.closedByClickOutside());

    ASSERT_NO_FATAL_FAILURE(clickAt(elsewhere.mapToGlobal(QPoint(100, 100))));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !popover.window()->isVisible(); }, 5000));
    EXPECT_FALSE(popover.isShown());
    EXPECT_EQ(closes, 1);
    // Its release may still come as the tray item's click, which the presenter must not take.
    EXPECT_TRUE(popover.closedByClickOutside());
    EXPECT_EQ(popover.windowFrame(), std::nullopt);
    // The click that closed it is not passed on (a click on the tray icon would reopen it).
    QTest::qWait(100);
    EXPECT_EQ(counter.presses, 0);

    popover.showDetached(QStringLiteral("Zorvik"));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(popover.window()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return shows == 2; }, 5000));
    EXPECT_TRUE(popover.isShown());
    EXPECT_EQ(popover.window()->windowType(), Qt::Window);
    EXPECT_FALSE(popover.window()->windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_EQ(popover.window()->geometry(), QRect(470, 250, 340, 300));
    ASSERT_NO_FATAL_FAILURE(clickAt(elsewhere.mapToGlobal(QPoint(100, 100))));
    QTest::qWait(200);
    EXPECT_TRUE(popover.isShown()) << "a click elsewhere leaves the window open";
    // The user's close, as a window manager's close button asks for it.
    ASSERT_TRUE(popover.window()->close());
    EXPECT_FALSE(popover.isShown());
    EXPECT_EQ(closes, 2);

    showAt(QPoint(640, 10));
    EXPECT_FALSE(popover.isDetached());
    EXPECT_EQ(popover.window()->windowType(), Qt::Popup);
    EXPECT_EQ(popover.window()->geometry(), QRect(470, 11, 340, 300));
}

TEST(QtScreensTest, ReadsTheSessionsScreenWithYGrowingUpward) {
    REQUIRE_X_DISPLAY();
    QtScreens screens;

    const std::vector<Screens::Screen> all = screens.screens();

    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].frame, QRectF(0, 0, kScreenWidth, kScreenHeight));
    // Xvfb has no panel: all of it is usable.
    EXPECT_EQ(all[0].visibleFrame, QRectF(0, 0, kScreenWidth, kScreenHeight));
    EXPECT_EQ(all[0].backingScaleFactor, 1);
    EXPECT_TRUE(all[0].isMain);
    EXPECT_EQ(screens.mainScreen(), all[0]);
    // A 30 × 40 rectangle 20 points from the top of the screen ends 60 points down.
    EXPECT_EQ(QtScreens::fromGlobal(QRectF(10, 20, 30, 40)), QRectF(10, 740, 30, 40));
    EXPECT_EQ(QtScreens::toGlobal(QRectF(10, 740, 30, 40)), QRectF(10, 20, 30, 40));
}

// The popover view in the Linux popover, shown and measured by the presenter.
class PresentedPopoverTest : public CodeReceiverTest {
protected:
    PresentedPopoverTest() { make(); }
    ~PresentedPopoverTest() override {
        presenter.reset();
        view.reset();
        actor.runUntilIdle();
    }

    // Lets queued main-actor work and Qt's events run until both are done.
    void settle() {
        for (int round = 0; round < 10; ++round) {
            actor.runUntilIdle();
            QApplication::processEvents();
            QTest::qWait(20);
        }
    }

    QtPopover popover;
    QtScreens screens;
    PopoverScreen popoverScreen;
    FakeAutoFillSettings autoFillSettings;
    std::unique_ptr<PopoverView> view;
    std::unique_ptr<PopoverPresenter> presenter;
};

TEST_F(PresentedPopoverTest, ShowsTheViewUnderTheTrayIconAndLeavesAScreenshot) {
    REQUIRE_X_DISPLAY();
    presenter = std::make_unique<PopoverPresenter>(popover, screens, popoverScreen, actor, log,
                                                   receiver.get());
    view = std::make_unique<PopoverView>(
        *receiver, settings, popoverScreen,
        [this](double width, double height) {
            if (presenter) {
                presenter->popoverContentSizeChanged(width, height);
            }
        },
        [] {}, PopoverEnvironment{actor, workspace, autoFillSettings, log, QTimeZone::utc()});
    presenter->setContentView(view.get());

    presenter->showPopover(QPoint(1200, 12));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(popover.window()));
    settle();

    EXPECT_TRUE(receiver->isPopoverVisible());
    const QRect geometry = popover.window()->geometry();
    EXPECT_EQ(geometry.top(), 13);
    EXPECT_EQ(geometry.right(), kScreenWidth - 1);
    EXPECT_EQ(geometry.width(), 340);
    EXPECT_EQ(popover.contentSize(), QSizeF(view->sizeHint()));
    EXPECT_EQ(popoverScreen.height(), kScreenHeight);
    const QString note = presenter->layoutNote();
    EXPECT_TRUE(note.startsWith(
        QStringLiteral("screen height 800; screens 1280\u00d7800 @1x usable 800 (main); popover "
                       "340\u00d7")))
        << note.toStdString();
    EXPECT_TRUE(note.endsWith(QStringLiteral(", usable y 0\u2026800, overflow 0")))
        << note.toStdString();

    const QString shot = QStringLiteral(ZORVIK_POPOVER_SCREENSHOT);
    QFile::remove(shot);
    QProcess screenshot;
    screenshot.start(QStringLiteral(ZORVIK_SCREENSHOT_PATH), {shot});
    ASSERT_TRUE(screenshot.waitForFinished(20000));
    ASSERT_EQ(screenshot.exitCode(), 0) << screenshot.readAllStandardError().toStdString();
    const QImage image(shot);
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(kScreenWidth, kScreenHeight));
    // The popover's background is the window colour, not the bare root window beside it.
    const QColor inside = image.pixelColor(geometry.center());
    const QColor beside = image.pixelColor(QPoint(200, 400));
    EXPECT_NE(inside, beside);
    std::printf("screenshot: %s\n", qPrintable(QFileInfo(shot).absoluteFilePath()));
}

// Content taller than the screen: placed at the top of the usable area it still sticks out at
// the bottom, and the presenter's re-show fits it to the usable height, so it ends up inside.
// How the presenter notes the overflow is its unit tests' part.
TEST_F(PresentedPopoverTest, AWindowTallerThanTheScreenIsShownAgainInsideIt) {
    REQUIRE_X_DISPLAY();
    presenter = std::make_unique<PopoverPresenter>(popover, screens, popoverScreen, actor, log,
                                                   receiver.get());
    class Tall final : public QWidget {
    public:
        QSize sizeHint() const override { return {340, 900}; }
    } tall;
    presenter->setContentView(&tall);

    presenter->showPopover(QPoint(640, 10));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(popover.window()));
    settle();
    EXPECT_EQ(log.messages().filter("re-showing"),
              QStringList{"Zorvik: popover overflowed by 100 pt, re-showing"});
    actor.advance(PopoverPresenter::reshowGuardSeconds);
    settle();
    EXPECT_TRUE(popover.isShown());
    EXPECT_EQ(popover.window()->geometry(), QRect(470, 0, 340, kScreenHeight));
    presenter.reset();
}

}  // namespace
