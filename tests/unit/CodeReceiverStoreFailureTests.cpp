#include <algorithm>

#include "tests/support/FileSizeLimit.h"
#include "tests/support/QStringPrinter.h"
#include "tests/unit/CodeReceiverTestFixture.h"

namespace {

using CodeReceiverStoreFailure = CodeReceiverTest;

// A full disk (here: a file size limit, which holds for root too): the file must not go on
// offering the code the new one replaces, and the code is written again once writing works.
TEST_F(CodeReceiverStoreFailure, AFailedSaveLeavesNoOtherCodeAndIsTriedAgainWhileValid) {
    make();
    putRecord(code("111111"));
    fetchNow();
    ASSERT_EQ(store->load()->code, "111111");

    actor.advance(2);
    putRecord(code("222222"));
    {
        const FileSizeLimit full(16);
        fetchNow();
        fetchNow();
    }
    EXPECT_EQ(receiver->latest()->code, "222222") << "published everywhere else all the same";
    EXPECT_EQ(pasteboard.string(Pasteboard::stringType), "222222");
    EXPECT_FALSE(store->load()) << "the file offered 111111 after 222222 arrived";
    const auto failures = std::count_if(log.lines.begin(), log.lines.end(), [](const auto& line) {
        return line.level == LogLevel::error &&
               line.message.startsWith("could not save the code for AutoFill: ");
    });
    EXPECT_EQ(failures, 1) << "tried again at the next fetch, and said once: "
                           << log.messages().join("\n").toStdString();
    ASSERT_TRUE(receiver->info().lastError);
    EXPECT_TRUE(receiver->info().lastError->contains(store->url()));

    const auto pastes = pasteboard.count;
    fetchNow();
    ASSERT_TRUE(store->load());
    EXPECT_EQ(store->load()->code, "222222");
    EXPECT_EQ(receiver->info().lastError, std::nullopt);
    EXPECT_TRUE(log.messages().contains("the code is saved for AutoFill again"));
    EXPECT_EQ(pasteboard.count, pastes) << "a held code is not published again";
}

}  // namespace
