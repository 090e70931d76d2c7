// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/RemoteNotifications.h"
#include "platform/linux/QtMainActor.h"
#include "platform/linux/cloud/CloudRecordCoding.h"
#include "platform/linux/cloud/LocalCloud.h"
#include "tests/support/FileMode.h"
#include "tests/support/SessionProcess.h"

namespace {

using std::chrono::milliseconds;
using Strings = std::vector<std::string>;

QByteArray recordFileContent(const QString& name, const QString& type, const QByteArray& blob) {
    return CloudRecordCoding::encodeRecordFile({name, type, {{"blob", blob}}});
}

QVariantMap queryOf(const QVariantMap& push) {
    return push["ck"].toMap()["qry"].toMap();
}

class LocalCloudTest : public testing::Test {
protected:
    LocalCloudTest() {
        cloud.remoteNotifications().setHandlers({
            [this] { ++registrations; },
            [this](const QString& error) { registrationFailures.append(error); },
            [this](const QVariantMap& userInfo) { pushes.push_back(userInfo); },
        });
    }
    QString zone() const { return root + "/private/_defaultZone"; }
    QString recordFile(const QString& name) const { return zone() + u'/' + name + ".json"; }

    void writeFile(const QString& path, const QByteArray& content) {
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
        ASSERT_EQ(file.write(content), content.size());
    }
    // The way zorvik-phone replaces a record: a temporary file beside it, then rename().
    void writeAtomically(const QString& name, const QByteArray& content) {
        const QString temporary = zone() + "/." + name + ".json.tmp";
        writeFile(temporary, content);
        ASSERT_EQ(::rename(QFile::encodeName(temporary).constData(),
                           QFile::encodeName(recordFile(name)).constData()),
                  0);
    }
    void writePendingCode(const QByteArray& blob) {
        writeAtomically("pending-code", recordFileContent("pending-code", "PendingCode", blob));
    }

    // Makes the call and waits for its answer, which must not come inline.
    template <typename Answer, typename Call>
    Answer awaitAnswer(Call call) {
        std::optional<Answer> answer;
        call([&](Answer result) { answer = std::move(result); });
        EXPECT_FALSE(answer) << "answered inline";
        EXPECT_TRUE(runEventsUntil([&] { return answer.has_value(); }));
        return answer.value_or(CloudError(-1, "no answer"));
    }
    std::variant<CloudRecord, CloudError> fetch(const QString& name) {
        return awaitAnswer<std::variant<CloudRecord, CloudError>>(
            [&](auto answer) { cloud.privateCloudDatabase().fetchRecord(name, answer); });
    }
    CloudError fetchError(const QString& name) { return std::get<CloudError>(fetch(name)); }
    std::optional<CloudError> save(const QuerySubscription& subscription) {
        return awaitAnswer<std::optional<CloudError>>(
            [&](auto done) { cloud.privateCloudDatabase().saveSubscription(subscription, done); });
    }
    std::variant<int, CloudError> accountStatus() {
        return awaitAnswer<std::variant<int, CloudError>>(
            [&](auto answer) { cloud.accountStatus(answer); });
    }

    void registerForPushes() {
        cloud.remoteNotifications().registerForRemoteNotifications();
        EXPECT_EQ(registrations, 0) << "answered inline";
        ASSERT_TRUE(runEventsUntil([this] { return registrations == 1; }));
        ASSERT_TRUE(cloud.remoteNotifications().isRegisteredForRemoteNotifications());
    }
    void subscribeAndRegister() {
        ASSERT_FALSE(save({"pending-code-changes", "PendingCode"}));
        registerForPushes();
    }
    bool waitForPushes(std::size_t count) {
        return runEventsUntil([&] { return pushes.size() == count; });
    }
    // Pushes arrive in the order of the writes, so once the push of a marker record written last
    // is here, any push of an earlier write is too. Drops the marker's push.
    void writeMarkerAndWaitForItsPush() {
        ASSERT_FALSE(save({"markers", "Marker"}));
        const auto isMarker = [](const QVariantMap& push) {
            return queryOf(push).value("rid") == "marker";
        };
        writeAtomically("marker", recordFileContent("marker", "Marker", "m"));
        ASSERT_TRUE(
            runEventsUntil([&] { return std::any_of(pushes.begin(), pushes.end(), isMarker); }));
        pushes.erase(std::remove_if(pushes.begin(), pushes.end(), isMarker), pushes.end());
    }
    // "subscription reason record" of each push.
    Strings pushSummaries() const {
        Strings all;
        for (const QVariantMap& push : pushes) {
            const QVariantMap q = queryOf(push);
            all.push_back(QStringLiteral("%1 %2 %3")
                              .arg(q["sid"].toString(), q["fo"].toString(), q["rid"].toString())
                              .toStdString());
        }
        return all;
    }

