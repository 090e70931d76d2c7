#include <gtest/gtest.h>

#include <QHash>

#include "ClipboardPublisher.h"
#include "FakePasteboard.h"
#include "ManualMainActor.h"

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

TEST_F(ClipboardPublishing, EntryOffersThePlainTextAndTheConcealedMarkerOnly) {
    pasteboard.entries.insert(QStringLiteral("public.html"), QStringLiteral("<b>old</b>"));
    pasteboard.entries.insert(plainText, QStringLiteral("old text"));

    publisher.copyToPasteboard(QStringLiteral("493817"), 90);

    const QHash<QString, QString> expected{{plainText, QStringLiteral("493817")},
                                           {concealed, QString()}};
    EXPECT_EQ(pasteboard.entries, expected);
    ASSERT_TRUE(pasteboard.string(concealed));
    EXPECT_TRUE(pasteboard.string(concealed)->isEmpty());
    EXPECT_EQ(pasteboard.count, 1) << "one clear, and writing into the entry raises nothing";
}

TEST_F(ClipboardPublishing, FullDelayWithNoOtherActivityEmptiesTheClipboard) {
    publisher.copyToPasteboard(QStringLiteral("493817"), 90);

    actor.advance(89.999);
    EXPECT_EQ(clipboardText(), QStringLiteral("493817"));
    actor.advance(0.001);
    EXPECT_TRUE(pasteboard.entries.isEmpty());
    EXPECT_EQ(pasteboard.count, 2) << "cleared exactly once";
    EXPECT_TRUE(publisher.clearTask().isFinished());
    EXPECT_EQ(actor.pendingTimers(), 0u);
}

TEST_F(ClipboardPublishing, WaitIsMeasuredOnTheMonotonicClockNotTheWallClock) {
    publisher.copyToPasteboard(QStringLiteral("493817"), 90);
    actor.runUntilIdle();

    actor.setWallClock(actor.now() + std::chrono::hours(24));
    actor.advance(60);
    EXPECT_EQ(clipboardText(), QStringLiteral("493817"));
    actor.advance(30);
    EXPECT_FALSE(clipboardText());
}

TEST_F(ClipboardPublishing, CopyByAnotherProgramBeforeTheDelaySurvives) {
    publisher.copyToPasteboard(QStringLiteral("493817"), 90);
    actor.advance(30);
    pasteboard.changeByAnotherProgram(QStringLiteral("meeting notes"));

    actor.advance(600);
    EXPECT_EQ(clipboardText(), QStringLiteral("meeting notes"));
    EXPECT_EQ(pasteboard.count, 2) << "nothing of ours cleared it";
    EXPECT_TRUE(publisher.clearTask().isFinished());
}

TEST_F(ClipboardPublishing, CopyOfTheSameTextByAnotherProgramAlsoSurvives) {
    publisher.copyToPasteboard(QStringLiteral("493817"), 90);
    actor.advance(89);
    pasteboard.changeByAnotherProgram(QStringLiteral("493817"));

    actor.advance(600);
    EXPECT_EQ(clipboardText(), QStringLiteral("493817"));
    EXPECT_EQ(pasteboard.count, 2);
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
    EXPECT_NE(publisher.clearTask(), firstClearing);
    EXPECT_EQ(actor.pendingTimers(), 1u) << "only the second copy's wait is left";

    actor.advance(80);  // 90 s after the first copy
    EXPECT_EQ(clipboardText(), QStringLiteral("222222"));
    EXPECT_EQ(pasteboard.count, countAfterSecondCopy) << "nothing was cleared";

    actor.advance(9.999);
    EXPECT_EQ(clipboardText(), QStringLiteral("222222"));
    actor.advance(0.001);  // 90 s after the second copy
    EXPECT_FALSE(clipboardText());
    EXPECT_EQ(pasteboard.count, countAfterSecondCopy + 1);
}

TEST_F(ClipboardPublishing, CancelledClearingLeavesTheCode) {
    publisher.copyToPasteboard(QStringLiteral("493817"), 90);
    actor.advance(45);
    publisher.clearTask().cancel();
    actor.runUntilIdle();
    EXPECT_TRUE(publisher.clearTask().isFinished());
    EXPECT_EQ(actor.monotonicSeconds(), 45.0) << "the cancelled wait ended at once";

    actor.advance(600);
    EXPECT_EQ(clipboardText(), QStringLiteral("493817"));
    EXPECT_EQ(pasteboard.count, 1);
}

class ImmediateClearing : public ClipboardPublishing, public testing::WithParamInterface<double> {};

TEST_P(ImmediateClearing, ClearsOnTheNextTurnWithoutWaiting) {
    publisher.copyToPasteboard(QStringLiteral("493817"), GetParam());
    EXPECT_EQ(clipboardText(), QStringLiteral("493817")) << "never cleared inline";

    actor.runUntilIdle();
    EXPECT_FALSE(clipboardText());
    EXPECT_EQ(pasteboard.count, 2);
    EXPECT_EQ(actor.monotonicSeconds(), 0.0);
    EXPECT_TRUE(publisher.clearTask().isFinished());
}

INSTANTIATE_TEST_SUITE_P(ZeroAndNegativeDelays, ImmediateClearing, testing::Values(0.0, -5.0));

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
