// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QLabel>

#include "ZorvikMac/Receiver/CodeReceiver.h"
#include "ZorvikMac/Shell/AppDelegate.h"
#include "ZorvikMac/Shell/HeadlessApp.h"
#include "ZorvikMac/Shell/StatusItemPresenter.h"
#include "tests/support/FakeDistributedNotificationCenter.h"
#include "tests/support/FakePlatform.h"
#include "tests/support/FakePopover.h"
#include "tests/support/FakeRunningApplications.h"
#include "tests/support/FakeScreens.h"
#include "tests/support/FakeStatusItem.h"

namespace {

class AppDelegateTest : public testing::Test, protected FakePlatform {
protected:
    AppDelegateTest() { screens.attached = {FakeScreens::mainScreen(1280, 800, 32)}; }

    // A code from the phone, good for another minute.
    void receive(const QString& digits = "123456") {
        const Instant now = actor.now();
        delegate.app().receiver().setLatest(LatestCode{"Work", "github", digits, "iPhone",
                                                       addingSeconds(now, -1), now,
                                                       addingSeconds(now, 60)});
    }

    FakeStatusItem item;
    FakePopover popover{actor};
    FakeScreens screens;
    FakeDistributedNotificationCenter notices{actor};
    FakeRunningApplications running;
    int terminations = 0;
    AppDelegate delegate{
        platform(),
        AppDelegate::Shell{item, popover, screens, notices, running, [this] { ++terminations; }},
        BundleInfo{"1.0", "7", "6.1.0", "K8QW41TR7N.net.brontal.zorvik"}};
};

TEST_F(AppDelegateTest, LaunchTakesOverThenShowsTheClosedPadlockAndOpensTheFirstPopover) {
    running.copies = {{4700, "/usr/bin/ZorvikMac"}, {running.ownPid, "/usr/bin/ZorvikMac"}};
    delegate.applicationDidFinishLaunching();
    ASSERT_EQ(notices.posted.size(), 1) << "the take-over comes first";
    EXPECT_EQ(running.terminated, QList<qint32>{4700});
    EXPECT_EQ(item.image, StatusItemPresenter::statusImage(false));
    EXPECT_EQ(item.toolTip, "Zorvik \u2014 codes from your iPhone");
    EXPECT_EQ(item.length, StatusItem::squareLength);

    ASSERT_TRUE(delegate.app().receiver().firstRun());
    actor.advance(0.9);
    EXPECT_FALSE(popover.isShown());
    actor.advance(0.1);
    EXPECT_TRUE(popover.isShown()) << "the first run opens the popover a second after launch";
}

// Without a group container there is no store; the item and the popover work all the same.
TEST_F(AppDelegateTest, TheItemTogglesThePopoverAndShowsAReceivedCodeEvenWithoutAGroupContainer) {
    containers.unavailable = true;
    delegate.applicationDidFinishLaunching();
    actor.advance(2);
    EXPECT_FALSE(delegate.app().receiver().store().has_value());
    ASSERT_TRUE(popover.isShown());
    ASSERT_TRUE(item.activate(QPoint(1200, 12)));
    actor.runUntilIdle();
    EXPECT_FALSE(popover.isShown()) << "the first-run popover was open; a click closes it";
    EXPECT_FALSE(delegate.app().receiver().isPopoverVisible());
    item.activate(QPoint(1200, 12));
    actor.runUntilIdle();
    EXPECT_TRUE(popover.isShown());
    EXPECT_TRUE(delegate.app().receiver().isPopoverVisible());

    receive();
    EXPECT_EQ(item.image, StatusItemPresenter::statusImage(true));
    EXPECT_EQ(item.attributedTitle.text, "123 456");
}

TEST_F(AppDelegateTest, QuittingTidiesTheClipboardAndANewerCopyEndsThisOne) {
    delegate.applicationDidFinishLaunching();
    receive("654321");
    pasteboard.clearContents();
    pasteboard.setString("654321", Pasteboard::stringType);
    delegate.applicationWillTerminate();
    EXPECT_EQ(pasteboard.string(Pasteboard::stringType), std::nullopt);

    notices.deliver("net.brontal.zorvik.take-over", QVariant(QStringLiteral("9999")));
    actor.runUntilIdle();
    EXPECT_EQ(terminations, 1);
}

TEST_F(AppDelegateTest, ALaterRunOpensNothingByItself) {
    defaults.setBool(true, "firstRunDone");
    delegate.applicationDidFinishLaunching();
    actor.advance(5);
    EXPECT_FALSE(popover.isShown());

    // Nor does it build the popover's content until the item is clicked.
    EXPECT_EQ(popover.contentView, nullptr);
    receive();
    item.activate(QPoint(1200, 12));
    actor.runUntilIdle();
    ASSERT_TRUE(popover.isShown());
    ASSERT_NE(popover.contentView, nullptr);
    EXPECT_GT(popover.contentSize().height(), 0) << "the content was not measured before it showed";
    // Made late, it still shows what came before it.
    QStringList texts;
    for (const QLabel* label : popover.contentView->findChildren<QLabel*>()) {
        texts << label->text();
    }
    EXPECT_TRUE(texts.contains(QStringLiteral("123 456"))) << texts.join(" | ").toStdString();
}

// No tray shows the item: a second after launch the log says what is missing, once, and the
// popover opens as a window of its own, which is how a user brings it back: by starting the
// application again. A later run does the same; the first run plays no part in it.
TEST_F(AppDelegateTest, WithoutATrayTheLogSaysSoOnceAndThePopoverShowsAsAWindow) {
    item.shown = false;
    const auto warnings = [&] {
        QStringList found;
        for (const auto& line : log.lines) {
            if (line.level == LogLevel::warning && line.category == "shell") {
                found << line.message;
            }
        }
        return found;
    };
    delegate.applicationDidFinishLaunching();
    actor.advance(1);
    EXPECT_EQ(item.askedWhetherShown, 1);
    ASSERT_TRUE(popover.isShown());
    EXPECT_EQ(popover.calls.filter("show"), QStringList{"showDetached(\"Zorvik\")"});
    EXPECT_EQ(warnings(), QStringList{AppDelegate::noTrayLine});

    // Closed, it stays closed, and nothing more is said.
    popover.performClose();
    actor.advance(60);
    EXPECT_FALSE(popover.isShown());
    EXPECT_EQ(popover.shows, 1);
    EXPECT_EQ(warnings().size(), 1);
    EXPECT_FALSE(delegate.app().receiver().firstRun()) << "closing the window ends the first run";
}

// The tray's answer may take a moment; nothing opens before it.
TEST_F(AppDelegateTest, ThePopoverWaitsForTheTraysAnswer) {
    item.shown.reset();
    delegate.applicationDidFinishLaunching();
    actor.advance(1);
    ASSERT_EQ(item.pendingAnswers.size(), 1u);
    EXPECT_FALSE(popover.isShown());
    item.pendingAnswers[0](true);
    EXPECT_EQ(popover.calls.filter("show"), QStringList{"showRelativeTo(1278,768 2×2, minY)"});
}

}  // namespace
