// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>

#include "tests/support/FileSizeLimit.h"
#include "tests/support/QStringPrinter.h"
#include "tests/unit/CodeReceiverTestFixture.h"

namespace {

using CodeReceiverStoreFailure = CodeReceiverTest;

// A full disk (here: a file size limit, which holds for root too): the code is published
// everywhere else, AutoFill no longer offers the code it replaces, and its save is tried again
// at every fetch while it is valid.
TEST_F(CodeReceiverStoreFailure, AFailedSaveLeavesNoOtherCodeAndIsTriedAgainWhileValid) {
    make();
    putRecord(code("111111"));
    fetchNow();
    ASSERT_TRUE(store->load());
    putRecord(code("222222"));
    {
        const FileSizeLimit full(16);
        fetchNow();
        fetchNow();
    }
    EXPECT_EQ(receiver->latest()->code, "222222") << "published everywhere else all the same";
    EXPECT_FALSE(store->load()) << "the file still offers " << store->load()->code.toStdString();
    EXPECT_EQ(pasteboard.string(Pasteboard::stringType), "222222");
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
    EXPECT_EQ(receiver->info().lastError, std::nullopt);
    EXPECT_EQ(pasteboard.count, pastes) << "a held code is not published again";
}

}  // namespace