    QTemporaryDir directory;
    QtMainActor actor;
    QString root = directory.filePath("cloud");
    LocalCloud cloud{actor, root};
    int registrations = 0;
    QStringList registrationFailures;
    std::vector<QVariantMap> pushes;
};

TEST_F(LocalCloudTest, FetchErrorsSayWhatIsWrong) {
    EXPECT_EQ(fetchError("pending-code"), CloudError(CloudError::unknownItem, "Record not found"));
    writeFile(root + "/private/escaped.json", recordFileContent("escaped", "PendingCode", "x"));
    for (const char* unsafe : {"../escaped", ".hidden", ""}) {
        EXPECT_EQ(fetchError(unsafe).code(), CloudError::invalidArguments) << unsafe;
    }
    // Malformed and unreadable files are internal errors that name the file and the problem.
    const auto expectInternalError = [&](const QString& name, const QString& mention) {
        const CloudError error = fetchError(name);
        const QString description = error.localizedDescription();
        EXPECT_EQ(error.code(), CloudError::internalError);
        EXPECT_TRUE(description.contains(recordFile(name)) && description.contains(mention))
            << description.toStdString() << " should mention " << mention.toStdString();
    };
    for (const auto& [content, mention] : QList<std::pair<QByteArray, QString>>{
             {"", "not JSON"},
             {R"({"recordName":"pending-code","recordType":"PendingCode",
                  "fields":{"blob":{"type":"BYTES","value":"not base64!"}}})",
              "\"blob\""},
             {recordFileContent("other-code", "PendingCode", {}), "other-code"}}) {
        writeFile(recordFile("pending-code"), content);
        expectInternalError("pending-code", mention);
    }
    QDir().mkpath(recordFile("folder"));
    expectInternalError("folder", "not a regular file");
    if (::geteuid() != 0) {  // root reads whatever the mode says
        writeFile(recordFile("locked"), "{}");
        ASSERT_EQ(::chmod(QFile::encodeName(recordFile("locked")).constData(), 0), 0);
        expectInternalError("locked", "Permission denied");
    }
}

TEST_F(LocalCloudTest, SavedSubscriptionIsItsWireFormASecondSaveReplacesItAndFailuresAnswer) {
    ASSERT_FALSE(save({"pending-code-changes", "PendingCode"}));
    const QString path = root + "/private/subscriptions/pending-code-changes.json";
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(QJsonDocument::fromJson(file.readAll()),
              QJsonDocument::fromJson(R"({"subscriptionID":"pending-code-changes",
                  "subscriptionType":"query","query":{"recordType":"PendingCode"},
                  "firesOn":["create","update"],"zoneID":{"zoneName":"_defaultZone"},
                  "notificationInfo":{"shouldSendContentAvailable":true}})"));
    EXPECT_EQ(modeOf(path), 0600);
    EXPECT_EQ(modeOf(QFileInfo(path).path()), 0700);

    // Saved again unchanged: the file is left alone, unless others may read it.
    const auto inode = [&] {
        struct stat status {};
        return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_ino : 0;
    };
    const auto first = inode();
    ASSERT_FALSE(save({"pending-code-changes", "PendingCode"}));
    EXPECT_EQ(inode(), first);
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
    ASSERT_FALSE(save({"pending-code-changes", "PendingCode"}));
    EXPECT_NE(inode(), first);
    EXPECT_EQ(modeOf(path), 0600);

    const QuerySubscription changed{
        "pending-code-changes", "OtherCode",
        QuerySubscription::onRecordUpdate | QuerySubscription::onRecordDeletion, false};
    ASSERT_FALSE(save(changed));
    EXPECT_EQ(LocalCloudDatabase::readSubscriptions(root + "/private").subscriptions,
              QList{changed});
    EXPECT_EQ(QDir(QFileInfo(path).path()).entryList(QDir::Files | QDir::Hidden).size(), 1);

    // What cannot be written answers an error.
    EXPECT_EQ(save({"../escape", "PendingCode"}).value_or(CloudError(0, {})).code(),
              CloudError::invalidArguments);
    ASSERT_TRUE(QDir(root).removeRecursively());
    writeFile(root + "/private", "a file where a directory belongs");
    const auto failure = save({"pending-code-changes", "PendingCode"});
    ASSERT_TRUE(failure);
    EXPECT_FALSE(failure->localizedDescription().isEmpty());
}

