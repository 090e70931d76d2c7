// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <optional>
#include <variant>

#include "ZorvikMac/CodeIntake/PairingOffer.h"
#include "ZorvikMac/CodeIntake/SymmetricKey.h"
#include "platform/CloudRecord.h"
#include "platform/Instant.h"

// The record "key-handoff" (type "KeyHandoff") in which the phone returns the sync key sealed to
// the desktop's pairing offer:
//   pairingID  bytes, 16   the offer's pairing ID
//   phoneKey   bytes, 32   the phone's one-time X25519 public key
//   sealedKey  bytes, 60   AES-256-GCM of the sync key, combined form, the pairing ID as AAD
//   expiresAt  date        at most 10 minutes ahead
// under K = HKDF-SHA256(X25519(phone private, desktop public), salt = pairing ID,
// info = "zorvik key hand-off v1" ‖ desktop public key ‖ phone public key, 32 bytes).
namespace KeyHandoff {

constexpr auto recordName = "key-handoff";
constexpr auto recordType = "KeyHandoff";
constexpr auto info = "zorvik key hand-off v1";
constexpr qsizetype sealedKeySize = 60;

// K for a shared secret. Throws KeyAgreementError.
QByteArray handoffKey(QByteArrayView sharedSecret, QByteArrayView pairingID,
                      QByteArrayView desktopPublicKey, QByteArrayView phonePublicKey);

// The phone's side: the record that hands `syncKey` to the offer of `uri`. The phone's private
// key and the nonce are fresh unless given (known answers). Throws KeyAgreementError,
// AesGcmError.
CloudRecord seal(const SymmetricKey& syncKey, const PairingURI& uri, Instant expiresAt,
                 std::optional<QByteArray> phonePrivateKey = std::nullopt,
                 std::optional<QByteArray> nonce = std::nullopt);

// No phone writes a hand-off for longer; one that claims more was not made by a phone of ours.
constexpr double maximumLifetime = 600;

// Why the desktop ignores a hand-off record.
enum class Rejection {
    malformed,     // a field missing or of another type
    otherPairing,  // the pairing ID is not this offer's
    stale,         // expiresAt has passed
    tooFarAhead,   // expiresAt is more than maximumLifetime ahead
    wrongLength,   // phoneKey is not 32 bytes, or sealedKey not 60
    weakPhoneKey,  // the key agreement gives all zeros
    doesNotOpen,   // the seal does not open under K
};
// The words of the one log line a rejection gets; never a key.
QString describe(Rejection rejection);

// The desktop's side: the sync key, if `record` answers `offer` at `now`.
std::variant<SymmetricKey, Rejection> open(const CloudRecord& record, const PairingOffer& offer,
                                           Instant now);

}  // namespace KeyHandoff
