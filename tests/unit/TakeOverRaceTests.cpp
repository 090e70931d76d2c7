#include <gtest/gtest.h>

#include "FakeDistributedNotificationCenter.h"
#include "FakeRunningApplications.h"
#include "ManualMainActor.h"
#include "RecordingSystemLog.h"
#include "TakeOver.h"

// Copies started at the same moment see each other running; all of them must agree on the one
// that stays, by its start and then its process identifier.
namespace {

class TakeOverRace : public testing::Test {
protected:
    TakeOver make() {
        return TakeOver(notices, applications, {"1.0", "1", "6.1.0", "net.brontal.zorvik"}, log,
                        [this] { ++terminations; });
    }

    ManualMainActor actor;
    FakeDistributedNotificationCenter notices{actor};
    FakeRunningApplications applications;
    RecordingSystemLog log;
    int terminations = 0;
};

TEST_F(TakeOverRace, OnlyTheCopyThatStartedLastStays) {
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
        EXPECT_EQ(applications.terminated, c.terminated);
        EXPECT_EQ(notices.posted.size(), c.terminated.isEmpty() ? 0 : 1);
    }
    EXPECT_TRUE(log.messages().contains(
        "Zorvik: a newer copy (pid 4700) is starting as well; this copy quits"));
}

TEST_F(TakeOverRace, ANoticeFromAnOlderCopyIsIgnored) {
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
