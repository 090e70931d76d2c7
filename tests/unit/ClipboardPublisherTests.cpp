// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QHash>

#include "ZorvikMac/CodeDelivery/ClipboardPublisher.h"
#include "tests/support/FakePasteboard.h"
#include "tests/support/ManualMainActor.h"

namespace {

const QString plainText = QString::fromLatin1(Pasteboard::stringType);
const QString concealed = QString::fromLatin1(Pasteboard::concealedType);

class ClipboardPublishing : public testing::Test {
protected:
    std::optional<QString> clipboardText() const { return pasteboard.string(plainText); }

    ManualMainActor actor;
    FakePasteboard pasteboard;
    ClipboardPublisher publisher{pasteboard, actor};
};

// The wait runs on the monotonic clock: moving the wall clock a day ahead changes nothing.
TEST_F(ClipboardPublishing, TheConcealedCodeIsClearedAfterTheFullDelayWithNoOtherActivity) {
    pasteboard.entries.insert(QStringLiteral("public.html"), QStringLiteral("<b>old</b>"));
    pasteboard.entries.insert(plainText, QStringLiteral("old text"));
    publisher.copyToPasteboard(QStringLiteral("493817"), 90);
    const QHash<QString, QString> expected{{plainText, QStringLiteral("493817")},
                                           {concealed, QString()}};
    EXPECT_EQ(pasteboard.entries, expected);
    EXPECT_EQ(pasteboard.count, 1) << "one clear, and writing into the entry raises nothing";

    actor.runUntilIdle();
    actor.setWallClock(actor.now() + std::chrono::hours(24));
    actor.advance(89.999);
    EXPECT_EQ(clipboardText(), QStringLiteral("493817"));
    actor.advance(0.001);
    EXPECT_TRUE(pasteboard.entries.isEmpty());
    EXPECT_EQ(pasteboard.count, 2) << "cleared exactly once";
    EXPECT_TRUE(publisher.clearTask().isFinished());
    EXPECT_EQ(actor.pendingTimers(), 0u);
}

TEST_F(ClipboardPublishing, ACopyByAnotherProgramBeforeTheDelaySurvivesEvenOfTheSameText) {
    for (const auto& [after, text] : {std::pair{30.0, QStringLiteral("meeting notes")},
                                      std::pair{89.0, QStringLiteral("493817")}}) {
        SCOPED_TRACE(text.toStdString());
        publisher.copyToPasteboard(QStringLiteral("493817"), 90);
        const long ours = pasteboard.count;
        actor.advance(after);
        pasteboard.changeByAnotherProgram(text);
        actor.advance(600);
        EXPECT_EQ(clipboardText(), text);
        EXPECT_EQ(pasteboard.count, ours + 1) << "nothing of ours cleared it";
        EXPECT_TRUE(publisher.clearTask().isFinished());
    }
}

TEST_F(ClipboardPublishing, SecondCopyTakesOverTheClearing) {
    publisher.copyToPasteboard(QStringLiteral("111111"), 90);
    const TaskHandle firstClearing = publisher.clearTask();
    actor.advance(10);
    publisher.copyToPasteboard(QStringLiteral("222222"), 90);
    const long countAfterSecondCopy = pasteboard.count;
    actor.runUntilIdle();
    EXPECT_TRUE(firstClearing.isCancelled());
    EXPECT_TRUE(firstClearing.isFinished());
    EXPECT_EQ(actor.pendingTimers(), 1u) << "only the second copy's wait is left";

    actor.advance(89.999);
    EXPECT_EQ(clipboardText(), QStringLiteral("222222"));
    EXPECT_EQ(pasteboard.count, countAfterSecondCopy) << "the first copy's clearing never ran";
    actor.advance(0.001);
    EXPECT_FALSE(clipboardText());
}

TEST_F(ClipboardPublishing, CancelledClearingEndsAtOnceAndLeavesTheCode) {
    publisher.copyToPasteboard(QStringLiteral("493817"), 90);
    actor.advance(45);
    publisher.clearTask().cancel();
    actor.runUntilIdle();
    EXPECT_TRUE(publisher.clearTask().isFinished());
    EXPECT_EQ(actor.monotonicSeconds(), 45.0);
    actor.advance(600);
    EXPECT_EQ(clipboardText(), QStringLiteral("493817"));
    EXPECT_EQ(pasteboard.count, 1);
}

TEST_F(ClipboardPublishing, ZeroAndNegativeDelaysClearOnTheNextTurnWithoutWaiting) {
    for (const double delay : {0.0, -5.0}) {
        publisher.copyToPasteboard(QStringLiteral("493817"), delay);
        EXPECT_EQ(clipboardText(), QStringLiteral("493817")) << "never cleared inline";
        const long ours = pasteboard.count;
        actor.runUntilIdle();
        EXPECT_FALSE(clipboardText()) << delay;
        EXPECT_EQ(pasteboard.count, ours + 1);
        EXPECT_EQ(actor.monotonicSeconds(), 0.0);
        EXPECT_TRUE(publisher.clearTask().isFinished());
    }
}

TEST(ClipboardPublisherChangeCount, IsReadAfterEveryWriteOfTheCopy) {
    // A clipboard whose every write raises the count: only the count read after the last one
    // still matches when nothing else happened.
    class CountingEveryWrite final : public Pasteboard {
    public:
        long clearContents() override {
            text.reset();
            return ++count;
        }
        bool setString(const QString& value, const QString& type) override {
            if (type == QLatin1String(stringType)) {
                text = value;
            }
            ++count;
            return true;
        }
        std::optional<QString> string(const QString& type) const override {
            return type == QLatin1String(stringType) ? text : std::nullopt;
        }
        long changeCount() const override { return count; }

        std::optional<QString> text;
        long count = 0;
    };
    ManualMainActor actor;
    CountingEveryWrite pasteboard;
    ClipboardPublisher publisher(pasteboard, actor);
    publisher.copyToPasteboard(QStringLiteral("493817"), 5);
    actor.advance(5);
    EXPECT_FALSE(pasteboard.text);
}

}  // namespace
