// SPDX-License-Identifier: GPL-3.0-or-later
// Showing, closing and measuring the popover on virtual time: the size reports, the overflow
// check with its one re-show and its guard, the layout note, the first run's end, and what the
// receiver is told.
#include <gmock/gmock.h>

#include <QWidget>
#include <memory>

#include "ZorvikMac/Popover/PopoverScreen.h"
#include "ZorvikMac/Shell/PopoverPresenter.h"
#include "tests/support/FakePopover.h"
#include "tests/support/FakeScreens.h"
#include "tests/support/QStringPrinter.h"
#include "tests/unit/CodeReceiverTestFixture.h"

namespace {

using testing::ElementsAre;
using testing::IsEmpty;

// Content that wants 612 points of height at the width the popover offers.
class MeasuredContent final : public QWidget {
public:
    QSize sizeHint() const override { return {500, 300}; }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override {
        askedWidth = width;
        return width == 340 ? 612 : 1;
    }
    mutable int askedWidth = 0;
};

const QString kScreenPart =
    QStringLiteral("screen height 1050; screens 1920\u00d71080 @2x usable 1050 (main)");
// Shown under the anchor and measured: centred, as tall as the content (none yet).
const QString kFirstNote =
    kScreenPart + QStringLiteral("; popover 0×0 y 1069…1069, usable y 0…1050, overflow 0");
// Qt's (1800, 10) on a 1080-point main screen: a 2-point square whose top is at y 1071.
const QString kShowUnderAnchor = QStringLiteral("showRelativeTo(1799,1069 2×2, minY)");
// Just above the top-right corner of the usable area.
const QString kShowAtCorner = QStringLiteral("showRelativeTo(1918,1050 2×2, minY)");

class PopoverPresenterTest : public CodeReceiverTest {
protected:
    PopoverPresenterTest() {
        make();
        screens.attached = {FakeScreens::mainScreen(1920, 1080, 30, 2)};
        popover.screen = screens.attached.front();
        presenter = std::make_unique<PopoverPresenter>(popover, screens, popoverScreen, actor, log,
                                                       receiver.get());
        popover.calls.clear();
    }
    ~PopoverPresenterTest() override {
        presenter.reset();
        actor.runUntilIdle();
    }

    // Shown under a tray icon near the top-right corner, and measured once.
    void showAndSettle() {
        presenter->togglePopover(anchor);
        actor.runUntilIdle();
        popover.calls.clear();
    }

    // Shown, then a window of 340 × 1000 points whose bottom lies 25 points below the usable
    // area, reported. Returns the first log line of the report.
    std::size_t overflow() {
        showAndSettle();
        const std::size_t firstLine = log.lines.size();
        popover.pinnedFrame = QRectF(1630, -25, 340, 1000);
        presenter->popoverContentSizeChanged(340, 1000);
        return firstLine;
    }

    // Shown, then moved to a 700-point-high screen beside the main one, 100 points too tall.
    void overflowASmallerScreen() {
        showAndSettle();
        popover.screen =
            Screens::Screen{QRectF(1920, 0, 1280, 730), QRectF(1920, 0, 1280, 700), 1, false};
        popover.pinnedFrame = QRectF(2000, -100, 340, 800);
    }

