// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "ZorvikMac/CodeIntake/CloudSyncCrypto.h"
#include "ZorvikMac/CodeIntake/PendingCode.h"
#include "platform/linux/cloud/LocalCloud.h"
#include "shared/Iso8601.h"
#include "tests/support/FakeKeychain.h"
#include "tests/support/FileMode.h"
#include "tools/zorvik-phone/PhoneTool.h"

namespace {

const Instant kNow = *Iso8601::parse(u"2026-03-01T12:00:00Z") + std::chrono::milliseconds(400);
const QByteArray kKey(32, 'k');

PendingCode openBlob(const std::optional<QByteArray>& blob) {
    return PendingCode::open(blob.value_or(QByteArray()), *SymmetricKey::fromBytes(kKey));
}

class PhoneToolTest : public testing::Test {
protected:
    // Runs the command line `line`, split at spaces.
    int run(const QString& line, const QByteArray& input = {}) {
        out.clear();
        err.clear();
        PhoneTool tool(
            keychain, [] { return kNow; },
            {[input] { return input; }, [this](const QByteArray& bytes) { out += bytes; },
             [this](const QString& text) { err += text; }, stdoutIsTerminal, cloudRoot});
        return tool.run(line.split(u' ', Qt::SkipEmptyParts));
    }
    void storeKey() { keychain.items.insert({"net.brontal.zorvik.sync", "sync-key"}, kKey); }
    QByteArray storedKey() const {
        return keychain.items.value({"net.brontal.zorvik.sync", "sync-key"});
    }
    QString writeFile(const QString& path, const QByteArray& content) {
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
        return path;
    }
    QString database() const { return LocalCloud::privateDatabaseDirectory(cloudRoot); }
    CloudRecord pendingRecord() const {
        return LocalCloudDatabase::readRecord(database(), QStringLiteral("pending-code"));
    }

