// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZorvikMac/Shell/StatusItemPresenter.h"
#include "shared/symbols/InterfaceStyle.h"
#include "tests/support/FakeStatusItem.h"
#include "tests/unit/CodeReceiverTestFixture.h"

#include <QGuiApplication>
#include <functional>

namespace {

class StatusItemPresenterTest : public CodeReceiverTest {
protected:
    StatusItemPresenterTest() {
        make(true);
        presenter = std::make_unique<StatusItemPresenter>(item, *receiver, settings, actor);
        receiver->onLatestChange = [this] { presenter->restartTitleTimer(); };
    }

    // A code received now that lives `secondsLeft` more seconds, saved as the application
    // publishes it so the helper's fill marker has a place to go.
    void receive(const QString& digits, double secondsLeft) {
        const Instant now = actor.now();
        const LatestCode code{"Work GitHub",
                              "github",
                              digits,
                              "iPhone",
                              addingSeconds(now, -1),
                              now,
                              addingSeconds(now, secondsLeft)};
        store->save(code);
        receiver->setLatest(code);
    }
    bool titleShown() const { return !item.attributedTitle.text.isEmpty(); }
    bool padlockOpen() const { return item.image == StatusItemPresenter::statusImage(true); }

    FakeStatusItem item;
    std::unique_ptr<StatusItemPresenter> presenter;
};

TEST_F(StatusItemPresenterTest, AHeldCodeOpensThePadlockAndShowsTheCodeUntilItExpires) {
    const QColor label = QGuiApplication::palette().color(QPalette::WindowText);
    presenter->restartTitleTimer();
    EXPECT_EQ(item.image, StatusItemPresenter::statusImage(false));
    EXPECT_FALSE(titleShown());
    EXPECT_EQ(item.length, StatusItem::squareLength);
    EXPECT_FALSE(presenter->isTitleTimerRunning()) << "no code, no timer";

    receive("123456", 20);
    EXPECT_TRUE(padlockOpen());
    EXPECT_EQ(item.accessibilityDescription, "Zorvik");
    EXPECT_EQ(item.attributedTitle.text, "123 456");
    EXPECT_EQ(item.attributedTitle.foregroundColor, label);
    EXPECT_EQ(item.attributedTitle.baselineOffset, 0.5);
    EXPECT_EQ(item.imagePosition, StatusItem::ImagePosition::imageLeading);
    EXPECT_TRUE(item.imageHugsTitle);
    EXPECT_EQ(item.length, StatusItem::variableLength);

    actor.advance(4);
    EXPECT_EQ(item.attributedTitle.foregroundColor, label) << "16 s left";
    actor.advance(1);
    EXPECT_EQ(item.attributedTitle.foregroundColor,
              InterfaceStyle::secondary(QGuiApplication::palette()))
        << "15 s left";
    actor.advance(15);
    EXPECT_FALSE(titleShown()) << "expired";
    EXPECT_EQ(item.imagePosition, StatusItem::ImagePosition::imageOnly);
    EXPECT_EQ(item.length, StatusItem::squareLength);
}

TEST_F(StatusItemPresenterTest, TheSettingDecidesWithinASecondAndOddOrEmptyCodesShowAsTheyAre) {
    settings.setShowCodeInMenuBar(false);
    receive("123456", 60);
    EXPECT_TRUE(padlockOpen());
    EXPECT_FALSE(titleShown());
    settings.setShowCodeInMenuBar(true);
    actor.advance(1);
    EXPECT_EQ(item.attributedTitle.text, "123 456");

    receive("12345", 60);
    EXPECT_EQ(item.attributedTitle.text, "12345");
    receive("", 60);
    EXPECT_FALSE(titleShown());
    EXPECT_EQ(item.length, StatusItem::squareLength) << "no room kept for an empty title";
    EXPECT_TRUE(padlockOpen());
}

// A copy or the helper's fill hides the title ten seconds later, the padlock stays open. The
// second code arrives after the first one's copy, which does not stop its own fill from counting.
TEST_F(StatusItemPresenterTest, ACopyOrAFillHidesTheTitleTenSecondsLater) {
    const std::pair<const char*, std::function<void()>> ends[] = {
        {"copy", [this] { receiver->copyLatest(); }},
        {"fill", [this] { store->markFilled(actor.now()); }}};
    for (const auto& [name, end] : ends) {
        SCOPED_TRACE(name);
        receive("123456", 90);
        actor.advance(5);
        end();
        actor.advance(9);
        EXPECT_TRUE(titleShown());
        actor.advance(1);
        EXPECT_FALSE(titleShown());
        EXPECT_TRUE(padlockOpen());
    }
}

TEST_F(StatusItemPresenterTest, AnEarlierCodesCopyOrFillDoesNotHideANewCode) {
    receive("111111", 90);
    store->markFilled(actor.now());
    receiver->copyLatest();
    actor.advance(30);
    EXPECT_FALSE(titleShown());

    receive("222222", 90);
    actor.advance(11);
    EXPECT_EQ(item.attributedTitle.text, "222 222")
        << "the marker and the copy of the first code are from before this one arrived";
    receiver->copyLatest();
    actor.advance(10);
    EXPECT_FALSE(titleShown()) << "its own copy counts";
}

TEST(StatusImageTest, APadlockInTheAccentColourLargeEnoughForEveryTraySize) {
    const QImage closed = StatusItemPresenter::statusImage(false);
    ASSERT_FALSE(closed.isNull());
    EXPECT_NE(closed, StatusItemPresenter::statusImage(true));
    EXPECT_GE(closed.width(), 48);
    bool hasGold = false;
    for (int y = 0; y < closed.height(); ++y) {
        for (int x = 0; x < closed.width(); ++x) {
            const QColor pixel = closed.pixelColor(x, y);
            hasGold |= pixel.alpha() == 255 && pixel.rgb() == InterfaceStyle::gold().rgb();
        }
    }
    EXPECT_TRUE(hasGold);
}

}  // namespace