    const QPoint anchor{1800, 10};
    FakeScreens screens;
    FakePopover popover{actor};
    PopoverScreen popoverScreen;
    std::unique_ptr<PopoverPresenter> presenter;
};

TEST_F(PopoverPresenterTest, BecomesThePopoversDelegateWithAnimationOnUntilItIsGone) {
    EXPECT_TRUE(popover.animates());
    EXPECT_TRUE(popover.didShow);
    EXPECT_TRUE(popover.didClose);
    overflow();
    presenter.reset();
    EXPECT_FALSE(popover.didShow);
    EXPECT_FALSE(popover.didClose);
    // Work scheduled for it does nothing.
    actor.runUntilIdle();
    actor.advance(1);
    EXPECT_EQ(popover.shows, 1);
}

TEST_F(PopoverPresenterTest, FitsTheContentShowsBelowTheActivationPointAndMeasuresOnTheNextTurn) {
    MeasuredContent content;
    presenter->setContentView(&content);
    popover.calls.clear();
    presenter->togglePopover(anchor);
    EXPECT_EQ(content.askedWidth, 340);
    EXPECT_THAT(popover.calls, ElementsAre("setContentSize(340×612)", kShowUnderAnchor,
                                           "makeKeyWindow()", "activate()"));
    EXPECT_TRUE(popover.isShown());
    EXPECT_EQ(popoverScreen.height(), 1050);
    EXPECT_EQ(presenter->layoutNote(), kScreenPart);
    EXPECT_FALSE(receiver->isPopoverVisible());

    actor.runUntilIdle();
    EXPECT_TRUE(receiver->isPopoverVisible());
    // Centred under the anchor, as tall as the content.
    const QString measured =
        kScreenPart + QStringLiteral("; popover 340×612 y 457…1069, usable y 0…1050, overflow 0");
    EXPECT_EQ(presenter->layoutNote(), measured);
    EXPECT_EQ(receiver->info().layout, measured);
}

TEST_F(PopoverPresenterTest, ClosingTellsTheReceiverAndOnlyTheFirstCloseOfTheFirstRunEndsIt) {
    ASSERT_TRUE(receiver->firstRun());
    showAndSettle();
    ASSERT_TRUE(receiver->isPopoverVisible());
    presenter->togglePopover(anchor);  // toggling while shown closes it
    actor.runUntilIdle();
    EXPECT_THAT(popover.calls, ElementsAre("performClose()"));
    EXPECT_FALSE(popover.isShown());
    EXPECT_FALSE(receiver->isPopoverVisible());
    EXPECT_FALSE(receiver->firstRun());
    EXPECT_TRUE(defaults.boolForKey("firstRunDone"));

    // Whatever is stored now must stay as it is.
    defaults.setBool(false, "firstRunDone");
    showAndSettle();
    popover.clickElsewhere();
    actor.runUntilIdle();
    EXPECT_FALSE(receiver->isPopoverVisible());
    EXPECT_FALSE(defaults.boolForKey("firstRunDone"));
}

TEST_F(PopoverPresenterTest, TheClickThatClosedThePopoverDoesNotOpenItAgainWhenReportedOnRelease) {
    showAndSettle();
    popover.clickElsewhere();  // the press on the tray item, outside the popover
    actor.advance(0.2);
    presenter->togglePopover(anchor);  // the panel reports the click as it is let go
    EXPECT_FALSE(popover.isShown());

    // The next click is the user's own.
    actor.advance(0.1);
    presenter->togglePopover(anchor);
    EXPECT_TRUE(popover.isShown());

    // A click outside long enough ago counts for nothing.
    popover.clickElsewhere();
    actor.advance(0.5);
    presenter->togglePopover(anchor);
    EXPECT_TRUE(popover.isShown());

    // Nor does closing at the item's own click: the next click opens it at once.
    presenter->togglePopover(anchor);
    ASSERT_FALSE(popover.isShown());
    presenter->togglePopover(anchor);
    EXPECT_TRUE(popover.isShown());

    // Nor a close by a key (Escape): only a click has a release to come.
    popover.pressEscape();
    actor.runUntilIdle();
    presenter->togglePopover(anchor);
    EXPECT_TRUE(popover.isShown());
}

TEST_F(PopoverPresenterTest, WithNoScreenItStillOpensAtNineHundredAndMeasuresNothing) {
    screens.attached.clear();
    popover.screen.reset();
    popoverScreen.setHeight(700);
    presenter->showPopover(anchor);
    actor.runUntilIdle();
    EXPECT_TRUE(popover.isShown());
    EXPECT_TRUE(receiver->isPopoverVisible());
    EXPECT_EQ(popoverScreen.height(), 900);
    EXPECT_EQ(presenter->layoutNote(), "screen height 900; screens ");
    EXPECT_EQ(receiver->info().layout, std::nullopt);
}

// Hosts that send no position report every click at the origin: the last known place serves.
TEST_F(PopoverPresenterTest, WithoutAnAnchorItHangsFromTheUsableAreasCornerOrTheLastKnownPlace) {
    presenter->showPopover();
    presenter->togglePopover(QPoint(0, 0));
    presenter->togglePopover(QPoint(0, 0));
    EXPECT_EQ(popover.calls.filter("showRelativeTo"), (QStringList{kShowAtCorner, kShowAtCorner}));
    presenter->togglePopover(QPoint(0, 0));
    popover.calls.clear();

    showAndSettle();
    presenter->togglePopover(anchor);
    presenter->togglePopover(QPoint(0, 0));
    EXPECT_EQ(popover.calls.filter("showRelativeTo"), QStringList{kShowUnderAnchor});
}

TEST_F(PopoverPresenterTest, NoWidthTheSameSizeOrAClosedPopoverMeasuresNothing) {
    presenter->checkPopoverLayout(true);
    presenter->popoverContentSizeChanged(340, 500);  // closed: only set
    EXPECT_THAT(popover.calls, ElementsAre("setContentSize(340×500)"));
    EXPECT_FALSE(actor.hasQueuedJobs());
    EXPECT_EQ(presenter->layoutNote(), QString());
    EXPECT_EQ(receiver->info().layout, std::nullopt);

    showAndSettle();
    const QString note = presenter->layoutNote();
    presenter->popoverContentSizeChanged(0, 400);
    presenter->popoverContentSizeChanged(340, -1);
    EXPECT_FALSE(actor.hasQueuedJobs());
    presenter->popoverContentSizeChanged(340, 500);
    actor.runUntilIdle();
    EXPECT_THAT(popover.calls, IsEmpty());
    EXPECT_EQ(presenter->layoutNote(), note);
}

TEST_F(PopoverPresenterTest, AWindowBelowTheUsableAreaIsReShownOnceAndNotAgainWithinTheGuard) {
    const std::size_t firstLine = overflow();
    actor.runUntilIdle();
    const QString part =
        QStringLiteral("; popover 340×1000 y -25…975, usable y 0…1050, overflow 25");
    const QString reshown = kFirstNote + part + QStringLiteral(" \u2192 re-shown");
    EXPECT_EQ(presenter->layoutNote(), reshown);
    EXPECT_EQ(receiver->info().layout, reshown);
    EXPECT_THAT(logSince(firstLine),
                ElementsAre("Zorvik: popover overflowed by 25 pt, re-showing"));
    EXPECT_EQ(log.lines.back().subsystem, "net.brontal.zorvik");
    EXPECT_EQ(log.lines.back().category, "shell");
    // Fitted to the usable area (which it fits already) and placed again.
    EXPECT_THAT(popover.calls,
                ElementsAre("setContentSize(340×1000)", "setAnimates(false)", "close()",
                            "setContentSize(340×1000)", kShowUnderAnchor, "setAnimates(true)"));
    EXPECT_TRUE(presenter->isReshowing());
    // The close and show of the re-show never reached the receiver.
    EXPECT_TRUE(receiver->isPopoverVisible());
    EXPECT_TRUE(receiver->firstRun());

    // A second size change within the guard is measured, but does not re-show again.
    actor.advance(0.1);
    presenter->popoverContentSizeChanged(340, 990);
    actor.runUntilIdle();
    EXPECT_EQ(presenter->layoutNote(), reshown + part);
    actor.advance(0.19);
    EXPECT_TRUE(presenter->isReshowing());
    actor.advance(0.01);
    EXPECT_FALSE(presenter->isReshowing());
    EXPECT_EQ(presenter->layoutNote(), reshown + part + part);
    EXPECT_EQ(receiver->info().layout, presenter->layoutNote());
    actor.advance(0.5);
    EXPECT_EQ(popover.shows, 2);
    EXPECT_EQ(logSince(firstLine).size(), 1);
}

// A window above the usable area overflows too; fractions of a point are cut off.
TEST_F(PopoverPresenterTest, ANewSizeIsMeasuredOnTheNextTurnAgainstTheUsableAreaInWholePoints) {
    showAndSettle();
    popover.pinnedFrame = QRectF(1630, 300, 340, 500);
    presenter->popoverContentSizeChanged(340, 500);
    EXPECT_THAT(popover.calls, ElementsAre("setContentSize(340×500)"));
    EXPECT_TRUE(actor.hasQueuedJobs());
    actor.runUntilIdle();
    EXPECT_TRUE(presenter->layoutNote().endsWith(
        "; popover 340×500 y 300…800, usable y 0…1050, overflow 0"));

    const std::pair<QRectF, QString> cases[] = {
        {{1630, 600, 340, 500}, "; popover 340×500 y 600…1100, usable y 0…1050, overflow 20"},
        {{1630.9, -0.5, 340.9, 600.9}, "; popover 340×600 y 0…600, usable y 0…1050, overflow 0"},
    };
    for (const auto& [frame, note] : cases) {
        popover.pinnedFrame = frame;
        presenter->checkPopoverLayout(false);
        EXPECT_TRUE(presenter->layoutNote().endsWith(note))
            << presenter->layoutNote().toStdString();
    }
    EXPECT_EQ(popover.shows, 1) << "measuring alone never re-shows";
}

// Shown again the same size at the same anchor, it would land where it was: a window taller than
// the usable area of the screen it is on is fitted to that area, and the content told its height.
TEST_F(PopoverPresenterTest, AWindowTallerThanItsScreensUsableAreaIsFittedToItWhenShownAgain) {
    overflowASmallerScreen();
    const std::size_t firstLine = log.lines.size();
    presenter->popoverContentSizeChanged(340, 800);
    actor.runUntilIdle();
    EXPECT_THAT(logSince(firstLine),
                ElementsAre("Zorvik: popover overflowed by 100 pt, re-showing"));
    EXPECT_THAT(popover.calls,
                ElementsAre("setContentSize(340×800)", "setAnimates(false)", "close()",
                            "setContentSize(340×700)", kShowUnderAnchor, "setAnimates(true)"));
    EXPECT_EQ(popoverScreen.height(), 700);
}

// Content that answers the new height with its size at once is shown at that size.
TEST_F(PopoverPresenterTest, ContentThatFitsItselfToTheNewHeightIsShownAgainAtItsOwnSize) {
    overflowASmallerScreen();
    QObject::connect(&popoverScreen, &PopoverScreen::heightChanged, [this](double height) {
        presenter->popoverContentSizeChanged(340, height - 50);
    });
    presenter->popoverContentSizeChanged(340, 800);
    actor.runUntilIdle();
    EXPECT_THAT(popover.calls,
                ElementsAre("setContentSize(340×800)", "setAnimates(false)", "close()",
                            "setContentSize(340×650)", "setContentSize(340×650)", kShowUnderAnchor,
                            "setAnimates(true)"));
}

// Before any click the popover hangs from the corner of the usable area by the panel, which the
// screen's frame against its usable area tells.
TEST(PopoverPresenterCornerTest, WithoutAnAnchorItHangsFromTheCornerByThePanel) {
    const QRectF frame(0, 0, 1920, 1080);
    const std::pair<QRectF, QRectF> cases[] = {
        // usable area → anchor (y upward)
        {{0, 0, 1920, 1050}, {1918, 1050, 2, 2}},   // top panel: above its top-right corner
        {{0, 40, 1920, 1040}, {1918, 38, 2, 2}},    // bottom panel: below its bottom-right corner
        {{0, 0, 1860, 1080}, {1860, 1078, 2, 2}},   // right panel: right of its top-right corner
        {{60, 0, 1860, 1080}, {58, 1078, 2, 2}},    // left panel: left of its top-left corner
        {{60, 0, 1860, 1050}, {1918, 1050, 2, 2}},  // top bar and a dock: the top bar
        {{0, 40, 1860, 1040}, {1858, 38, 2, 2}},    // bottom and right panels: the bottom one
        {frame, {1918, 1080, 2, 2}},                // no panel: the top-right corner
    };
    for (const auto& [usable, anchor] : cases) {
        EXPECT_EQ(PopoverPresenter::cornerAnchor({frame, usable, 1, true}), anchor)
            << usable.x() << "," << usable.y() << " " << usable.width() << "×" << usable.height();
    }
}

// Where no tray shows the item: the popover as a window of its own on the main screen, closed
// only by the user, and shown again the same way after an overflow.
TEST_F(PopoverPresenterTest, ShownAsAWindowItIsMeasuredLikeThePopoverAndShownAgainAsAWindow) {
    MeasuredContent content;
    presenter->setContentView(&content);
    popover.calls.clear();
    presenter->showPopoverWindow("Zorvik");
    EXPECT_THAT(popover.calls, ElementsAre("setContentSize(340×612)", "showDetached(\"Zorvik\")",
                                           "makeKeyWindow()", "activate()"));
    EXPECT_TRUE(presenter->isDetached());
    EXPECT_EQ(popoverScreen.height(), 1050);
    actor.runUntilIdle();
    EXPECT_TRUE(receiver->isPopoverVisible());
    EXPECT_TRUE(presenter->layoutNote().endsWith(
        "; popover 340×612 y 219…831, usable y 0…1050, overflow 0"))
        << presenter->layoutNote().toStdString();

    // Asked again while it is shown, it stays as it is.
    popover.calls.clear();
    presenter->showPopoverWindow("Zorvik");
    EXPECT_THAT(popover.calls, IsEmpty());

    popover.pinnedFrame = QRectF(800, -20, 340, 1000);
    presenter->popoverContentSizeChanged(340, 1000);
    actor.runUntilIdle();
    EXPECT_THAT(popover.calls, ElementsAre("setContentSize(340×1000)", "setAnimates(false)",
                                           "close()", "setContentSize(340×1000)",
                                           "showDetached(\"Zorvik\")", "setAnimates(true)"));

    // Closed by the user, it ends the first run like the popover; a click on the item then
    // opens the popover under it again.
    actor.advance(1);
    popover.performClose();
    actor.runUntilIdle();
    EXPECT_FALSE(receiver->isPopoverVisible());
    EXPECT_FALSE(receiver->firstRun());
    popover.calls.clear();
    presenter->togglePopover(anchor);
    EXPECT_FALSE(presenter->isDetached());
    EXPECT_EQ(popover.calls.filter("show"), QStringList{kShowUnderAnchor});
}

TEST_F(PopoverPresenterTest, DescribesEveryScreenAndUsesTheOneUnderTheAnchor) {
    // A second screen to the right of the main one, tops aligned.
    screens.attached.push_back(
        {QRectF(1920, -360, 2560, 1440), QRectF(1920, -360, 2560, 1415.9), 1.5, false});
    EXPECT_EQ(presenter->screensDescription(),
              "; screens 1920\u00d71080 @2x usable 1050 (main), 2560\u00d71440 @1x usable 1415");
    presenter->showPopover(QPoint(3000, 10));
    EXPECT_EQ(popoverScreen.height(), 1415.9);
}

}  // namespace
