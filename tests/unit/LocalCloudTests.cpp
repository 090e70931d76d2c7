#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTimer>
#include <QUuid>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

#include "CloudRecordCoding.h"
#include "LocalCloud.h"
#include "QtMainActor.h"
#include "RemoteNotifications.h"

namespace {

using Clock = std::chrono::steady_clock;

// Runs the Qt event loop until `done()` holds, for at most `timeoutMs`. Answers `done()`.
bool runEventLoopUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
    if (done()) {
        return true;
    }
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done()) {
            loop.quit();
        }
    });
    poll.start(1);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    return done();
}

QByteArray recordJson(const QString& name, const QString& type, const QByteArray& blob,
                      qint64 expiresAtMs) {
    return QStringLiteral(R"({"recordName":"%1","recordType":"%2","fields":{)"
                          R"("blob":{"type":"BYTES","value":"%3"},)"
                          R"("expiresAt":{"type":"TIMESTAMP","value":%4}}})")
        .arg(name, type, QString::fromLatin1(blob.toBase64()))
        .arg(expiresAtMs)
        .toUtf8();
}

int modeOf(const QString& path) {
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0) {
        return -1;
    }
    return int(status.st_mode & 07777);
}

QVariantMap mapAt(const QVariantMap& map, const char* key) {
    return map.value(QString::fromLatin1(key)).toMap();
}

class LocalCloudTest : public testing::Test {
protected:
    LocalCloudTest() : root(directory.filePath(QStringLiteral("cloud"))), cloud(actor, root) {}

    QString zone() const { return root + QStringLiteral("/private/_defaultZone"); }
    QString recordFile(const QString& name) const {
        return zone() + u'/' + name + QStringLiteral(".json");
    }

    void writeFile(const QString& path, const QByteArray& content) {
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
        ASSERT_EQ(file.write(content), content.size());
    }

    // The way zorvik-phone replaces a record: a temporary file beside it, then rename(). Answers
    // the moment of the rename.
    Clock::time_point writeAtomically(const QString& name, const QByteArray& content) {
        const QString temporary =
            zone() + QStringLiteral("/.") + name + QStringLiteral(".json.tmp");
        writeFile(temporary, content);
        const Clock::time_point renamedAt = Clock::now();
        EXPECT_EQ(::rename(QFile::encodeName(temporary).constData(),
                           QFile::encodeName(recordFile(name)).constData()),
                  0);
        return renamedAt;
    }

    std::variant<CloudRecord, CloudError> fetch(const QString& name) {
        std::optional<std::variant<CloudRecord, CloudError>> answer;
        cloud.privateCloudDatabase().fetchRecord(
            name,
            [&](std::variant<CloudRecord, CloudError> result) { answer = std::move(result); });
        EXPECT_FALSE(answer) << "answered inline";
        EXPECT_TRUE(runEventLoopUntil([&] { return answer.has_value(); }));
        return answer.value_or(CloudError(-1, QStringLiteral("no answer")));
    }

    CloudError fetchError(const QString& name) {
        const auto answer = fetch(name);
        EXPECT_TRUE(std::holds_alternative<CloudError>(answer)) << name.toStdString();
        return std::holds_alternative<CloudError>(answer) ? std::get<CloudError>(answer)
                                                          : CloudError(0, {});
    }

    std::optional<CloudError> save(const QuerySubscription& subscription) {
        bool answered = false;
        std::optional<CloudError> failure;
        cloud.privateCloudDatabase().saveSubscription(subscription,
                                                      [&](std::optional<CloudError> error) {
                                                          answered = true;
                                                          failure = std::move(error);
                                                      });
        EXPECT_FALSE(answered) << "answered inline";
        EXPECT_TRUE(runEventLoopUntil([&] { return answered; }));
        return failure;
    }

    std::variant<int, CloudError> accountStatus() {
        std::optional<std::variant<int, CloudError>> answer;
        cloud.accountStatus([&](std::variant<int, CloudError> result) { answer = result; });
        EXPECT_FALSE(answer) << "answered inline";
        EXPECT_TRUE(runEventLoopUntil([&] { return answer.has_value(); }));
        return answer.value_or(CloudError(-1, QStringLiteral("no answer")));
    }

    void listen() {
        cloud.remoteNotifications().setHandlers({
            [this] { ++registrations; },
            [this](const QString& error) { registrationFailures.append(error); },
            [this](const QVariantMap& userInfo) {
                pushes.push_back(userInfo);
                pushedAt.push_back(Clock::now());
            },
        });
    }

