// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "platform/linux/QSettingsUserDefaults.h"
#include "shared/Iso8601.h"
#include "tests/support/FileMode.h"

namespace {

class UserDefaultsTest : public testing::Test {
protected:
    QTemporaryDir directory;
    QString path = directory.filePath("net.brontal.zorvik/ZorvikMac.conf");
};

TEST_F(UserDefaultsTest, RegisteredDefaultsAnswerOnlyForKeysNeverWritten) {
    QSettingsUserDefaults defaults(path);
    // Assigned in place: a braced list trips g++ 12's -Wmaybe-uninitialized at -O2.
    QHash<QString, UserDefaults::Value> registered;
    registered[QStringLiteral("notify")] = true;
    registered[QStringLiteral("pollInterval")] = 5.0;
    defaults.registerDefaults(registered);
    EXPECT_TRUE(defaults.boolForKey("notify"));
    EXPECT_EQ(defaults.doubleForKey("pollInterval"), 5.0);
    EXPECT_FALSE(defaults.boolForKey("setupCollapsed"));
    EXPECT_EQ(defaults.doubleForKey("missing"), 0.0);
    EXPECT_FALSE(defaults.stringForKey("missing"));
    defaults.setBool(false, "notify");
    EXPECT_FALSE(defaults.boolForKey("notify"));
    EXPECT_FALSE(QFile(path).readAll().contains("pollInterval")) << "defaults are never written";
}

// Text that looks like the file's own syntax is kept intact.
TEST_F(UserDefaultsTest, WritesReachTheFileAtOnceAndReadBackTyped) {
    const QString tricky = "@Variant(x) \"quoted\", [group]; a=b\\c \u00B7 \U0001F511";
    const Instant received =
        *Iso8601::parse(u"2026-03-01T12:00:00Z") + std::chrono::milliseconds(250);
    {
        QSettingsUserDefaults defaults(path);
        defaults.setBool(true, "firstRunDone");
        defaults.setDouble(30, "pollInterval");
        defaults.setString(tricky, "lastReceivedName");
        defaults.setDate(received, "lastReceivedAt");
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        EXPECT_TRUE(text.contains("lastReceivedAt=2026-03-01T12:00:00.250Z")) << text.constData();
        EXPECT_TRUE(text.contains("firstRunDone=true")) << text.constData();
    }
    QSettingsUserDefaults reopened(path);
    EXPECT_TRUE(reopened.boolForKey("firstRunDone"));
    EXPECT_EQ(reopened.doubleForKey("pollInterval"), 30.0);
    EXPECT_EQ(reopened.stringForKey("lastReceivedName"), tricky);
    EXPECT_EQ(reopened.dateForKey("lastReceivedAt"), received);
}

TEST_F(UserDefaultsTest, TheFileIsTheUsersAloneInAFolderOfTheirsEvenOneMadeOpenBefore) {
    const QString folder = directory.filePath("net.brontal.zorvik");
    {
        QSettingsUserDefaults defaults(path);
        defaults.setString("me@example.com", "iCloudAccount");
    }
    EXPECT_EQ(std::pair(modeOf(path), modeOf(folder)), std::pair(0600, 0700));
    // As an older version left them.
    ASSERT_TRUE(QFile::setPermissions(folder, QFileDevice::Permissions(0x7755)));
    ASSERT_TRUE(QFile::setPermissions(path, QFileDevice::Permissions(0x6644)));
    ASSERT_EQ(modeOf(path), 0644);
    QSettingsUserDefaults reopened(path);
    reopened.setBool(true, "firstRunDone");
    EXPECT_EQ(std::pair(modeOf(path), modeOf(folder)), std::pair(0600, 0700));
    EXPECT_EQ(reopened.stringForKey("iCloudAccount"), "me@example.com");
}

TEST_F(UserDefaultsTest, ValuesOfAnotherTypeReadAsAbsentFalseOrZero) {
    QSettingsUserDefaults defaults(path);
    defaults.setString("soon", "pollInterval");
    defaults.setString("Work", "notify");
    defaults.setString("yesterday", "lastReceivedAt");
    defaults.setDouble(2.5, "lastReceivedName");
    EXPECT_EQ(defaults.doubleForKey("pollInterval"), 0.0);
    EXPECT_FALSE(defaults.boolForKey("notify"));
    EXPECT_FALSE(defaults.dateForKey("lastReceivedAt"));
    EXPECT_FALSE(defaults.dateForKey("lastReceivedName"));
    defaults.setString("2026-03-01T12:00:00", "lastReceivedAt");  // no zone: not ours
    EXPECT_FALSE(defaults.dateForKey("lastReceivedAt"));
    defaults.setDouble(1, "notify");
    EXPECT_TRUE(defaults.boolForKey("notify"));
    defaults.setBool(true, "pollInterval");
    EXPECT_EQ(defaults.doubleForKey("pollInterval"), 1.0);
}

}  // namespace
