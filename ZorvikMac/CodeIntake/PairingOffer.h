// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <variant>

#include "platform/Instant.h"

// What the desktop's QR code says: zorvik://pair?v=1&id=<pairing ID>&pk=<desktop public key>,
// both values base64url without padding.
struct PairingURI {
    static constexpr qsizetype pairingIDSize = 16;
    static constexpr qsizetype publicKeySize = 32;

    QByteArray pairingID;
    QByteArray publicKey;

    QString text() const;
    // The offer a text names, or why it names none.
    static std::variant<PairingURI, QString> parse(const QString& text);

    bool operator==(const PairingURI&) const = default;
};

// One offer to receive the sync key: a fresh X25519 key pair and pairing ID that live only in
// memory, for 10 minutes at most.
class PairingOffer {
public:
    static constexpr double lifetime = 600;

    // Fresh keys and ID from the secure random source. Throws KeyAgreementError.
    static PairingOffer make(Instant now);
    // An offer of given keys, for known answers. The buffer of `privateKey` is wiped: the offer
    // keeps a copy of its own. Throws KeyAgreementError.
    static PairingOffer fromKeys(QByteArray pairingID, QByteArray privateKey, Instant expiresAt);

    PairingOffer(PairingOffer&&) noexcept = default;
    PairingOffer& operator=(PairingOffer&&) noexcept = default;
    PairingOffer(const PairingOffer&) = delete;
    PairingOffer& operator=(const PairingOffer&) = delete;
    ~PairingOffer();

    const QByteArray& pairingID() const { return uri_.pairingID; }
    const QByteArray& publicKey() const { return uri_.publicKey; }
    const QByteArray& privateKey() const { return privateKey_; }
    Instant expiresAt() const { return expiresAt_; }
    const PairingURI& uri() const { return uri_; }

    // Overwrites the private key; the offer can open nothing after.
    void scrub();

private:
    PairingOffer(PairingURI uri, QByteArray privateKey, Instant expiresAt)
        : uri_(std::move(uri)), privateKey_(std::move(privateKey)), expiresAt_(expiresAt) {}

    PairingURI uri_;
    QByteArray privateKey_;
    Instant expiresAt_;
};
