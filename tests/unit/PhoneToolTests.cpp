#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "CloudSyncCrypto.h"
#include "FakeKeychain.h"
#include "Iso8601.h"
#include "LocalCloud.h"
#include "PendingCode.h"
#include "PhoneTool.h"

namespace {

const Instant kNow = *Iso8601::parse(u"2026-03-01T12:00:00Z") + std::chrono::milliseconds(400);

class PhoneToolTest : public testing::Test {
protected:
    int run(const QStringList& arguments, const QByteArray& input = {}) {
        out.clear();
        err.clear();
        PhoneTool tool(
            keychain, [] { return kNow; },
            {[input] { return input; }, [this](const QByteArray& bytes) { out += bytes; },
             [this](const QString& text) { err += text; }, stdoutIsTerminal, cloudRoot});
        return tool.run(arguments);
    }
    void storeKey(const QByteArray& key) {
        keychain.items.insert({"net.brontal.zorvik.sync", "sync-key"}, key);
    }
    QByteArray storedKey() const {
        return keychain.items.value({"net.brontal.zorvik.sync", "sync-key"});
    }

    QString database() const { return LocalCloud::privateDatabaseDirectory(cloudRoot); }
    CloudRecord pendingRecord() const {
        return LocalCloudDatabase::readRecord(database(), QStringLiteral("pending-code"));
    }

    FakeKeychain keychain;
    QByteArray out;
    QString err;
    bool stdoutIsTerminal = false;
    QTemporaryDir cloudParent;
    // The default cloud of these tests; it does not exist before a command makes it.
    QString cloudRoot = cloudParent.filePath(QStringLiteral("cloud"));
};

int modeOf(const QString& path) {
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0) {
        return -1;
    }
    return int(status.st_mode & 07777);
}

TEST_F(PhoneToolTest, GenerateRefusesToReplaceAKeyWithoutForce) {
    EXPECT_EQ(run({"key", "generate"}), 0);
    const QByteArray first = storedKey();
    EXPECT_EQ(first.size(), 32);
    EXPECT_EQ(run({"key", "generate"}), 1);
    EXPECT_TRUE(err.contains("--force"));
    EXPECT_EQ(storedKey(), first);
    EXPECT_EQ(run({"key", "generate", "--force"}), 0);
    EXPECT_NE(storedKey(), first);
}

TEST_F(PhoneToolTest, ImportExportAndDelete) {
    const QByteArray key(32, '\x5a');
    EXPECT_EQ(run({"key", "import"}, key.toBase64() + "\n"), 0);
    EXPECT_EQ(storedKey(), key);
    EXPECT_EQ(run({"key", "export"}), 0);
    EXPECT_EQ(out, key.toBase64() + "\n");
    EXPECT_EQ(run({"key", "delete"}), 0);
    EXPECT_TRUE(keychain.items.isEmpty());
    EXPECT_EQ(run({"key", "export"}), 1);
}

TEST_F(PhoneToolTest, ImportRejectsAnythingButThirtyTwoBytesInBase64) {
    for (const QByteArray& bad :
         {QByteArray(16, 'a').toBase64(), QByteArray("not base64!"), QByteArray()}) {
        EXPECT_EQ(run({"key", "import"}, bad), 2) << bad.constData();
        EXPECT_TRUE(keychain.items.isEmpty());
    }
}

TEST_F(PhoneToolTest, SealAppliesTheDefaultsAndOpensTheWayTheDesktopDoes) {
    storeKey(QByteArray(32, 'k'));
    ASSERT_EQ(run({"seal", "--account", "Work", "--code", "123456", "--service", "github"}), 0)
        << err.toStdString();
    const QByteArray blob = out;
    const PendingCode opened = PendingCode::open(blob, CloudSyncCrypto::loadSyncKey(keychain));
    EXPECT_EQ(opened.accountName, "Work");
    EXPECT_EQ(opened.code, "123456");
    EXPECT_EQ(opened.serviceID, "github");
    EXPECT_EQ(opened.fromDevice, "iPhone");
    EXPECT_FALSE(opened.accountID.isNull());
    EXPECT_EQ(opened.issuedAt, std::chrono::floor<std::chrono::seconds>(kNow));
    EXPECT_EQ(secondsBetween(opened.issuedAt, opened.expiresAt), 90);

    ASSERT_EQ(run({"open"}, blob), 0);
    EXPECT_EQ(PendingCode::decode(out), opened);
}