TEST_F(LocalCloudTest, AccountStatusIsAvailableWithoutAFileAndAMalformedFileIsAnError) {
    using Status = std::variant<int, CloudError>;
    EXPECT_EQ(accountStatus(), Status(1));
    writeFile(LocalCloud::accountFilePath(root), R"({"status": 77})");
    EXPECT_EQ(accountStatus(), Status(77));
    LocalCloud::writeAccountStatus(root, 0);
    EXPECT_EQ(accountStatus(), Status(0));
    EXPECT_EQ(modeOf(LocalCloud::accountFilePath(root)), 0600);

    for (const QByteArray& content :
         QByteArrayList{"", "{\"status\":", "[1]", "{}", R"({"status":"1"})", R"({"status":1.5})",
                        R"({"status":1e12})", R"({"status":-1e12})"}) {
        writeFile(LocalCloud::accountFilePath(root), content);
        const auto answer = accountStatus();
        ASSERT_TRUE(std::holds_alternative<CloudError>(answer)) << content.constData();
        EXPECT_TRUE(std::get<CloudError>(answer).localizedDescription().contains("account.json"));
    }
    QFile::remove(LocalCloud::accountFilePath(root));

    // A records folder that cannot be read is no "signed in" (a file in its place fails even
    // for root, which reads any folder).
    writeFile(zone(), "");
    const auto answer = accountStatus();
    ASSERT_TRUE(std::holds_alternative<CloudError>(answer));
    EXPECT_EQ(std::get<CloudError>(answer).localizedDescription(),
              "the cloud folder " + zone() + " cannot be read: it is not a folder");
}