    void registerForPushes() {
        listen();
        cloud.remoteNotifications().registerForRemoteNotifications();
        EXPECT_EQ(registrations, 0) << "answered inline";
        ASSERT_TRUE(runEventLoopUntil([this] { return registrations == 1; }));
        ASSERT_TRUE(registrationFailures.isEmpty());
        ASSERT_TRUE(cloud.remoteNotifications().isRegisteredForRemoteNotifications());
    }

    // Pushes arrive in the order of the writes, so once the push for a marker record written
    // last has come, anything an earlier write would have pushed has come too.
    void writeMarkerAndWaitForItsPush() {
        const std::size_t before = pushes.size();
        writeAtomically(QStringLiteral("marker"),
                        recordJson(QStringLiteral("marker"), QStringLiteral("Marker"), "m", 0));
        ASSERT_TRUE(runEventLoopUntil([&] {
            return std::any_of(pushes.begin() + qsizetype(before), pushes.end(),
                               [](const QVariantMap& push) {
                                   return mapAt(mapAt(push, "ck"), "qry").value("rid") == "marker";
                               });
        }));
        // Everything but the marker's push.
        pushes.erase(std::remove_if(pushes.begin(), pushes.end(),
                                    [](const QVariantMap& push) {
                                        return mapAt(mapAt(push, "ck"), "qry").value("rid") ==
                                               "marker";
                                    }),
                     pushes.end());
    }

    static QuerySubscription pendingCodeSubscription() {
        return {QStringLiteral("pending-code-changes"), QStringLiteral("PendingCode"),
                QuerySubscription::onRecordCreation | QuerySubscription::onRecordUpdate, true};
    }
    void subscribeToMarkers() {
        ASSERT_FALSE(
            save({QStringLiteral("markers"), QStringLiteral("Marker"),
                  QuerySubscription::onRecordCreation | QuerySubscription::onRecordUpdate, true}));
    }

    QTemporaryDir directory;
    QtMainActor actor;
    QString root;
    LocalCloud cloud;

    int registrations = 0;
    QStringList registrationFailures;
    std::vector<QVariantMap> pushes;
    std::vector<Clock::time_point> pushedAt;
};

// ---------------------------------------------------------------------------------------------
// Fetching records

TEST_F(LocalCloudTest, FetchOfAMissingRecordAnswersUnknownItemOnTheMainActor) {
    const CloudError error = fetchError(QStringLiteral("pending-code"));
    EXPECT_EQ(error.code(), CloudError::unknownItem);
    EXPECT_EQ(error.localizedDescription(), QStringLiteral("Record not found"));
}

TEST_F(LocalCloudTest, FetchReturnsEveryFieldOfAGoodRecord) {
    writeFile(recordFile(QStringLiteral("pending-code")),
              R"({"recordName":"pending-code","recordType":"PendingCode","recordChangeTag":"x1",
                  "fields":{"blob":{"value":"AAECAwQF","type":"BYTES"},
                            "expiresAt":{"value":1767225600123,"type":"TIMESTAMP"},
                            "device":{"type":"STRING","value":"iPhone \u00e9"},
                            "count":{"type":"INT64","value":9007199254740993},
                            "ratio":{"type":"DOUBLE","value":0.25}}})");
    const auto answer = fetch(QStringLiteral("pending-code"));
    ASSERT_TRUE(std::holds_alternative<CloudRecord>(answer))
        << std::get<CloudError>(answer).localizedDescription().toStdString();
    const CloudRecord& record = std::get<CloudRecord>(answer);
    EXPECT_EQ(record.recordName, "pending-code");
    EXPECT_EQ(record.recordType, "PendingCode");
    EXPECT_EQ(record.fields.size(), 5);
    EXPECT_EQ(record.field<QByteArray>("blob"), QByteArray("\x00\x01\x02\x03\x04\x05", 6));
    EXPECT_EQ(record.field<Instant>("expiresAt"),
              Instant(std::chrono::milliseconds(1767225600123)));
    EXPECT_EQ(record.field<QString>("device"), QString::fromUtf8("iPhone \u00e9"));
    EXPECT_EQ(record.field<qint64>("count"), qint64(9007199254740993));
    EXPECT_EQ(record.field<double>("ratio"), 0.25);
}