TEST_F(PhoneToolTest, SealWithEveryOptionAndBase64) {
    QTemporaryDir directory;
    const QString keyFile = directory.filePath("key");
    QFile file(keyFile);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(32, 'f'));
    file.close();
    ASSERT_EQ(
        run({"seal", "--account=Bank", "--code", "98765432", "--device", "Watch", "--account-id",
             "E621E1F8-C36C-495A-93FC-0C247A3E6E5F", "--issued", "2026-03-01T10:00:00Z",
             "--expires", "2026-03-01T11:00:00+01:00", "--key-file", keyFile, "--base64"}),
        0)
        << err.toStdString();
    ASSERT_TRUE(out.endsWith('\n'));
    const QByteArray base64Blob = out;
    ASSERT_EQ(run({"open", "--key-file", keyFile, "--base64"}, base64Blob), 0) << err.toStdString();
    const PendingCode opened = PendingCode::decode(out);
    EXPECT_EQ(opened.fromDevice, "Watch");
    EXPECT_FALSE(opened.serviceID);
    EXPECT_EQ(opened.accountID, QUuid::fromString(u"E621E1F8-C36C-495A-93FC-0C247A3E6E5F"));
    EXPECT_EQ(opened.expiresAt, *Iso8601::parse(u"2026-03-01T10:00:00Z"));

    ASSERT_EQ(run({"seal", "--account", "A", "--code", "1", "--ttl", "30", "--key-file", keyFile}),
              0);
    const PendingCode shortLived =
        PendingCode::open(out, *SymmetricKey::fromBytes(QByteArray(32, 'f')));
    EXPECT_EQ(secondsBetween(shortLived.issuedAt, shortLived.expiresAt), 30);
}

TEST_F(PhoneToolTest, BadInputIsOneClearLineAndExitTwoWithNothingWritten) {
    storeKey(QByteArray(32, 'k'));
    QTemporaryDir directory;
    const QString shortKey = directory.filePath("short");
    QFile file(shortKey);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(31, 's'));
    file.close();
    const QList<QStringList> badCalls{
        {"seal", "--code", "1"},
        {"seal", "--account", "A"},
        {"seal", "--account", "A", "--code", "1", "--issued", "yesterday"},
        {"seal", "--account", "A", "--code", "1", "--expires", "2026-03-01T12:00:00.5Z"},
        {"seal", "--account", "A", "--code", "1", "--ttl", "soon"},
        {"seal", "--account", "A", "--code", "1", "--ttl", "5", "--expires",
         "2026-03-01T12:00:00Z"},
        {"seal", "--account", "A", "--code", "1", "--account-id", "42"},
        {"seal", "--account", "A", "--code", "1", "--key-file", shortKey},
        {"seal", "--account", "A", "--code", "1", "--key-file", directory.filePath("missing")},
        {"seal", "--account", "A", "--code", "1", "--colour", "red"},
        {"seal", "--account"},
        {"open", "--key-file", shortKey},
        {"key", "rotate"},
        {"key"},
        {"launch"},
        {},
    };
    for (const QStringList& call : badCalls) {
        EXPECT_EQ(run(call), 2) << call.join(' ').toStdString();
        EXPECT_TRUE(out.isEmpty()) << call.join(' ').toStdString();
        EXPECT_FALSE(err.isEmpty()) << call.join(' ').toStdString();
    }
    keychain.items.clear();
    EXPECT_EQ(run({"seal", "--account", "A", "--code", "1"}), 2) << "no key in the keychain";
    EXPECT_TRUE(err.contains("no sync key"));
}

