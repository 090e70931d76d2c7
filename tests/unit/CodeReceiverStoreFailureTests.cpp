// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/FileSizeLimit.h"
#include "tests/support/QStringPrinter.h"
#include "tests/unit/CodeReceiverTestFixture.h"

namespace {

using CodeReceiverStoreFailure = CodeReceiverTest;

// A full disk (a file size limit, which holds for root too): the code is published everywhere
// else, AutoFill no longer offers the code it replaces, and the save is tried at every fetch.
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
    EXPECT_EQ(latestCode(), "222222") << "published everywhere else all the same";
    EXPECT_FALSE(store->load()) << "the file still offers " << store->load()->code.toStdString();
    EXPECT_EQ(pasteboard.string(Pasteboard::stringType), "222222");
    const QStringList errors = errorLines();
    ASSERT_EQ(errors.size(), 1) << "tried again at the next fetch, and said once";
    EXPECT_TRUE(errors[0].startsWith("could not save the code for AutoFill: "));
    ASSERT_TRUE(receiver->info().lastError);
    EXPECT_TRUE(receiver->info().lastError->contains(store->url()));

    const auto pastes = pasteboard.count;
    fetchNow();
    EXPECT_EQ(receiver->info().lastError, std::nullopt);
    EXPECT_EQ(pasteboard.count, pastes) << "a held code is not published again";
}

}  // namespace