TEST_F(LocalCloudTest, FetchOfAMalformedRecordFileIsAnErrorThatSaysWhatIsWrong) {
    const QList<std::pair<QByteArray, QString>> malformed{
        {"", "not JSON"},
        {R"({"recordName":"pending-code","recordType":"PendingCode","fields":{"blob":{"type":"BY)",
         "not JSON"},
        {"[1,2]", "not a JSON object"},
        {R"({"recordType":"PendingCode","fields":{}})", "\"recordName\""},
        {R"({"recordName":"pending-code","recordType":"PendingCode","fields":[]})", "\"fields\""},
        {R"({"recordName":"pending-code","recordType":"PendingCode",
             "fields":{"blob":{"type":"BYTES","value":"not base64!"}}})",
         "\"blob\""},
        {R"({"recordName":"pending-code","recordType":"PendingCode",
             "fields":{"expiresAt":{"type":"TIMESTAMP","value":"tomorrow"}}})",
         "\"expiresAt\""},
        {R"({"recordName":"pending-code","recordType":"PendingCode",
             "fields":{"blob":{"type":"ASSET","value":{}}}})",
         "ASSET"},
        {R"({"recordName":"other-code","recordType":"PendingCode","fields":{}})", "other-code"},
    };
    for (const auto& [content, mention] : malformed) {
        writeFile(recordFile(QStringLiteral("pending-code")), content);
        const CloudError error = fetchError(QStringLiteral("pending-code"));
        EXPECT_NE(error.code(), CloudError::unknownItem) << content.constData();
        EXPECT_TRUE(error.localizedDescription().contains(recordFile("pending-code")))
            << error.localizedDescription().toStdString();
        EXPECT_TRUE(error.localizedDescription().contains(mention))
            << error.localizedDescription().toStdString() << " should mention "
            << mention.toStdString();
    }
}

TEST_F(LocalCloudTest, FetchOfAnUnreadableRecordFileIsAnErrorWithTheSystemsReason) {
    QDir().mkpath(recordFile(QStringLiteral("folder")));
    CloudError error = fetchError(QStringLiteral("folder"));
    EXPECT_EQ(error.code(), CloudError::internalError);
    EXPECT_TRUE(error.localizedDescription().contains(recordFile("folder")));

    if (::geteuid() != 0) {  // root reads whatever the mode says
        writeFile(recordFile(QStringLiteral("locked")), "{}");
        ASSERT_EQ(::chmod(QFile::encodeName(recordFile("locked")).constData(), 0), 0);
        error = fetchError(QStringLiteral("locked"));
        EXPECT_EQ(error.code(), CloudError::internalError);
        EXPECT_TRUE(error.localizedDescription().contains("Permission denied"))
            << error.localizedDescription().toStdString();
    }
}

TEST_F(LocalCloudTest, FetchRefusesNamesThatAreNoSafeFileNames) {
    writeFile(root + QStringLiteral("/private/escaped.json"),
              recordJson("escaped", "PendingCode", "x", 0));
    for (const QString& name :
         {QString(), QStringLiteral(".."), QStringLiteral("../escaped"), QStringLiteral("a/b"),
          QStringLiteral(".hidden"), QString::fromLatin1("nul\0l", 5)}) {
        EXPECT_EQ(fetchError(name).code(), CloudError::invalidArguments) << name.toStdString();
    }
}

// ---------------------------------------------------------------------------------------------
// Subscriptions and the account

