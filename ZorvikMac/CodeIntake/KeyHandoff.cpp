// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZorvikMac/CodeIntake/KeyHandoff.h"

#include "platform/AesGcm.h"
#include "platform/KeyAgreement.h"

namespace KeyHandoff {

namespace {

const auto kPairingID = QStringLiteral("pairingID");
const auto kPhoneKey = QStringLiteral("phoneKey");
const auto kSealedKey = QStringLiteral("sealedKey");
const auto kExpiresAt = QStringLiteral("expiresAt");

}  // namespace

QByteArray handoffKey(QByteArrayView sharedSecret, QByteArrayView pairingID,
                      QByteArrayView desktopPublicKey, QByteArrayView phonePublicKey) {
    const QByteArray context =
        QByteArray(info) + desktopPublicKey.toByteArray() + phonePublicKey.toByteArray();
    return KeyAgreement::hkdfSha256(sharedSecret, pairingID, context, AesGcm::keySize);
}

CloudRecord seal(const SymmetricKey& syncKey, const PairingURI& uri, Instant expiresAt,
                 std::optional<QByteArray> phonePrivateKey, std::optional<QByteArray> nonce) {
    KeyAgreement::KeyPair phone =
        phonePrivateKey ? KeyAgreement::fromPrivateKey(*phonePrivateKey) : KeyAgreement::generate();
    QByteArray shared = KeyAgreement::sharedSecret(phone.privateKey, uri.publicKey);
    QByteArray key = handoffKey(shared, uri.pairingID, uri.publicKey, phone.publicKey);
    const QByteArray sealed =
        AesGcm::seal(key, nonce.value_or(AesGcm::randomBytes(AesGcm::nonceSize)), syncKey.bytes(),
                     uri.pairingID);
    AesGcm::scrub(shared);
    AesGcm::scrub(key);
    AesGcm::scrub(phone.privateKey);

    CloudRecord record{QString::fromLatin1(recordName), QString::fromLatin1(recordType), {}};
    record.fields.insert(kPairingID, uri.pairingID);
    record.fields.insert(kPhoneKey, phone.publicKey);
    record.fields.insert(kSealedKey, sealed);
    record.fields.insert(kExpiresAt, expiresAt);
    return record;
}

QString describe(Rejection rejection) {
    switch (rejection) {
        case Rejection::malformed:
            return QStringLiteral("a hand-off record without its fields");
        case Rejection::otherPairing:
            return QStringLiteral("a hand-off for another pairing");
        case Rejection::stale:
            return QStringLiteral("a hand-off record that has expired");
        case Rejection::tooFarAhead:
            return QStringLiteral(
                "a hand-off record that claims to stay valid for more than 10 "
                "minutes");
        case Rejection::wrongLength:
            return QStringLiteral("a hand-off whose phone key or sealed key has the wrong length");
        case Rejection::weakPhoneKey:
            return QStringLiteral("a hand-off whose phone key is not a usable key");
        case Rejection::doesNotOpen:
            return QStringLiteral("a hand-off whose seal does not open");
    }
    return {};
}

std::variant<SymmetricKey, Rejection> open(const CloudRecord& record, const PairingOffer& offer,
                                           Instant now) {
    const auto pairingID = record.field<QByteArray>(kPairingID);
    const auto phoneKey = record.field<QByteArray>(kPhoneKey);
    const auto sealed = record.field<QByteArray>(kSealedKey);
    const auto expiresAt = record.field<Instant>(kExpiresAt);
    if (!pairingID || !phoneKey || !sealed || !expiresAt) {
        return Rejection::malformed;
    }
    if (*pairingID != offer.pairingID()) {
        return Rejection::otherPairing;
    }
    if (*expiresAt <= now) {
        return Rejection::stale;
    }
    if (secondsBetween(now, *expiresAt) > maximumLifetime) {
        return Rejection::tooFarAhead;
    }
    if (phoneKey->size() != KeyAgreement::keySize || sealed->size() != sealedKeySize) {
        return Rejection::wrongLength;
    }
    QByteArray shared;
    try {
        shared = KeyAgreement::sharedSecret(offer.privateKey(), *phoneKey);
    } catch (const KeyAgreementError&) {
        return Rejection::weakPhoneKey;
    }
    QByteArray key = handoffKey(shared, offer.pairingID(), offer.publicKey(), *phoneKey);
    AesGcm::scrub(shared);
    std::optional<SymmetricKey> syncKey;
    try {
        syncKey = SymmetricKey::fromBytes(AesGcm::open(key, *sealed, offer.pairingID()));
    } catch (const AesGcmError&) {
    }
    AesGcm::scrub(key);
    if (!syncKey) {
        return Rejection::doesNotOpen;
    }
    return *syncKey;
}

}  // namespace KeyHandoff
