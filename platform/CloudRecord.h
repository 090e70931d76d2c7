// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <optional>
#include <variant>

#include "platform/Instant.h"

// One record of a cloud database: its name, its type and its typed fields.
struct CloudRecord {
    using Value = std::variant<QByteArray, Instant, QString, qint64, double>;

    QString recordName;
    QString recordType;
    QHash<QString, Value> fields;

    template <class T>
    std::optional<T> field(const QString& name) const {
        const auto found = fields.constFind(name);
        if (found == fields.cend() || !std::holds_alternative<T>(*found)) {
            return std::nullopt;
        }
        return std::get<T>(*found);
    }

    bool operator==(const CloudRecord&) const = default;
};

// A saved query: the cloud pushes silently when a record of its type is created or updated.
struct QuerySubscription {
    enum FiresOn { onRecordCreation = 1, onRecordUpdate = 2, onRecordDeletion = 4 };

    QString subscriptionID;
    QString recordType;
    int firesOn = onRecordCreation | onRecordUpdate;
    bool shouldSendContentAvailable = true;

    bool operator==(const QuerySubscription&) const = default;
};