TEST_F(PhoneToolTest, RefusesToWriteABinaryBlobToATerminal) {
    storeKey(QByteArray(32, 'k'));
    stdoutIsTerminal = true;
    EXPECT_EQ(run({"seal", "--account", "A", "--code", "1"}), 2);
    EXPECT_TRUE(out.isEmpty());
    EXPECT_EQ(run({"seal", "--account", "A", "--code", "1", "--base64"}), 0);
}

TEST_F(PhoneToolTest, OpenReportsTheErrorTextAndExitsOne) {
    storeKey(QByteArray(32, 'k'));
    EXPECT_EQ(run({"open"}, QByteArray("ZRVK\x01", 5)), 1);
    EXPECT_EQ(err, QString::fromUtf8(
                       "The operation couldn\u2019t be completed. (PendingCodeError error 2.)\n"));
    EXPECT_TRUE(out.isEmpty());
    keychain.items.clear();
    EXPECT_EQ(run({"open"}, QByteArray("ZRVK\x01", 5) + QByteArray(40, 'x')), 1);
    EXPECT_EQ(err,
              QString::fromUtf8(
                  "The operation couldn\u2019t be completed. (CloudSyncCrypto.Error error 1.)\n"));
}

TEST_F(PhoneToolTest, SendSavesTheSealedCodeAsThePendingCodeRecord) {
    storeKey(QByteArray(32, 'k'));
    ASSERT_EQ(run({"send", "--account", "Work", "--code", "123456", "--service", "github",
                   "--expires", "2026-03-01T12:01:30Z"}),
              0)
        << err.toStdString();
    EXPECT_TRUE(out.isEmpty());
    const CloudRecord record = pendingRecord();
    EXPECT_EQ(record.recordName, "pending-code");
    EXPECT_EQ(record.recordType, "PendingCode");
    EXPECT_EQ(record.fields.size(), 2);
    ASSERT_TRUE(record.field<QByteArray>("blob"));
    const PendingCode opened = PendingCode::open(*record.field<QByteArray>("blob"),
                                                 CloudSyncCrypto::loadSyncKey(keychain));
    EXPECT_EQ(opened.code, "123456");
    EXPECT_EQ(opened.accountName, "Work");
    EXPECT_EQ(opened.serviceID, "github");
    EXPECT_EQ(opened.issuedAt, std::chrono::floor<std::chrono::seconds>(kNow));
    EXPECT_EQ(record.field<Instant>("expiresAt"), opened.expiresAt);
    EXPECT_EQ(opened.expiresAt, *Iso8601::parse(u"2026-03-01T12:01:30Z"));

    const QString file = LocalCloudDatabase::recordPath(database(), "pending-code");
    EXPECT_EQ(modeOf(file), 0600);
    EXPECT_EQ(modeOf(QFileInfo(file).path()), 0700);
    EXPECT_EQ(modeOf(cloudRoot), 0700);
    // The file is the web wire format, so a JSON reader finds the fields where the cloud has them.
    QFile json(file);
    ASSERT_TRUE(json.open(QIODevice::ReadOnly));
    const QByteArray content = json.readAll();
    EXPECT_TRUE(content.contains(R"("expiresAt":{"type":"TIMESTAMP","value":1772366490000})"))
        << content.constData();

    // A second send replaces the record in place.
    ASSERT_EQ(run({"send", "--account", "Work", "--code", "654321", "--ttl", "30"}), 0);
    const PendingCode second = PendingCode::open(*pendingRecord().field<QByteArray>("blob"),
                                                 CloudSyncCrypto::loadSyncKey(keychain));
    EXPECT_EQ(second.code, "654321");
    EXPECT_EQ(pendingRecord().field<Instant>("expiresAt"), second.expiresAt);
    EXPECT_EQ(QDir(QFileInfo(file).path()).entryList(QDir::Files | QDir::Hidden),
              QStringList{"pending-code.json"});
}