    FakeKeychain keychain;
    QByteArray out;
    QString err;
    bool stdoutIsTerminal = false;
    QTemporaryDir files;
    // The key in a file, for --key-file.
    QString keyFile = writeFile(files.filePath("key"), kKey);
    // The default cloud of these tests; it does not exist before a command makes it.
    QString cloudRoot = files.filePath(QStringLiteral("cloud"));
};

TEST_F(PhoneToolTest, KeyCommandsManageTheSyncKeyAndReplaceItOnlyWithForce) {
    EXPECT_EQ(run("key generate"), 0);
    const QByteArray first = storedKey();
    EXPECT_EQ(first.size(), 32);
    EXPECT_EQ(run("key generate"), 1);
    EXPECT_TRUE(err.contains("--force"));
    EXPECT_EQ(storedKey(), first);
    EXPECT_EQ(run("key generate --force"), 0);
    EXPECT_NE(storedKey(), first);

    EXPECT_EQ(run("key delete"), 0);
    EXPECT_TRUE(keychain.items.isEmpty());
    EXPECT_EQ(run("key export"), 1);
    for (const QByteArray& bad :
         {kKey.left(16).toBase64(), QByteArray("not base64!"), QByteArray()}) {
        EXPECT_EQ(run("key import", bad), 2) << bad.constData();
        EXPECT_TRUE(keychain.items.isEmpty());
    }
    EXPECT_EQ(run("key import", kKey.toBase64() + "\n"), 0);
    EXPECT_EQ(run("key export"), 0);
    EXPECT_EQ(out, kKey.toBase64() + "\n");
}

TEST_F(PhoneToolTest, SealAppliesTheDefaultsOrEveryOptionAndOpensTheWayTheDesktopDoes) {
    storeKey();
    ASSERT_EQ(run("seal --account Work --code 123456 --service github"), 0) << err.toStdString();
    const QByteArray blob = out;
    const PendingCode opened = openBlob(blob);
    const Instant issued = std::chrono::floor<std::chrono::seconds>(kNow);
    EXPECT_FALSE(opened.accountID.isNull());
    EXPECT_EQ(opened, (PendingCode{opened.accountID, "Work", "github", "123456", issued,
                                   addingSeconds(issued, 90), "iPhone"}));

    ASSERT_EQ(run("open", blob), 0);
    EXPECT_EQ(PendingCode::decode(out), opened);

    keychain.items.clear();
    ASSERT_EQ(run("seal --account=Bank --code 98765432 --device Watch --account-id "
                  "E621E1F8-C36C-495A-93FC-0C247A3E6E5F --issued 2026-03-01T10:00:00Z --expires "
                  "2026-03-01T11:00:00+01:00 --base64 --key-file " +
                  keyFile),
              0)
        << err.toStdString();
    const QByteArray base64Blob = out;
    ASSERT_TRUE(base64Blob.endsWith('\n'));
    ASSERT_EQ(run("open --base64 --key-file " + keyFile, base64Blob), 0) << err.toStdString();
    const Instant ten = *Iso8601::parse(u"2026-03-01T10:00:00Z");
    EXPECT_EQ(PendingCode::decode(out),
              (PendingCode{QUuid::fromString(u"E621E1F8-C36C-495A-93FC-0C247A3E6E5F"), "Bank",
                           std::nullopt, "98765432", ten, ten, "Watch"}));
}

TEST_F(PhoneToolTest, OpenReportsTheErrorTextAndExitsOne) {
    storeKey();
    EXPECT_EQ(run("open", "ZRVK\x01"), 1);
    EXPECT_TRUE(out.isEmpty());
    EXPECT_EQ(err, QString::fromUtf8(
                       "The operation couldn\u2019t be completed. (PendingCodeError error 2.)\n"));
    keychain.items.clear();
    EXPECT_EQ(run("open", QByteArray("ZRVK\x01") + QByteArray(40, 'x')), 1);
    EXPECT_EQ(err, "the sync key is not in the keyring yet: pair with your phone\n");
}

TEST_F(PhoneToolTest, BadInputIsOneClearLineAndExitTwoWithNothingWritten) {
    storeKey();
    writeFile(files.filePath("short"), kKey.left(31));
    // Command lines, split at "; ". DIR/short is a key file one byte short, DIR/missing no file.
    const QStringList badCalls =
        QStringLiteral(
            "seal --code 1; seal --account; seal --account A --code 1 --issued yesterday; "
            "seal --account A --code 1 --expires 2026-03-01T12:00:00.5Z; "
            "seal --account A --code 1 --ttl 5 --expires 2026-03-01T12:00:00Z; "
            "seal --account A --code 1 --account-id 42; seal --account A --code 1 --colour red; "
            "seal --account A --code 1 --key-file DIR/short; open --key-file DIR/short; "
            "key; key rotate; launch; send --account A; send --account A --code 1 --base64; "
            "send --account A --code 1 --cloud-dir=; send --account A --code 1 --ttl soon; "
            "send --account A --code 1 --key-file DIR/missing; send --account A --code 1 now; "
            "send --account A --code 1 --no-expires-field=yes; clear pending-code; account; "
            "account available restricted; account busy; account 1.5; account 99999999999; "
            "account 1 --cloud-dir=; show everything")
            .split(QStringLiteral("; "));
    for (QString call : badCalls) {
        EXPECT_EQ(run(call.replace("DIR", files.path())), 2) << call.toStdString();
        EXPECT_TRUE(out.isEmpty()) << call.toStdString();
        EXPECT_TRUE(err.startsWith("zorvik-phone: ") && err.count(u'\n') == 1)
            << call.toStdString() << ": " << err.toStdString();
        EXPECT_FALSE(QFileInfo::exists(cloudRoot)) << call.toStdString();
    }
    EXPECT_EQ(run(""), 2);
    EXPECT_TRUE(err.startsWith("Usage: zorvik-phone"));
    stdoutIsTerminal = true;  // a binary blob to a terminal
    EXPECT_EQ(run("seal --account A --code 1"), 2);
    EXPECT_TRUE(out.isEmpty());
    EXPECT_EQ(run("seal --account A --code 1 --base64"), 0);
    keychain.items.clear();
    EXPECT_EQ(run("seal --account A --code 1 --base64"), 2) << "no key in the keychain";
    EXPECT_TRUE(err.contains("no sync key"));
}

TEST_F(PhoneToolTest, SendSavesTheSealedCodeAsThePendingCodeRecordAndClearDeletesIt) {
    storeKey();
    ASSERT_EQ(run("send --account Work --code 123456 --expires 2026-03-01T12:01:30Z"), 0)
        << err.toStdString();
    EXPECT_TRUE(out.isEmpty());
    CloudRecord record = pendingRecord();
    EXPECT_EQ(record.recordType, "PendingCode");
    EXPECT_EQ(record.fields.size(), 2);
    const PendingCode opened = openBlob(record.field<QByteArray>("blob"));
    EXPECT_EQ(opened.code, "123456");
    EXPECT_EQ(opened.expiresAt, *Iso8601::parse(u"2026-03-01T12:01:30Z"));
    EXPECT_EQ(record.field<Instant>("expiresAt"), opened.expiresAt);
    EXPECT_EQ(modeOf(LocalCloudDatabase::recordPath(database(), "pending-code")), 0600);
    EXPECT_EQ(modeOf(cloudRoot), 0700);

    // A second send replaces the record.
    ASSERT_EQ(run("send --account Work --code 654321 --ttl 30"), 0);
    record = pendingRecord();
    EXPECT_EQ(openBlob(record.field<QByteArray>("blob")).code, "654321");
    EXPECT_EQ(record.field<Instant>("expiresAt"),
              std::chrono::floor<std::chrono::seconds>(kNow) + std::chrono::seconds(30));
    EXPECT_EQ(
        QDir(LocalCloudDatabase::zoneDirectory(database())).entryList(QDir::Files | QDir::Hidden),
        QStringList{"pending-code.json"});

    ASSERT_EQ(run("clear"), 0) << err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(LocalCloudDatabase::recordPath(database(), "pending-code")));
    ASSERT_EQ(run("clear"), 0) << "no record to clear is fine";
    EXPECT_TRUE(err.contains("no record pending-code")) << err.toStdString();
}

