// SPDX-License-Identifier: GPL-3.0-or-later
#include <QStringList>
#include <chrono>
#include <variant>

#include "platform/CloudError.h"
#include "platform/CloudRecord.h"
#include "platform/linux/cloud/LocalCloud.h"
#include "shared/Iso8601.h"
#include "tools/zorvik-phone/PhoneCommands.h"
#include "tools/zorvik-phone/PhoneToolSupport.h"

namespace {

const char* const kUsage = R"(Usage: zorvik-phone show [--cloud-dir DIR]

Prints the account status, the record "pending-code" with its fields and the saved
subscriptions. The blob is shown as its length and base64; it is never opened. Exits 1 when
something there cannot be read (and says what).
  --cloud-dir DIR   the cloud's directory (default: the desktop's)
)";

QString describeField(const CloudRecord::Value& value) {
    struct Describer {
        QString operator()(const QByteArray& bytes) const {
            return QStringLiteral("BYTES      %1 bytes, base64 %2")
                .arg(bytes.size())
                .arg(QString::fromLatin1(bytes.toBase64()));
        }
        QString operator()(Instant instant) const {
            const qint64 milliseconds =
                std::chrono::round<std::chrono::milliseconds>(instant.time_since_epoch()).count();
            const auto text = Iso8601::format(instant);
            return QStringLiteral("TIMESTAMP  %1%2")
                .arg(milliseconds)
                .arg(text ? QStringLiteral(" (%1)").arg(*text) : QString());
        }
        QString operator()(const QString& text) const {
            return QStringLiteral("STRING     \"%1\"").arg(text);
        }
        QString operator()(qint64 number) const {
            return QStringLiteral("INT64      %1").arg(number);
        }
        QString operator()(double number) const {
            return QStringLiteral("DOUBLE     %1").arg(number, 0, 'g', 17);
        }
    };
    return std::visit(Describer{}, value);
}

QString describeFiresOn(int firesOn) {
    QStringList events;
    if (firesOn & QuerySubscription::onRecordCreation) {
        events.append(QStringLiteral("create"));
    }
    if (firesOn & QuerySubscription::onRecordUpdate) {
        events.append(QStringLiteral("update"));
    }
    if (firesOn & QuerySubscription::onRecordDeletion) {
        events.append(QStringLiteral("delete"));
    }
    return events.isEmpty() ? QStringLiteral("nothing") : events.join(QStringLiteral(", "));
}

}  // namespace

int PhoneCommands::show(PhoneCommandContext& context, const QStringList& arguments) {
    if (context.answeredHelp(arguments, kUsage)) {
        return PhoneTool::ok;
    }
    const auto line = context.parseOptions(arguments, {QStringLiteral("cloud-dir")}, {});
    if (!line) {
        return PhoneTool::badInput;
    }
    const auto root = context.cloudDirectory(*line);
    if (!root) {
        return PhoneTool::badInput;
    }
    const QString database = LocalCloud::privateDatabaseDirectory(*root);
    int exitCode = PhoneTool::ok;
    QString text = QStringLiteral("cloud directory: %1\n").arg(*root);

    try {
        text += QStringLiteral("account status: %1\n")
                    .arg(accountStatusText(LocalCloud::readAccountStatus(*root)));
    } catch (const CloudError& accountError) {
        text += QStringLiteral("account status: unreadable: %1\n")
                    .arg(accountError.localizedDescription());
        exitCode = PhoneTool::failed;
    }

    try {
        const CloudRecord record = LocalCloudDatabase::readRecord(database, kPendingCodeRecordName);
        text += QStringLiteral("record %1 (type %2):\n").arg(record.recordName, record.recordType);
        QStringList names = record.fields.keys();
        names.sort();
        for (const QString& name : names) {
            text += QStringLiteral("  %1  %2\n")
                        .arg(name, -10)
                        .arg(describeField(record.fields.value(name)));
        }
    } catch (const CloudError& recordError) {
        if (recordError.code() == CloudError::unknownItem) {
            text += QStringLiteral("record %1: none\n").arg(kPendingCodeRecordName);
        } else {
            text += QStringLiteral("record %1: unreadable: %2\n")
                        .arg(kPendingCodeRecordName, recordError.localizedDescription());
            exitCode = PhoneTool::failed;
        }
    }

    const auto subscriptions = LocalCloudDatabase::readSubscriptions(database);
    if (subscriptions.subscriptions.isEmpty() && subscriptions.problems.isEmpty()) {
        text += QStringLiteral("subscriptions: none\n");
    } else {
        text += QStringLiteral("subscriptions:\n");
    }
    for (const QuerySubscription& subscription : subscriptions.subscriptions) {
        text +=
            QStringLiteral("  %1: query on %2, fires on %3%4\n")
                .arg(subscription.subscriptionID, subscription.recordType,
                     describeFiresOn(subscription.firesOn),
                     subscription.shouldSendContentAvailable ? QStringLiteral(", silent push")
                                                             : QStringLiteral(", no silent push"));
    }
    for (const CloudError& problem : subscriptions.problems) {
        text += QStringLiteral("  unreadable: %1\n").arg(problem.localizedDescription());
        exitCode = PhoneTool::failed;
    }
    context.io().writeStdout(text.toUtf8());
    return exitCode;
}