TEST_F(PhoneToolTest, SendCanLeaveOutTheExpiryFieldAndWriteToAnotherCloud) {
    QTemporaryDir other;
    const QString keyFile = other.filePath("key");
    QFile file(keyFile);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(32, 'f'));
    file.close();
    const QString otherCloud = other.filePath("elsewhere");
    ASSERT_EQ(run({"send", "--account", "A", "--code", "1", "--key-file", keyFile,
                   "--no-expires-field", "--cloud-dir", otherCloud}),
              0)
        << err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(cloudRoot));
    const CloudRecord record = LocalCloudDatabase::readRecord(
        LocalCloud::privateDatabaseDirectory(otherCloud), "pending-code");
    EXPECT_EQ(record.fields.keys(), QStringList{"blob"});
    EXPECT_EQ(PendingCode::open(*record.field<QByteArray>("blob"),
                                *SymmetricKey::fromBytes(QByteArray(32, 'f')))
                  .code,
              "1");
}

TEST_F(PhoneToolTest, SendThatCannotWriteTheCloudFailsWithTheReason) {
    storeKey(QByteArray(32, 'k'));
    QFile blocker(cloudRoot);
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    EXPECT_EQ(run({"send", "--account", "A", "--code", "1"}), 1);
    EXPECT_TRUE(err.contains(cloudRoot)) << err.toStdString();
}

TEST_F(PhoneToolTest, ClearDeletesTheRecordAndIsFineWithoutOne) {
    storeKey(QByteArray(32, 'k'));
    ASSERT_EQ(run({"send", "--account", "A", "--code", "1"}), 0);
    ASSERT_EQ(run({"clear"}), 0) << err.toStdString();
    EXPECT_THROW(pendingRecord(), CloudError);
    EXPECT_FALSE(QFileInfo::exists(LocalCloudDatabase::recordPath(database(), "pending-code")));
    ASSERT_EQ(run({"clear"}), 0);
    EXPECT_TRUE(err.contains("no record pending-code")) << err.toStdString();
    EXPECT_TRUE(out.isEmpty());
}

TEST_F(PhoneToolTest, AccountWritesTheStatusTheDesktopReads) {
    const QList<std::pair<QString, int>> statuses{
        {"available", 1}, {"no-account", 3}, {"restricted", 2}, {"temporarily-unavailable", 4},
        {"unknown", 0},   {"7", 7},          {"-1", -1}};
    for (const auto& [word, status] : statuses) {
        ASSERT_EQ(run({"account", word}), 0) << word.toStdString() << ": " << err.toStdString();
        EXPECT_EQ(LocalCloud::readAccountStatus(cloudRoot), status) << word.toStdString();
    }
    EXPECT_EQ(modeOf(LocalCloud::accountFilePath(cloudRoot)), 0600);
}

TEST_F(PhoneToolTest, ShowPrintsTheRecordAndSubscriptionsButNeverTheCode) {
    ASSERT_EQ(run({"show"}), 0) << err.toStdString();
    EXPECT_TRUE(out.contains("account status: 1 (available)")) << out.constData();
    EXPECT_TRUE(out.contains("record pending-code: none")) << out.constData();
    EXPECT_TRUE(out.contains("subscriptions: none")) << out.constData();

    storeKey(QByteArray(32, 'k'));
    ASSERT_EQ(
        run({"send", "--account", "Bank", "--code", "918273", "--expires", "2026-03-01T12:01:30Z"}),
        0);
    LocalCloudDatabase::writeSubscription(
        database(),
        {"pending-code-changes", "PendingCode",
         QuerySubscription::onRecordCreation | QuerySubscription::onRecordUpdate, true});
    ASSERT_EQ(run({"account", "no-account"}), 0);
    const QByteArray blob = *pendingRecord().field<QByteArray>("blob");

    ASSERT_EQ(run({"show"}), 0) << err.toStdString();
    EXPECT_TRUE(out.contains("account status: 3 (no-account)")) << out.constData();
    EXPECT_TRUE(out.contains("record pending-code (type PendingCode):")) << out.constData();
    EXPECT_TRUE(out.contains(QStringLiteral("BYTES      %1 bytes, base64 %2")
                                 .arg(blob.size())
                                 .arg(QString::fromLatin1(blob.toBase64()))
                                 .toUtf8()))
        << out.constData();
    EXPECT_TRUE(out.contains("TIMESTAMP  1772366490000 (2026-03-01T12:01:30Z)")) << out.constData();
    EXPECT_TRUE(out.contains("pending-code-changes: query on PendingCode, fires on create, update"))
        << out.constData();
    EXPECT_FALSE(out.contains("918273")) << "show opened the blob";
    EXPECT_FALSE(out.contains("Bank")) << "show opened the blob";
}

