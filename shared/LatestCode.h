// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

#include "platform/Instant.h"

// The code the application published last, as the shared file holds it.
struct LatestCode {
    QString accountName;
    std::optional<QString> serviceID;
    QString code;
    QString fromDevice;
    Instant issuedAt;
    Instant receivedAt;
    Instant expiresAt;

    // The JSON keys of the shared file, in field order.
    enum class CodingKeys {
        accountName,
        serviceID,
        code,
        fromDevice,
        issuedAt,
        receivedAt,
        expiresAt
    };
    static QString stringValue(CodingKeys key);
    static std::optional<CodingKeys> codingKey(QStringView text);

    bool operator==(const LatestCode&) const = default;

    // Offered only strictly before its expiry, and never when empty.
    bool isValid(Instant at) const;
    // The code in two groups as the user reads it: 6 characters as 3 + 3, 7 as 4 + 3, 8 as
    // 4 + 4; any other length unchanged. Characters are the ones the user sees.
    QString displayCode() const;
    // The web domains of the code's service.
    QStringList domains() const;

    // Compact UTF-8 JSON; nothing when an instant cannot be written.
    std::optional<QByteArray> encode() const;
    // Nothing for anything but a complete, well-formed record.
    static std::optional<LatestCode> decode(QByteArrayView json);
};
