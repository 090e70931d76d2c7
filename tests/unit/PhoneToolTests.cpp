#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "CloudSyncCrypto.h"
#include "FakeKeychain.h"
#include "Iso8601.h"
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
             [this](const QString& text) { err += text; }, stdoutIsTerminal});
        return tool.run(arguments);
    }
    void storeKey(const QByteArray& key) {
        keychain.items.insert({"net.brontal.zorvik.sync", "sync-key"}, key);
    }
    QByteArray storedKey() const {
        return keychain.items.value({"net.brontal.zorvik.sync", "sync-key"});
    }

    FakeKeychain keychain;
    QByteArray out;
    QString err;
    bool stdoutIsTerminal = false;
};

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

TEST_F(PhoneToolTest, EveryCommandHasHelp) {
    for (const QStringList& call :
         QList<QStringList>{{"--help"}, {"key", "--help"}, {"seal", "--help"}, {"open", "-h"}}) {
        EXPECT_EQ(run(call), 0);
        EXPECT_TRUE(out.startsWith("Usage: zorvik-phone")) << call.join(' ').toStdString();
    }
}

}  // namespace
