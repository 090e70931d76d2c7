// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/cloud/CloudWebDatabase.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStandardPaths>

#include "platform/linux/cloud/CloudRecordCoding.h"
#include "platform/linux/cloud/CloudWebAnswers.h"
#include "platform/linux/cloud/CloudWebSession.h"
#include "shared/AtomicFile.h"

namespace {

const auto kZone = QStringLiteral("_defaultZone");

// A saved subscription is known by its owner and its whole wire form, so a changed
// subscription or another user saves again.
QByteArray fingerprintOf(const QString& user, const QJsonObject& subscription) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(user.toUtf8());
    hash.addData(QByteArrayView("\n"));
    hash.addData(QJsonDocument(subscription).toJson(QJsonDocument::Compact));
    return hash.result().toHex();
}

QJsonArray rememberedFingerprints(const QString& path) {
    const auto bytes = AtomicFile::read(path, 64 * 1024);
    if (!bytes) {
        return {};
    }
    // A damaged file only costs one more save.
    return QJsonDocument::fromJson(*bytes).object().value(QStringLiteral("saved")).toArray();
}

}  // namespace

CloudWebDatabase::CloudWebDatabase(CloudWebSession& session, QString stateFile)
    : session_(session), stateFile_(std::move(stateFile)) {}

QString CloudWebDatabase::standardStateFile() {
    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return QDir(dataHome).filePath(
        QStringLiteral("net.brontal.zorvik/cloudkit-subscriptions.json"));
}

void CloudWebDatabase::fetchRecord(
    const QString& recordName, std::function<void(std::variant<CloudRecord, CloudError>)> answer) {
    const QJsonObject body{
        {QStringLiteral("records"),
         QJsonArray{QJsonObject{{QStringLiteral("recordName"), recordName}}}},
        {QStringLiteral("zoneID"), QJsonObject{{QStringLiteral("zoneName"), kZone}}},
    };
    session_.call(CloudWebSession::Api::database, "POST", QStringLiteral("private/records/lookup"),
                  body, [recordName, answer = std::move(answer)](const CloudWebReply& reply) {
                      answer(CloudWebAnswers::lookedUpRecord(reply, recordName));
                  });
}

void CloudWebDatabase::saveSubscription(const QuerySubscription& subscription,
                                        std::function<void(std::optional<CloudError>)> done) {
    QJsonObject wire;
    try {
        wire = CloudRecordCoding::encodeSubscription(subscription);
    } catch (const CloudError& error) {
        done(error);
        return;
    }
    const QByteArray fingerprint = fingerprintOf(userRecordName_, wire);
    if (!userRecordName_.isEmpty() && remembers(fingerprint)) {
        done(std::nullopt);
        return;
    }
    const QJsonObject body{
        {QStringLiteral("operations"),
         QJsonArray{QJsonObject{{QStringLiteral("operationType"), QStringLiteral("create")},
                                {QStringLiteral("subscription"), wire}}}},
    };
    const QString id = subscription.subscriptionID;
    const bool knowsUser = !userRecordName_.isEmpty();
    session_.call(
        CloudWebSession::Api::database, "POST", QStringLiteral("private/subscriptions/modify"),
        body,
        [this, id, fingerprint, knowsUser, done = std::move(done)](const CloudWebReply& reply) {
            std::optional<CloudError> failure = CloudWebAnswers::savedSubscription(reply, id);
            if (!failure && knowsUser) {
                remember(fingerprint);
            }
            done(std::move(failure));
        });
}

bool CloudWebDatabase::remembers(const QByteArray& fingerprint) const {
    return rememberedFingerprints(stateFile_).contains(QString::fromLatin1(fingerprint));
}

void CloudWebDatabase::remember(const QByteArray& fingerprint) {
    QJsonArray saved = rememberedFingerprints(stateFile_);
    saved.append(QString::fromLatin1(fingerprint));
    while (saved.size() > 16) {
        saved.removeFirst();
    }
    try {
        AtomicFile::makeDirectories(QFileInfo(stateFile_).absolutePath());
        AtomicFile::write(stateFile_, QJsonDocument(QJsonObject{{QStringLiteral("saved"), saved}})
                                              .toJson(QJsonDocument::Compact) +
                                          '\n');
    } catch (const Error&) {
        // Not remembered: the next check saves it once more, which the service accepts.
    }
}

void CloudWebDatabase::forgetSavedSubscriptions() {
    QFile::remove(stateFile_);
}
