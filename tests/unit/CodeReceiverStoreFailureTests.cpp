#include <QFile>
#include <QFileInfo>
#include <algorithm>

#include "AtomicFile.h"
#include "CodeReceiverTestFixture.h"

namespace {

using CodeReceiverStoreFailure = CodeReceiverTest;

// A container the app can no longer write in (its permissions changed, the disk is full): the
// file must not go on offering the code the new one replaces, and the code is written again
// once writing works.
TEST_F(CodeReceiverStoreFailure, AFailedSaveLeavesNoOtherCodeAndIsTriedAgainWhileValid) {
    make();
    putRecord(code("111111"));
    fetchNow();
    ASSERT_EQ(store->load()->code, "111111");
    const QString container = QFileInfo(store->url()).path();
    ASSERT_TRUE(QFile::setPermissions(container, QFileDevice::ReadOwner | QFileDevice::ExeOwner));

    actor.advance(2);
    putRecord(code("222222"));
    fetchNow();
    EXPECT_EQ(receiver->latest()->code, "222222") << "published everywhere else all the same";
    EXPECT_EQ(pasteboard.string(Pasteboard::stringType), "222222");
    EXPECT_FALSE(store->load()) << "the file offered 111111 after 222222 arrived";
    const auto failure = std::find_if(log.lines.begin(), log.lines.end(), [](const auto& line) {
        return line.message.startsWith("could not save the code for AutoFill: ");
    });
    ASSERT_NE(failure, log.lines.end());
    EXPECT_EQ(failure->level, LogLevel::error);
    EXPECT_TRUE(failure->message.contains(store->url()));
    EXPECT_EQ(receiver->info().lastError, failure->message);

    fetchNow();
    EXPECT_EQ(std::count_if(log.lines.begin(), log.lines.end(),
                            [](const auto& line) { return line.level == LogLevel::error; }),
              1)
        << "tried again at the next fetch, and said once";
    ASSERT_TRUE(QFile::setPermissions(container, AtomicFile::ownerOnlyFolder));
    const auto pastes = pasteboard.count;
    fetchNow();
    ASSERT_TRUE(store->load());
    EXPECT_EQ(store->load()->code, "222222");
    EXPECT_EQ(receiver->info().lastError, std::nullopt);
    EXPECT_EQ(log.lines.back().message, "fetch: code for Work from iPhone");
    EXPECT_TRUE(log.messages().contains("the code is saved for AutoFill again"));
    EXPECT_EQ(pasteboard.count, pastes) << "an old code is not published again";
}

}  // namespace