TEST_F(LocalCloudTest, RecordsWrittenTheWayZorvikPhoneWritesThemPushOncePerWrite) {
    subscribeAndRegister();
    const QString database = root + "/private";
    CloudRecord record{"pending-code", "PendingCode", {{"blob", QByteArray("sealed")}}};
    LocalCloudDatabase::writeRecord(database, record);
    record.fields.insert("expiresAt", Instant(std::chrono::seconds(1'800'000'000)));
    LocalCloudDatabase::writeRecord(database, record);
    // A plain write, not atomic, pushes once when the file is closed, not while under way.
    const QByteArray plain = recordFileContent("plain", "PendingCode", "p");
    QFile file(recordFile("plain"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(plain.left(10));
    file.flush();
    runEventsFor(50);
    file.write(plain.mid(10));
    file.close();
    writeMarkerAndWaitForItsPush();
    // Written over in place, a record already pushed pushes once more, as an update.
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(recordFileContent("plain", "PendingCode", "q"));
    file.close();
    writeMarkerAndWaitForItsPush();

    EXPECT_EQ(pushSummaries(),
              (Strings{"pending-code-changes 1 pending-code", "pending-code-changes 2 pending-code",
                       "pending-code-changes 1 plain", "pending-code-changes 2 plain"}));
    EXPECT_EQ(LocalCloudDatabase::readRecord(database, "pending-code"), record);
    EXPECT_EQ(modeOf(recordFile("pending-code")), 0600);
}

TEST_F(LocalCloudTest, NothingPushesBeforeRegistrationAndRecordsFromBeforeCountAsExisting) {
    ASSERT_FALSE(save({"pending-code-changes", "PendingCode"}));
    QDir().mkpath(zone());
    writePendingCode("early");
    runEventsFor(50);
    EXPECT_TRUE(pushes.empty());

    registerForPushes();
    writeMarkerAndWaitForItsPush();
    EXPECT_TRUE(pushes.empty()) << "a record from before registration pushed";
    writePendingCode("later");
    ASSERT_TRUE(waitForPushes(1));
    EXPECT_EQ(pushSummaries(), Strings{"pending-code-changes 2 pending-code"});
}

TEST_F(LocalCloudTest, OnlySubscriptionsOfTheRecordsTypeThatFireOnTheEventPush) {
    ASSERT_FALSE(save({"creations", "PendingCode", QuerySubscription::onRecordCreation}));
    ASSERT_FALSE(save({"updates", "PendingCode", QuerySubscription::onRecordUpdate}));
    ASSERT_FALSE(save({"deletions", "PendingCode", QuerySubscription::onRecordDeletion}));
    registerForPushes();

    writeAtomically("other", recordFileContent("other", "SomethingElse", "x"));
    writeAtomically("other", recordFileContent("other", "SomethingElse", "y"));
    // Each write is read after it happened, so the next one waits.
    writePendingCode("1");
    ASSERT_TRUE(waitForPushes(1));
    writePendingCode("2");
    ASSERT_TRUE(waitForPushes(2));
    ASSERT_TRUE(QFile::remove(recordFile("other")));
    ASSERT_TRUE(QFile::remove(recordFile("pending-code")));
    writeMarkerAndWaitForItsPush();
    EXPECT_EQ(pushSummaries(), (Strings{"creations 1 pending-code", "updates 2 pending-code",
                                        "deletions 3 pending-code"}));
}

TEST_F(LocalCloudTest, TemporaryAndForeignFilesNeverPushButAMalformedRecordDoes) {
    subscribeAndRegister();
    const QByteArray content = recordFileContent("pending-code", "PendingCode", "x");
    // ".json.Ab12Cd" is how QSaveFile names its temporaries.
    for (const char* name : {"/.pending-code.json", "/pending-code.json.Ab12Cd",
                             "/pending-code.json~", "/notes.txt"}) {
        writeFile(zone() + name, content);
    }
    QDir().mkpath(zone() + "/folder.json");
    // A malformed record pushes, so the fetch that follows reports the problem.
    writeAtomically("pending-code", "{\"recordName\":\"pending-code\",");
    ASSERT_TRUE(waitForPushes(1));
    writeMarkerAndWaitForItsPush();
    EXPECT_EQ(pushSummaries(), Strings{"pending-code-changes 1 pending-code"});
    EXPECT_EQ(fetchError("pending-code").code(), CloudError::internalError);
}

TEST_F(LocalCloudTest, WatchingGoesOnWhenTheZoneDirectoryIsReplaced) {
    subscribeAndRegister();
    writePendingCode("1");
    ASSERT_TRUE(waitForPushes(1));
    ASSERT_TRUE(QDir(zone()).removeRecursively());
    // The directory comes back as soon as the loss is noticed.
    ASSERT_TRUE(runEventsUntil([&] { return QFileInfo(zone()).isDir(); }));
    writePendingCode("2");
    ASSERT_TRUE(waitForPushes(2));
    EXPECT_EQ(queryOf(pushes[1]).value("fo"), 1);
}

TEST_F(LocalCloudTest, RegistrationFailsWithTheSystemsMessageWhenNothingCanBeWatched) {
    writeFile(root, "a file where the cloud directory belongs");
    cloud.remoteNotifications().registerForRemoteNotifications();
    ASSERT_TRUE(runEventsUntil([&] { return !registrationFailures.isEmpty(); }));
    EXPECT_EQ(registrations, 0);
    const QString& failure = registrationFailures.first();
    EXPECT_TRUE(failure.contains(root) && failure.contains("File exists")) << failure.toStdString();
    EXPECT_FALSE(cloud.remoteNotifications().isRegisteredForRemoteNotifications());
}

TEST_F(LocalCloudTest, NoPushAfterTheCloudIsGone) {
    ASSERT_FALSE(save({"pending-code-changes", "PendingCode"}));
    std::optional<LocalCloud> other(std::in_place, actor, root);
    int received = 0;
    other->remoteNotifications().setHandlers({{}, {}, [&](const QVariantMap&) { ++received; }});
    other->remoteNotifications().registerForRemoteNotifications();
    registerForPushes();
    writePendingCode("1");
    // Both have read the event once this one's push is here; the other's push is queued.
    ASSERT_TRUE(waitForPushes(1));
    const int receivedBeforeReset = received;
    other.reset();
    runEventsFor(20);
    EXPECT_EQ(received, receivedBeforeReset) << "a push came from a destroyed cloud";
}

TEST_F(LocalCloudTest, QuickAtomicWritesPushCreatedThenUpdatedOnceEachInOrderLikeARealPush) {
    subscribeAndRegister();
    EXPECT_EQ(modeOf(zone()), 0700);
    for (std::size_t i = 0; i < 200; ++i) {
        writePendingCode(QByteArray::number(qulonglong(i)));
        ASSERT_TRUE(waitForPushes(i + 1));
        EXPECT_EQ(queryOf(pushes.back()).value("fo"), i == 0 ? 1 : 2);
    }
    // The payload of a real push; its identifier is a UUID without braces, new for each push.
    const QRegularExpression uuid("\"nid\":\"[0-9a-f]{8}(-[0-9a-f]{4}){3}-[0-9a-f]{12}\"");
    for (int reason : {1, 2}) {
        const QString json = QJsonDocument(QJsonObject::fromVariantMap(pushes[reason - 1]))
                                 .toJson(QJsonDocument::Compact);
        EXPECT_EQ(QString(json).replace(uuid, "\"nid\":\"*\"").toStdString(),
                  QStringLiteral(R"({"aps":{"content-available":1},"ck":{"ce":2,)"
                                 R"("cid":"iCloud.net.brontal.zorvik","nid":"*","qry":{"dbs":1,)"
                                 R"("fo":%1,"rid":"pending-code","sid":"pending-code-changes",)"
                                 R"("zid":"_defaultZone","zoid":"_defaultOwner"}}})")
                      .arg(reason)
                      .toStdString());
    }
    EXPECT_NE(pushes[0]["ck"].toMap()["nid"], pushes[1]["ck"].toMap()["nid"]);
    // What the push announced is what a fetch then finds.
    EXPECT_EQ(std::get<CloudRecord>(fetch("pending-code")).field<QByteArray>("blob"), "199");
}

TEST(CloudRecordCoding, ReadsAndWritesTheWebWireFormatAndEveryFieldTypeSurvivesARoundTrip) {
    const CloudRecord record{"pending-code",
                             "PendingCode",
                             {{"blob", QByteArray("\x00\x01\x02\x03\x04\x05", 6)},
                              {"expiresAt", Instant(milliseconds(1767225600123))},
                              {"device", QString::fromUtf8("iPhone \u00e9")},
                              {"count", qint64(9007199254740993)},
                              {"ratio", 0.25}}};
    const QByteArray wire =
        R"({"recordName":"pending-code","recordType":"PendingCode","recordChangeTag":"x1",
        "fields":{"blob":{"type":"BYTES","value":"AAECAwQF"},
                  "expiresAt":{"type":"TIMESTAMP","value":1767225600123},
                  "device":{"type":"STRING","value":"iPhone \u00e9"},
                  "count":{"type":"INT64","value":9007199254740993},
                  "ratio":{"type":"DOUBLE","value":0.25}}})";
    QJsonObject written = QJsonDocument::fromJson(wire).object();
    written.remove("recordChangeTag");  // read, never written
    EXPECT_EQ(QJsonDocument::fromJson(CloudRecordCoding::encodeRecordFile(record)).object(),
              written);
    EXPECT_EQ(CloudRecordCoding::decodeRecordFile(wire), record);

    // The smallest INT64 and the DOUBLE 0.1 survive in the cloud record fuzz target's seeds.
    const CloudRecord limits{
        "pending-code",
        "PendingCode",
        {{"blob", QByteArray("\x00\xff\x10 sealed", 10)},
         {"expiresAt", Instant(milliseconds(-62135596800000))},
         {"later", Instant(milliseconds(CloudRecordCoding::maximumTimestampMilliseconds))},
         {"text", QString::fromUtf8("caf\u00e9 \xf0\x9f\x94\x91 \"quoted\"")},
         {"big", std::numeric_limits<qint64>::max()},
         {"huge", 1e300},
         {"empty", QByteArray()}},
    };
    EXPECT_EQ(CloudRecordCoding::decodeRecordFile(CloudRecordCoding::encodeRecordFile(limits)),
              limits);
}

TEST(CloudRecordCoding, TimestampsAreMillisecondsAndFractionsRound) {
    const auto decoded = [](const char* value) {
        return CloudRecordCoding::decodeRecordFile(
                   R"({"recordName":"r","recordType":"T","fields":{"t":{"type":"TIMESTAMP","value":)" +
                   QByteArray(value) + "}}}")
            .field<Instant>("t");
    };
    EXPECT_EQ(decoded("1767225600000.6"), Instant(milliseconds(1767225600001)));
    EXPECT_EQ(decoded("1.7672256e12"), Instant(milliseconds(1767225600000)));
    EXPECT_EQ(decoded("-1000"), Instant(milliseconds(-1000)));
    const CloudRecord precise{"r", "T", {{"t", Instant(std::chrono::microseconds(1'500'400))}}};
    const QJsonObject encoded = CloudRecordCoding::encodeRecord(precise);
    EXPECT_EQ(encoded["fields"]["t"]["value"].toInteger(), 1500);
}

TEST(CloudRecordCoding, RejectsWhatIsNoRecord) {
    QByteArrayList bad{
        "",
        "\"pending-code\"",
        R"({"recordName":"pending-code"})",
        R"({"recordName":7,"recordType":"T"})",
        R"({"recordName":"../x","recordType":"T"})",
        R"({"recordName":"r","recordType":""})",
        R"({"recordName":"r","recordType":"T","fields":[]})",
        R"({"recordName":"r","recordType":"T","fields":{"":{"type":"STRING","value":""}}})"};
    // Fields of record "r" of type "T".
    for (const char* field :
         {R"("BYTES")", R"({"value":"AA=="})", R"({"type":"BYTES"})",
          R"({"type":"BYTES","value":7})", R"({"type":"BYTES","value":"A$=="})",
          R"({"type":"BYTES","value":"\u00e9AAA"})", R"({"type":"TIMESTAMP","value":"1"})",
          R"({"type":"TIMESTAMP","value":1e300})",
          R"({"type":"TIMESTAMP","value":8640000000000001})", R"({"type":"INT64","value":1.5})",
          R"({"type":"INT64","value":1e19})", R"({"type":"INT64","value":"1"})",
          R"({"type":"DOUBLE","value":"0.5"})", R"({"type":"STRING","value":null})",
          R"({"type":"STRING_LIST","value":[]})"}) {
        bad.append(R"({"recordName":"r","recordType":"T","fields":{"f":)" + QByteArray(field) +
                   "}}");
    }
    for (const QByteArray& bytes : bad) {
        EXPECT_THROW(CloudRecordCoding::decodeRecordFile(bytes), CloudError) << bytes.constData();
    }
}

TEST(CloudRecordCoding, RefusesToWriteWhatTheFormatCannotCarry) {
    for (const CloudRecord& record :
         {CloudRecord{"../x", "T", {}}, CloudRecord{"r", "", {}},
          CloudRecord{"r", "T", {{"f", std::numeric_limits<double>::quiet_NaN()}}},
          CloudRecord{"r", "T", {{"f", Instant(std::chrono::hours(24LL * 365 * 280'000))}}}}) {
        EXPECT_THROW(CloudRecordCoding::encodeRecord(record), CloudError)
            << record.recordName.toStdString();
    }
}

TEST(CloudRecordCoding, RecordNamesMustBeSafeFileNames) {
    for (const QString& good : {QStringLiteral("pending-code"), QStringLiteral("a.b"),
                                QStringLiteral("caf\u00e9"), QString(200, u'x')}) {
        EXPECT_TRUE(CloudRecordCoding::isValidRecordName(good)) << good.toStdString();
    }
    for (const QString& bad :
         {QString(), QStringLiteral("."), QStringLiteral(".."), QStringLiteral("../etc"),
          QStringLiteral("a/b"), QStringLiteral(".tmp"), QString(201, u'x'), QString(QChar(0xd800)),
          QString::fromLatin1("a\0b", 3)}) {
        EXPECT_FALSE(CloudRecordCoding::isValidRecordName(bad)) << bad.toStdString();
    }
}

TEST(CloudRecordCoding, StrangeSubscriptionsAreRejected) {
    const QByteArrayList bad{
        "[]",
        R"({"subscriptionID":"s","subscriptionType":"zone","firesOn":["create"]})",
        R"({"subscriptionID":"s","subscriptionType":"query","firesOn":["create"]})",
        R"({"subscriptionID":"s","subscriptionType":"query","query":{"recordType":"T"}})",
        R"({"subscriptionID":"s","subscriptionType":"query","query":{"recordType":"T"},"firesOn":["explode"]})",
        R"({"subscriptionID":"../s","subscriptionType":"query","query":{"recordType":"T"},"firesOn":[]})",
        R"({"subscriptionID":"s","subscriptionType":"query","query":{"recordType":"T"},"firesOn":[],"notificationInfo":{"shouldSendContentAvailable":1}})"};
    for (const QByteArray& bytes : bad) {
        EXPECT_THROW(CloudRecordCoding::decodeSubscriptionFile(bytes), CloudError)
            << bytes.constData();
    }
}

}  // namespace