TEST_F(PhoneToolTest, SendCanLeaveOutTheExpiryFieldWriteToAnotherCloudAndSayWhyItCannotWrite) {
    const QString otherCloud = files.filePath("elsewhere");
    ASSERT_EQ(run("send --account A --code 1 --no-expires-field --key-file " + keyFile +
                  " --cloud-dir " + otherCloud),
              0)
        << err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(cloudRoot));
    const CloudRecord record = LocalCloudDatabase::readRecord(
        LocalCloud::privateDatabaseDirectory(otherCloud), "pending-code");
    EXPECT_EQ(record.fields.keys(), QStringList{"blob"});
    EXPECT_EQ(openBlob(record.field<QByteArray>("blob")).code, "1");

    storeKey();
    writeFile(cloudRoot, "a file where the cloud directory belongs");
    EXPECT_EQ(run("send --account A --code 1"), 1);
    EXPECT_TRUE(err.contains(cloudRoot)) << err.toStdString();
}

TEST_F(PhoneToolTest, AccountWritesTheStatusTheDesktopReads) {
    const QList<std::pair<QString, int>> statuses{
        {"available", 1}, {"no-account", 3}, {"restricted", 2}, {"temporarily-unavailable", 4},
        {"unknown", 0},   {"7", 7},          {"-1", -1}};
    for (const auto& [word, status] : statuses) {
        ASSERT_EQ(run("account " + word), 0) << word.toStdString() << ": " << err.toStdString();
        EXPECT_EQ(LocalCloud::readAccountStatus(cloudRoot), status) << word.toStdString();
    }
}

TEST_F(PhoneToolTest, ShowPrintsTheCloudButNeverTheCodeAndExitsOneOnWhatItCannotRead) {
    ASSERT_EQ(run("show"), 0) << err.toStdString();
    for (const char* line :
         {"account status: 1 (available)", "record pending-code: none", "subscriptions: none"}) {
        EXPECT_TRUE(out.contains(line)) << out.constData();
    }

    storeKey();
    ASSERT_EQ(run("send --account Bank --code 918273 --expires 2026-03-01T12:01:30Z"), 0);
    LocalCloudDatabase::writeSubscription(database(), {"pending-code-changes", "PendingCode"});
    ASSERT_EQ(run("account no-account"), 0);
    const QByteArray blob = *pendingRecord().field<QByteArray>("blob");
    ASSERT_EQ(run("show"), 0) << err.toStdString();
    for (const QString& line :
         {QStringLiteral("account status: 3 (no-account)"),
          QStringLiteral("record pending-code (type PendingCode):"),
          QStringLiteral("BYTES      %1 bytes, base64 %2")
              .arg(blob.size())
              .arg(QString::fromLatin1(blob.toBase64())),
          QStringLiteral("TIMESTAMP  1772366490000 (2026-03-01T12:01:30Z)"),
          QStringLiteral("pending-code-changes: query on PendingCode, fires on create, update")}) {
        EXPECT_TRUE(out.contains(line.toUtf8())) << out.constData();
    }
    EXPECT_FALSE(out.contains("918273") || out.contains("Bank")) << "show opened the blob";

    writeFile(LocalCloudDatabase::recordPath(database(), "pending-code"),
              R"({"recordName":"pending-code","recordType":"PendingCode","fields":{"blob":)");
    EXPECT_EQ(run("show"), 1);
    EXPECT_TRUE(out.contains("record pending-code: unreadable: The record file"))
        << out.constData();
}

TEST_F(PhoneToolTest, EveryCommandHasHelp) {
    for (const QString command :
         {"", "key ", "seal ", "open ", "send ", "clear ", "account ", "show "}) {
        for (const QString flag : {"--help", "-h"}) {
            EXPECT_EQ(run(command + flag), 0);
            EXPECT_TRUE(out.startsWith(("Usage: zorvik-phone " + command).toUtf8()))
                << (command + flag).toStdString();
        }
    }
}

}  // namespace
