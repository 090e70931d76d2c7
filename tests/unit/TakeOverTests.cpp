// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <vector>

#include "ZorvikMac/Shell/TakeOver.h"
#include "tests/support/FakeDistributedNotificationCenter.h"
#include "tests/support/FakeRunningApplications.h"
#include "tests/support/ManualMainActor.h"
#include "tests/support/RecordingSystemLog.h"

namespace {

class TakeOverTest : public testing::Test {
protected:
    TakeOver make(
        std::optional<QString> identifier = QStringLiteral("K8QW41TR7N.net.brontal.zorvik")) {
        BundleInfo bundle{"1.0", "1", "6.1.0", identifier};
        return TakeOver(notices, applications, bundle, log, [this] { ++terminations; });
    }

    ManualMainActor actor;
    FakeDistributedNotificationCenter notices{actor};
    FakeRunningApplications applications;
    RecordingSystemLog log;
    int terminations = 0;
};

TEST_F(TakeOverTest, ANewCopyAsksEveryOlderCopyToQuitOnceAndSignalsEach) {
    applications.copies = {
        {4700, "/usr/bin/ZorvikMac"}, {4711, "/usr/bin/ZorvikMac"}, {4705, std::nullopt}};
    TakeOver takeOver = make();
    takeOver.askOlderCopiesToQuit();
    ASSERT_EQ(notices.posted.size(), 1);
    EXPECT_EQ(notices.posted[0].first, "net.brontal.zorvik.take-over");
    EXPECT_EQ(notices.posted[0].second, QVariant(QStringLiteral("4711")));
    EXPECT_EQ(applications.askedFor, QStringList{"K8QW41TR7N.net.brontal.zorvik"});
    EXPECT_EQ(applications.terminated, (QList<qint32>{4700, 4705}));
    EXPECT_EQ(log.messages(),
              (QStringList{"Zorvik: asking the older copy at /usr/bin/ZorvikMac (pid 4700) to quit",
                           "Zorvik: asking the older copy at ? (pid 4705) to quit"}));
    actor.runUntilIdle();
    EXPECT_EQ(terminations, 0) << "the copy hears its own notice and keeps running";
}

// A take-over that is gone no longer listens.
TEST_F(TakeOverTest, ACopyAloneOrWithoutIdentifierPostsNothing) {
    applications.copies = {{4711, "/usr/bin/ZorvikMac"}};
    {
        TakeOver alone = make();
        alone.askOlderCopiesToQuit();
        EXPECT_TRUE(notices.posted.isEmpty());
        EXPECT_TRUE(log.lines.empty());
        EXPECT_EQ(notices.observerCount(), 1u) << "it still listens for newer copies";
    }
    EXPECT_EQ(notices.observerCount(), 0u);
    applications.copies.append({4700, "/usr/bin/ZorvikMac"});
    TakeOver nameless = make(std::nullopt);
    nameless.askOlderCopiesToQuit();
    EXPECT_TRUE(notices.posted.isEmpty());
    EXPECT_TRUE(applications.terminated.isEmpty());
    EXPECT_EQ(notices.observerCount(), 0u) << "no identifier, no observer";
}

// Which texts are numbers is the reading's, tested below.
TEST_F(TakeOverTest, ANewerCopysNoticeEndsThisCopy) {
    TakeOver takeOver = make();
    takeOver.askOlderCopiesToQuit();
    notices.deliver("net.brontal.zorvik.take-over", QVariant(QStringLiteral("12a")));
    notices.deliver("net.brontal.zorvik.take-over", QVariant(QStringLiteral("+4800")));
    EXPECT_EQ(terminations, 0) << "observers run from the main queue";
    actor.runUntilIdle();
    EXPECT_EQ(terminations, 1);
    EXPECT_EQ(log.messages(), QStringList{"Zorvik: a newer copy (pid 4800) took over; quitting"});
    notices.deliver("net.brontal.zorvik.other", QVariant(QStringLiteral("4800")));
    actor.runUntilIdle();
    EXPECT_EQ(terminations, 1) << "other notices are not ours";
}

TEST(TakeOverNoticeTest, ReadsSignedDecimal32BitNumbersFromTextOnly) {
    const auto pid = [](const char* text) {
        return TakeOver::noticeProcessIdentifier(QVariant(QString::fromUtf8(text)));
    };
    EXPECT_EQ(pid("4711"), 4711);
    EXPECT_EQ(pid("+4711"), 4711);
    EXPECT_EQ(pid("-12"), -12);
    EXPECT_EQ(pid("0004711"), 4711);
    EXPECT_EQ(pid("2147483647"), 2147483647);
    EXPECT_EQ(pid("-2147483648"), -2147483647 - 1);
    for (const char* bad : {"-2147483649", "2147483648", "4711 ", " 4800", "0x12", "12a", "-", "+",
                            "+-1", "", "\uFF14\uFF18"}) {
        EXPECT_EQ(pid(bad), std::nullopt) << bad;
    }
    EXPECT_EQ(TakeOver::noticeProcessIdentifier(std::nullopt), std::nullopt);
    EXPECT_EQ(TakeOver::noticeProcessIdentifier(QVariant(4800)), std::nullopt);
}

// Copies started at the same moment see each other running; all of them must agree on the one
// that stays, by its start and then its process identifier.
TEST_F(TakeOverTest, OnlyTheCopyThatStartedLastStays) {
    struct Case {
        const char* name;
        QList<RunningApplications::RunningApplication> copies;
        bool stays;
        QList<qint32> terminated;
    };
    // This copy is 4711.
    const Case cases[] = {
        {"started last", {{4800, "/a", 100}, {4711, "/a", 200}}, true, {4800}},
        {"a later start is running", {{4711, "/a", 200}, {4700, "/a", 201}}, false, {}},
        {"same tick, lower pid", {{4711, "/a", 200}, {4712, "/a", 200}}, false, {}},
        {"same tick, higher pid", {{4711, "/a", 200}, {4710, "/a", 200}}, true, {4710}},
        {"three at once", {{4711, "/a", 200}, {4712, "/a", 199}, {4713, "/a", 200}}, false, {}},
        {"own start unknown", {{4700, "/a", 300}}, true, {4700}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        applications.copies = c.copies;
        applications.terminated.clear();
        notices.posted.clear();
        TakeOver takeOver = make();
        EXPECT_EQ(takeOver.askOlderCopiesToQuit(), c.stays);
        // As vectors: Qt compares two empty lists through memcmp on null pointers.
        EXPECT_EQ(std::vector(applications.terminated.cbegin(), applications.terminated.cend()),
                  std::vector(c.terminated.cbegin(), c.terminated.cend()));
        EXPECT_EQ(notices.posted.size(), c.terminated.isEmpty() ? 0 : 1);
    }
    EXPECT_TRUE(log.messages().contains(
        "Zorvik: a newer copy (pid 4700) is starting as well; this copy quits"));
}

TEST_F(TakeOverTest, ANoticeFromAnOlderCopyIsIgnored) {
    applications.copies = {{4700, "/a", 100}, {4711, "/a", 200}, {4800, "/a", 300}};
    TakeOver takeOver = make();
    takeOver.handleTakeOver(QVariant(QStringLiteral("4700")), 4711);
    EXPECT_EQ(terminations, 0) << "the older copy is the one to go";
    takeOver.handleTakeOver(QVariant(QStringLiteral("4800")), 4711);
    EXPECT_EQ(terminations, 1);
    takeOver.handleTakeOver(QVariant(QStringLiteral("5000")), 4711);
    EXPECT_EQ(terminations, 2) << "a copy no longer listed is taken at its word";
}

}  // namespace
