// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <ostream>
#include <utility>

#include "platform/linux/desktop/ShownNotificationsFile.h"
#include "tests/support/FileMode.h"
#include "tests/support/QStringPrinter.h"

void PrintTo(const ShownNotification& shown, std::ostream* out) {
    *out << shown.server.toStdString() << '#' << shown.id;
}

namespace {

// A record someone else left, or half-written by hand, names no notification it cannot name
// for sure: the next start would close whatever such an entry points at.
TEST(ShownNotificationsFile, LoadKeepsOnlyEntriesWithAServerAndAValidId) {
    QTemporaryDir directory;
    const ShownNotificationsFile record(directory.filePath("shown.json"));
    const std::pair<QByteArray, QList<ShownNotification>> cases[] = {
        {R"({"notifications":[{"server":":1.7","id":12},{"server":":1.7","id":0},)"
         R"({"server":":1.7","id":-3},{"server":":1.7","id":4294967296},{"id":5},)"
         R"({"server":"","id":5},{"server":7,"id":5},{"server":":1.7","id":"5"},)"
         R"({"server":":1.9","id":4294967295}]})",
         {{":1.7", 12}, {":1.9", 4294967295u}}},
        {R"({"notifications":{"server":":1.7","id":5}})", {}},
        {"not json", {}},
        {"", {}},
    };
    for (const auto& [text, expected] : cases) {
        QFile file(record.path());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
        file.close();
        EXPECT_EQ(record.load(), expected) << text.toStdString();
    }
    QFile::remove(record.path());
    EXPECT_TRUE(record.load().isEmpty()) << "a missing file";
}

TEST(ShownNotificationsFile, SaveWritesOwnerOnlyAndAnEmptyListDeletes) {
    QTemporaryDir home;
    const QString directory = home.filePath("runtime/app/group");
    const ShownNotificationsFile record(directory + "/shown.json");
    const QList<ShownNotification> shown{{":1.7", 12}, {":1.7", 13}};
    record.save(shown);
    EXPECT_EQ(record.load(), shown);
    EXPECT_EQ(modeOf(record.path()), 0600);
    EXPECT_EQ(modeOf(directory), 0700);
    record.save({});
    EXPECT_FALSE(QFile::exists(record.path()));
}

}  // namespace
