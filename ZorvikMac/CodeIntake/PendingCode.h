// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QUuid>
#include <cstdint>
#include <optional>

#include "platform/Instant.h"

class SymmetricKey;

// One code as the phone sealed it.
//
// A sealed pending code is "ZRVK", the format version byte 1, then an AES-256-GCM box in its
// combined form (12-byte nonce, ciphertext, 16-byte tag) around the JSON of this record. The
// magic and version lie outside the authenticated part.
struct PendingCode {
    QUuid accountID;
    QString accountName;
    std::optional<QString> serviceID;
    QString code;
    Instant issuedAt;
    Instant expiresAt;
    QString fromDevice;

    static constexpr std::uint8_t formatVersion = 1;
    static const QByteArray& magic();

    bool operator==(const PendingCode&) const = default;

    // Opens a sealed blob. Throws PendingCodeError, AesGcmError or JsonDecodingError, in the
    // order the blob's parts are checked; never returns a partly filled record.
    static PendingCode open(const QByteArray& blob, const SymmetricKey& key);
    // The inverse of open, with a fresh random nonce. Throws PendingCodeError::sealFailed.
    QByteArray seal(const SymmetricKey& key) const;

    // The JSON payload: dates as internet date-times with whole seconds, serviceID written
    // only when present. Throws JsonDecodingError; unknown keys are ignored.
    static PendingCode decode(const QByteArray& json);
    QByteArray encode() const;
};