TEST_F(PhoneToolTest, ShowSaysWhatCannotBeReadAndExitsOne) {
    QDir().mkpath(LocalCloudDatabase::zoneDirectory(database()));
    QFile record(LocalCloudDatabase::recordPath(database(), "pending-code"));
    ASSERT_TRUE(record.open(QIODevice::WriteOnly));
    record.write(R"({"recordName":"pending-code","recordType":"PendingCode","fields":{"blob":)");
    record.close();
    EXPECT_EQ(run({"show"}), 1);
    EXPECT_TRUE(out.contains("record pending-code: unreadable: The record file"))
        << out.constData();
}

TEST_F(PhoneToolTest, BadInputToTheCloudCommandsWritesNothing) {
    storeKey(QByteArray(32, 'k'));
    const QList<QStringList> badCalls{
        {"send", "--code", "1"},
        {"send", "--account", "A"},
        {"send", "--account", "A", "--code", "1", "--base64"},
        {"send", "--account", "A", "--code", "1", "--cloud-dir", ""},
        {"send", "--account", "A", "--code", "1", "--cloud-dir"},
        {"send", "--account", "A", "--code", "1", "--ttl", "soon"},
        {"send", "--account", "A", "--code", "1", "--expires", "noon"},
        {"send", "--account", "A", "--code", "1", "--key-file", cloudParent.filePath("missing")},
        {"send", "--account", "A", "--code", "1", "now"},
        {"send", "--account", "A", "--code", "1", "--no-expires-field=yes"},
        {"clear", "pending-code"},
        {"clear", "--force"},
        {"account"},
        {"account", "available", "restricted"},
        {"account", "busy"},
        {"account", "1.5"},
        {"account", "99999999999"},
        {"account", "1", "--cloud-dir="},
        {"show", "everything"},
        {"show", "--verbose"},
    };
    for (const QStringList& call : badCalls) {
        EXPECT_EQ(run(call), 2) << call.join(' ').toStdString();
        EXPECT_TRUE(out.isEmpty()) << call.join(' ').toStdString();
        EXPECT_EQ(err.count(u'\n'), 1) << call.join(' ').toStdString() << ": " << err.toStdString();
        EXPECT_TRUE(err.startsWith("zorvik-phone: ")) << err.toStdString();
        EXPECT_FALSE(QFileInfo::exists(cloudRoot)) << call.join(' ').toStdString();
    }
}

TEST_F(PhoneToolTest, EveryCommandHasHelp) {
    for (const QStringList& call : QList<QStringList>{{"--help"},
                                                      {"key", "--help"},
                                                      {"seal", "--help"},
                                                      {"open", "-h"},
                                                      {"send", "--help"},
                                                      {"clear", "--help"},
                                                      {"account", "--help"},
                                                      {"show", "-h"}}) {
        EXPECT_EQ(run(call), 0);
        EXPECT_TRUE(out.startsWith("Usage: zorvik-phone")) << call.join(' ').toStdString();
    }
}

}  // namespace