TEST_F(LocalCloudTest, SavedSubscriptionIsItsWireFormAndASecondSaveReplacesIt) {
    ASSERT_FALSE(save(pendingCodeSubscription()));
    const QString path = root + QStringLiteral("/private/subscriptions/pending-code-changes.json");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QJsonObject saved = QJsonDocument::fromJson(file.readAll()).object();
    file.close();
    EXPECT_EQ(saved.value("subscriptionID").toString(), "pending-code-changes");
    EXPECT_EQ(saved.value("subscriptionType").toString(), "query");
    EXPECT_EQ(saved.value("query").toObject().value("recordType").toString(), "PendingCode");
    EXPECT_EQ(saved.value("firesOn").toArray(), (QJsonArray{"create", "update"}));
    EXPECT_EQ(saved.value("notificationInfo").toObject(),
              (QJsonObject{{"shouldSendContentAvailable", true}}));
    EXPECT_EQ(modeOf(path), 0600);
    EXPECT_EQ(modeOf(QFileInfo(path).path()), 0700);
    EXPECT_EQ(modeOf(zone()), -1) << "saving a subscription makes no zone";

    QuerySubscription changed = pendingCodeSubscription();
    changed.recordType = QStringLiteral("OtherCode");
    changed.firesOn = QuerySubscription::onRecordDeletion;
    ASSERT_FALSE(save(changed));
    const auto all = LocalCloudDatabase::readSubscriptions(root + QStringLiteral("/private"));
    ASSERT_EQ(all.subscriptions.size(), 1);
    EXPECT_EQ(all.subscriptions.first(), changed);
    EXPECT_TRUE(all.problems.isEmpty());
    EXPECT_EQ(QDir(QFileInfo(path).path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

TEST_F(LocalCloudTest, SavingASubscriptionThatCannotBeWrittenAnswersAnError) {
    writeFile(root + QStringLiteral("/private"), "a file where a directory belongs");
    const auto failure = save(pendingCodeSubscription());
    ASSERT_TRUE(failure);
    EXPECT_FALSE(failure->localizedDescription().isEmpty());

    QuerySubscription unsafe = pendingCodeSubscription();
    unsafe.subscriptionID = QStringLiteral("../escape");
    const auto refused = save(unsafe);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->code(), CloudError::invalidArguments);
}

TEST_F(LocalCloudTest, AccountStatusIsAvailableWithoutAFileAndTheNumberOfOne) {
    EXPECT_EQ(accountStatus(), (std::variant<int, CloudError>(1)));
    writeFile(LocalCloud::accountFilePath(root), R"({"status": 3})");
    EXPECT_EQ(accountStatus(), (std::variant<int, CloudError>(3)));
    writeFile(LocalCloud::accountFilePath(root), R"({"status": 77})");
    EXPECT_EQ(accountStatus(), (std::variant<int, CloudError>(77)));
    LocalCloud::writeAccountStatus(root, 0);
    EXPECT_EQ(accountStatus(), (std::variant<int, CloudError>(0)));
    EXPECT_EQ(modeOf(LocalCloud::accountFilePath(root)), 0600);
}

TEST_F(LocalCloudTest, AMalformedAccountFileMakesTheRequestFailWithADescription) {
    for (const QByteArray& content :
         {QByteArray(""), QByteArray("{\"status\":"), QByteArray("[1]"), QByteArray("{}"),
          QByteArray(R"({"status":"1"})"), QByteArray(R"({"status":1.5})"),
          QByteArray(R"({"status":1e12})")}) {
        writeFile(LocalCloud::accountFilePath(root), content);
        const auto answer = accountStatus();
        ASSERT_TRUE(std::holds_alternative<CloudError>(answer)) << content.constData();
        EXPECT_TRUE(std::get<CloudError>(answer).localizedDescription().contains("account.json"))
            << std::get<CloudError>(answer).localizedDescription().toStdString();
    }
}

// ---------------------------------------------------------------------------------------------
// Pushes

TEST_F(LocalCloudTest, AtomicWritesPushCreatedThenUpdatedWithThePayloadOfARealPush) {
    ASSERT_FALSE(save(pendingCodeSubscription()));
    registerForPushes();
    EXPECT_EQ(modeOf(zone()), 0700);

    writeAtomically("pending-code", recordJson("pending-code", "PendingCode", "one", 1000));
    ASSERT_TRUE(runEventLoopUntil([&] { return pushes.size() == 1; }));
    writeAtomically("pending-code", recordJson("pending-code", "PendingCode", "two", 2000));
    ASSERT_TRUE(runEventLoopUntil([&] { return pushes.size() == 2; }));

    for (std::size_t i = 0; i < 2; ++i) {
        const QVariantMap& push = pushes[i];
        EXPECT_EQ(mapAt(push, "aps"), (QVariantMap{{"content-available", 1}}));
        const QVariantMap ck = mapAt(push, "ck");
        EXPECT_EQ(ck.value("ce"), 2);
        EXPECT_EQ(ck.value("cid"), "iCloud.net.brontal.zorvik");
        EXPECT_FALSE(QUuid::fromString(ck.value("nid").toString()).isNull());
        EXPECT_EQ(ck.value("nid").toString().size(), 36);
        EXPECT_EQ(mapAt(ck, "qry"), (QVariantMap{{"dbs", 1},
                                                 {"fo", int(i + 1)},
                                                 {"rid", "pending-code"},
                                                 {"sid", "pending-code-changes"},
                                                 {"zid", "_defaultZone"},
                                                 {"zoid", "_defaultOwner"}}));
        const auto notification = CloudNotification::fromRemoteNotification(push);
        ASSERT_TRUE(notification);
        EXPECT_EQ(notification->subscriptionID, "pending-code-changes");
        EXPECT_EQ(notification->recordName, "pending-code");
        EXPECT_EQ(notification->queryNotificationReason, int(i + 1));
    }
    EXPECT_NE(mapAt(pushes[0], "ck").value("nid"), mapAt(pushes[1], "ck").value("nid"));

    // What the push announced is what a fetch then finds.
    const auto fetched = fetch("pending-code");
    ASSERT_TRUE(std::holds_alternative<CloudRecord>(fetched));
    EXPECT_EQ(std::get<CloudRecord>(fetched).field<QByteArray>("blob"), "two");
}

TEST_F(LocalCloudTest, RecordsWrittenTheWayZorvikPhoneWritesThemPushOncePerWrite) {
    ASSERT_FALSE(save(pendingCodeSubscription()));
    subscribeToMarkers();
    registerForPushes();
    const QString database = root + QStringLiteral("/private");
    CloudRecord record{"pending-code", "PendingCode", {{"blob", QByteArray("sealed")}}};
    LocalCloudDatabase::writeRecord(database, record);
    record.fields.insert("expiresAt", Instant(std::chrono::seconds(1'800'000'000)));
    LocalCloudDatabase::writeRecord(database, record);
    // A plain write, not atomic, pushes once when the file is closed.
    writeFile(recordFile("plain"), recordJson("plain", "PendingCode", "p", 0));
    writeMarkerAndWaitForItsPush();

    ASSERT_EQ(pushes.size(), 3u);
    const auto reasonAndName = [&](std::size_t i) {
        const QVariantMap query = mapAt(mapAt(pushes[i], "ck"), "qry");
        return std::pair(query.value("fo").toInt(), query.value("rid").toString());
    };
    EXPECT_EQ(reasonAndName(0), std::pair(1, QStringLiteral("pending-code")));
    EXPECT_EQ(reasonAndName(1), std::pair(2, QStringLiteral("pending-code")));
    EXPECT_EQ(reasonAndName(2), std::pair(1, QStringLiteral("plain")));
    EXPECT_EQ(LocalCloudDatabase::readRecord(database, "pending-code"), record);
    EXPECT_EQ(modeOf(recordFile("pending-code")), 0600);
}

TEST_F(LocalCloudTest, NothingPushesBeforeRegistrationAndRecordsFromBeforeCountAsExisting) {
    ASSERT_FALSE(save(pendingCodeSubscription()));
    subscribeToMarkers();
    listen();
    QDir().mkpath(zone());
    writeAtomically("pending-code", recordJson("pending-code", "PendingCode", "early", 0));
    runEventLoopUntil([] { return false; }, 50);
    EXPECT_TRUE(pushes.empty());
    EXPECT_FALSE(cloud.remoteNotifications().isRegisteredForRemoteNotifications());

    registerForPushes();
    writeMarkerAndWaitForItsPush();
    EXPECT_TRUE(pushes.empty()) << "a record from before registration pushed";

    writeAtomically("pending-code", recordJson("pending-code", "PendingCode", "later", 0));
    ASSERT_TRUE(runEventLoopUntil([&] { return pushes.size() == 1; }));
    EXPECT_EQ(mapAt(mapAt(pushes[0], "ck"), "qry").value("fo"), 2);
}

TEST_F(LocalCloudTest, OnlySubscriptionsOfTheRecordsTypeThatFireOnTheEventPush) {
    subscribeToMarkers();
    ASSERT_FALSE(
        save({"creations-only", "PendingCode", QuerySubscription::onRecordCreation, true}));
    ASSERT_FALSE(save({"updates-only", "PendingCode", QuerySubscription::onRecordUpdate, true}));
    registerForPushes();

    writeAtomically("other", recordJson("other", "SomethingElse", "x", 0));
    writeAtomically("other", recordJson("other", "SomethingElse", "y", 0));
    // Each write is read after it happened, so the next one waits.
    writeAtomically("pending-code", recordJson("pending-code", "PendingCode", "1", 0));
    ASSERT_TRUE(runEventLoopUntil([&] { return pushes.size() == 1; }));
    writeAtomically("pending-code", recordJson("pending-code", "PendingCode", "2", 0));
    ASSERT_TRUE(runEventLoopUntil([&] { return pushes.size() == 2; }));
    ASSERT_TRUE(QFile::remove(recordFile("pending-code")));
    writeMarkerAndWaitForItsPush();

    ASSERT_EQ(pushes.size(), 2u);
    EXPECT_EQ(mapAt(mapAt(pushes[0], "ck"), "qry").value("sid"), "creations-only");
    EXPECT_EQ(mapAt(mapAt(pushes[0], "ck"), "qry").value("fo"), 1);
    EXPECT_EQ(mapAt(mapAt(pushes[1], "ck"), "qry").value("sid"), "updates-only");
    EXPECT_EQ(mapAt(mapAt(pushes[1], "ck"), "qry").value("fo"), 2);
}

TEST_F(LocalCloudTest, DeletionPushesOnlyToSubscriptionsThatFireOnDeletion) {
    subscribeToMarkers();
    ASSERT_FALSE(save(pendingCodeSubscription()));
    registerForPushes();
    writeAtomically("pending-code", recordJson("pending-code", "PendingCode", "1", 0));
    ASSERT_TRUE(runEventLoopUntil([&] { return pushes.size() == 1; }));
    ASSERT_TRUE(QFile::remove(recordFile("pending-code")));
    writeMarkerAndWaitForItsPush();
    EXPECT_EQ(pushes.size(), 1u) << "the deletion pushed";

    ASSERT_FALSE(save({"deletions", "PendingCode", QuerySubscription::onRecordDeletion, true}));
    writeAtomically("pending-code", recordJson("pending-code", "PendingCode", "2", 0));
    ASSERT_TRUE(runEventLoopUntil([&] { return pushes.size() == 2; }));
    ASSERT_TRUE(QFile::remove(recordFile("pending-code")));
    ASSERT_TRUE(runEventLoopUntil([&] { return pushes.size() == 3; }));
    const QVariantMap query = mapAt(mapAt(pushes[2], "ck"), "qry");
    EXPECT_EQ(query.value("sid"), "deletions");
    EXPECT_EQ(query.value("fo"), 3);
    EXPECT_EQ(query.value("rid"), "pending-code");
}

TEST_F(LocalCloudTest, TemporaryAndForeignFilesNeverPush) {
    subscribeToMarkers();
    ASSERT_FALSE(save(pendingCodeSubscription()));
    registerForPushes();
    const QByteArray content = recordJson("pending-code", "PendingCode", "x", 0);
    writeFile(zone() + "/.pending-code.json", content);
    writeFile(zone() + "/pending-code.json.Ab12Cd", content);  // a QSaveFile temporary
    writeFile(zone() + "/pending-code.json~", content);
    writeFile(zone() + "/notes.txt", content);
    QDir().mkpath(zone() + "/folder.json");
    writeMarkerAndWaitForItsPush();
    EXPECT_TRUE(pushes.empty());
}

TEST_F(LocalCloudTest, AMalformedRecordStillPushesSoTheFetchReportsIt) {
    ASSERT_FALSE(save(pendingCodeSubscription()));
    registerForPushes();
    writeAtomically("pending-code", "{\"recordName\":\"pending-code\",");
    ASSERT_TRUE(runEventLoopUntil([&] { return pushes.size() == 1; }));
    EXPECT_EQ(mapAt(mapAt(pushes[0], "ck"), "qry").value("rid"), "pending-code");
    const CloudError error = fetchError("pending-code");
    EXPECT_NE(error.code(), CloudError::unknownItem);
}

TEST_F(LocalCloudTest, WatchingGoesOnWhenTheZoneDirectoryIsReplaced) {
    ASSERT_FALSE(save(pendingCodeSubscription()));
    registerForPushes();
    writeAtomically("pending-code", recordJson("pending-code", "PendingCode", "1", 0));
    ASSERT_TRUE(runEventLoopUntil([&] { return pushes.size() == 1; }));

    ASSERT_TRUE(QDir(zone()).removeRecursively());
    // The directory comes back as soon as the loss is noticed.
    ASSERT_TRUE(runEventLoopUntil([&] { return QFileInfo(zone()).isDir(); }));
    EXPECT_TRUE(cloud.remoteNotifications().isRegisteredForRemoteNotifications());
    writeAtomically("pending-code", recordJson("pending-code", "PendingCode", "2", 0));
    ASSERT_TRUE(runEventLoopUntil([&] { return pushes.size() == 2; }));
    EXPECT_EQ(mapAt(mapAt(pushes[1], "ck"), "qry").value("fo"), 1);
}

TEST_F(LocalCloudTest, RegistrationFailsWithTheSystemsMessageWhenNothingCanBeWatched) {
    writeFile(root, "a file where the cloud directory belongs");
    listen();
    cloud.remoteNotifications().registerForRemoteNotifications();
    ASSERT_TRUE(runEventLoopUntil([&] { return !registrationFailures.isEmpty(); }));
    EXPECT_EQ(registrations, 0);
    // The system's words for why the directory cannot be made, and where.
    EXPECT_TRUE(registrationFailures.first().contains(root))
        << registrationFailures.first().toStdString();
    EXPECT_TRUE(registrationFailures.first().contains(QStringLiteral("File exists")))
        << registrationFailures.first().toStdString();
    EXPECT_FALSE(cloud.remoteNotifications().isRegisteredForRemoteNotifications());
}

TEST_F(LocalCloudTest, NoPushAfterTheCloudIsGone) {
    ASSERT_FALSE(save(pendingCodeSubscription()));
    std::optional<LocalCloud> other(std::in_place, actor, root);
    int received = 0;
    other->remoteNotifications().setHandlers({{}, {}, [&](const QVariantMap&) { ++received; }});
    other->remoteNotifications().registerForRemoteNotifications();
    registerForPushes();
    writeAtomically("pending-code", recordJson("pending-code", "PendingCode", "1", 0));
    // Both have read the event once this one's push is here; the other's push is queued.
    ASSERT_TRUE(runEventLoopUntil([&] { return pushes.size() == 1; }));
    const int receivedBeforeReset = received;
    other.reset();
    runEventLoopUntil([] { return false; }, 20);
    EXPECT_EQ(received, receivedBeforeReset) << "a push came from a destroyed cloud";
}

// Prints how long a push takes from the rename of a record file to the handler, over 200
// writes. It asserts only that every write pushed once, in order: the time is information.
TEST_F(LocalCloudTest, TwoHundredQuickOverwritesPushOnceEachInOrder) {
    ASSERT_FALSE(save(pendingCodeSubscription()));
    registerForPushes();
    constexpr int kWrites = 200;
    std::vector<double> latencies;
    for (int i = 0; i < kWrites; ++i) {
        const Clock::time_point renamedAt = writeAtomically(
            "pending-code", recordJson("pending-code", "PendingCode", QByteArray::number(i), i));
        ASSERT_TRUE(runEventLoopUntil([&] { return pushes.size() == std::size_t(i + 1); }));
        latencies.push_back(
            std::chrono::duration<double, std::micro>(pushedAt.back() - renamedAt).count());
        EXPECT_EQ(mapAt(mapAt(pushes.back(), "ck"), "qry").value("fo"), i == 0 ? 1 : 2);
    }
    std::sort(latencies.begin(), latencies.end());
    const double median = latencies[kWrites / 2];
    const double p99 = latencies[kWrites * 99 / 100];
    std::printf("rename to didReceive over %d writes: median %.0f us, p99 %.0f us, max %.0f us\n",
                kWrites, median, p99, latencies.back());
    RecordProperty("median_us", int(median));
    RecordProperty("p99_us", int(p99));
}

// ---------------------------------------------------------------------------------------------
// The wire format

TEST(CloudRecordCoding, EveryFieldTypeSurvivesARoundTrip) {
    const CloudRecord record{
        "pending-code",
        "PendingCode",
        {{"blob", QByteArray("\x00\xff\x10 sealed", 10)},
         {"expiresAt", Instant(std::chrono::milliseconds(-62135596800000))},
         {"later",
          Instant(std::chrono::milliseconds(CloudRecordCoding::maximumTimestampMilliseconds))},
         {"text", QString::fromUtf8("caf\u00e9 \xf0\x9f\x94\x91 \"quoted\"")},
         {"big", std::numeric_limits<qint64>::max()},
         {"small", std::numeric_limits<qint64>::min()},
         {"ratio", 0.1},
         {"huge", 1e300},
         {"empty", QByteArray()}},
    };
    EXPECT_EQ(CloudRecordCoding::decodeRecordFile(CloudRecordCoding::encodeRecordFile(record)),
              record);
}

TEST(CloudRecordCoding, WritesTheWebWireFormat) {
    const CloudRecord record{"pending-code",
                             "PendingCode",
                             {{"blob", QByteArray("\x00\x01\x02\x03\x04\x05", 6)},
                              {"expiresAt", Instant(std::chrono::milliseconds(1767225600000))}}};
    EXPECT_EQ(QJsonDocument::fromJson(CloudRecordCoding::encodeRecordFile(record)).object(),
              QJsonDocument::fromJson(R"({"recordName":"pending-code","recordType":"PendingCode",
                 "fields":{"blob":{"type":"BYTES","value":"AAECAwQF"},
                           "expiresAt":{"type":"TIMESTAMP","value":1767225600000}}})")
                  .object());
}

TEST(CloudRecordCoding, TimestampsAreMillisecondsAndFractionsRound) {
    const auto expiresAt = [](const QByteArray& value) {
        return CloudRecordCoding::decodeRecordFile(
                   R"({"recordName":"r","recordType":"T","fields":{"t":{"type":"TIMESTAMP","value":)" +
                   value + "}}}")
            .field<Instant>("t");
    };
    EXPECT_EQ(expiresAt("1767225600000"), Instant(std::chrono::milliseconds(1767225600000)));
    EXPECT_EQ(expiresAt("1767225600000.6"), Instant(std::chrono::milliseconds(1767225600001)));
    EXPECT_EQ(expiresAt("1.7672256e12"), Instant(std::chrono::milliseconds(1767225600000)));
    EXPECT_EQ(expiresAt("-1000"), Instant(std::chrono::milliseconds(-1000)));
    // Written as whole milliseconds.
    const CloudRecord precise{"r", "T", {{"t", Instant(std::chrono::microseconds(1'500'400))}}};
    const QJsonObject encoded = CloudRecordCoding::encodeRecord(precise);
    EXPECT_EQ(encoded["fields"]["t"]["value"].toInteger(), 1500);
}

TEST(CloudRecordCoding, RejectsWhatIsNoRecordWithADescription) {
    const QList<QByteArray> bad{
        "",
        "null",
        "\"pending-code\"",
        R"({"recordName":"pending-code"})",
        R"({"recordName":"","recordType":"T"})",
        R"({"recordName":"../x","recordType":"T"})",
        R"({"recordName":"a/b","recordType":"T"})",
        R"({"recordName":7,"recordType":"T"})",
        R"({"recordName":"r","recordType":""})",
        R"({"recordName":"r","recordType":"T","fields":{"f":"BYTES"}})",
        R"({"recordName":"r","recordType":"T","fields":{"f":{"value":"AA=="}}})",
        R"({"recordName":"r","recordType":"T","fields":{"f":{"type":"BYTES"}}})",
        R"({"recordName":"r","recordType":"T","fields":{"f":{"type":"BYTES","value":7}}})",
        R"({"recordName":"r","recordType":"T","fields":{"f":{"type":"BYTES","value":"A$=="}}})",
        R"({"recordName":"r","recordType":"T","fields":{"f":{"type":"BYTES","value":"\u00e9AAA"}}})",
        R"({"recordName":"r","recordType":"T","fields":{"f":{"type":"TIMESTAMP","value":"1"}}})",
        R"({"recordName":"r","recordType":"T","fields":{"f":{"type":"TIMESTAMP","value":1e300}}})",
        R"({"recordName":"r","recordType":"T","fields":{"f":{"type":"TIMESTAMP","value":8640000000000001}}})",
        R"({"recordName":"r","recordType":"T","fields":{"f":{"type":"INT64","value":1.5}}})",
        R"({"recordName":"r","recordType":"T","fields":{"f":{"type":"INT64","value":1e19}}})",
        R"({"recordName":"r","recordType":"T","fields":{"f":{"type":"INT64","value":"1"}}})",
        R"({"recordName":"r","recordType":"T","fields":{"f":{"type":"DOUBLE","value":"0.5"}}})",
        R"({"recordName":"r","recordType":"T","fields":{"f":{"type":"STRING","value":null}}})",
        R"({"recordName":"r","recordType":"T","fields":{"f":{"type":"STRING_LIST","value":[]}}})",
        R"({"recordName":"r","recordType":"T","fields":{"":{"type":"STRING","value":""}}})",
    };
    for (const QByteArray& bytes : bad) {
        try {
            CloudRecordCoding::decodeRecordFile(bytes);
            ADD_FAILURE() << "accepted " << bytes.constData();
        } catch (const CloudError& error) {
            EXPECT_EQ(error.code(), CloudError::internalError);
            EXPECT_FALSE(error.localizedDescription().isEmpty());
        }
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

TEST(CloudRecordCoding, SubscriptionsRoundTripAndStrangeOnesAreRejected) {
    const QuerySubscription subscription{
        "s", "PendingCode", QuerySubscription::onRecordUpdate | QuerySubscription::onRecordDeletion,
        false};
    EXPECT_EQ(CloudRecordCoding::decodeSubscriptionFile(
                  CloudRecordCoding::encodeSubscriptionFile(subscription)),
              subscription);
    const QList<QByteArray> bad{
        "[]",
        R"({"subscriptionID":"s","subscriptionType":"zone","firesOn":["create"]})",
        R"({"subscriptionID":"s","subscriptionType":"query","firesOn":["create"]})",
        R"({"subscriptionID":"s","subscriptionType":"query","query":{"recordType":"T"}})",
        R"({"subscriptionID":"s","subscriptionType":"query","query":{"recordType":"T"},"firesOn":["explode"]})",
        R"({"subscriptionID":"../s","subscriptionType":"query","query":{"recordType":"T"},"firesOn":[]})",
        R"({"subscriptionID":"s","subscriptionType":"query","query":{"recordType":"T"},"firesOn":[],"notificationInfo":{"shouldSendContentAvailable":1}})",
    };
    for (const QByteArray& bytes : bad) {
        EXPECT_THROW(CloudRecordCoding::decodeSubscriptionFile(bytes), CloudError)
            << bytes.constData();
    }
}

TEST(LocalCloud, StandardRootFollowsXdgDataHome) {
    const QByteArray saved = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", "/tmp/somewhere-data");
    EXPECT_EQ(LocalCloud::standardRootDirectory(),
              "/tmp/somewhere-data/net.brontal.zorvik/cloud/iCloud.net.brontal.zorvik");
    if (saved.isNull()) {
        qunsetenv("XDG_DATA_HOME");
    } else {
        qputenv("XDG_DATA_HOME", saved);
    }
}

}  // namespace
