// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include "platform/Error.h"

// Why a key agreement failed.
class KeyAgreementError : public Error {
public:
    enum class Kind { incorrectKeySize, weakPublicKey, failure };

    explicit KeyAgreementError(Kind kind) : kind_(kind) {}
    Kind kind() const { return kind_; }
    QString localizedDescription() const override;

private:
    Kind kind_;
};

// X25519 key agreement and HKDF-SHA256, the two steps that turn a one-time key pair and the
// peer's public key into a shared 32-byte key. One implementation, bound at link time; tests
// use known-answer vectors.
namespace KeyAgreement {
constexpr qsizetype keySize = 32;

struct KeyPair {
    QByteArray privateKey;
    QByteArray publicKey;
};

// A fresh key pair from the system's secure random source. Throws KeyAgreementError.
KeyPair generate();
// The pair of a given private key, for known answers. Throws KeyAgreementError.
KeyPair fromPrivateKey(QByteArrayView privateKey);
// X25519(privateKey, peerPublicKey). Throws KeyAgreementError: incorrectKeySize, or
// weakPublicKey when the result is all zeros (a peer key of small order).
QByteArray sharedSecret(QByteArrayView privateKey, QByteArrayView peerPublicKey);
// HKDF-SHA256 (RFC 5869), `length` bytes. Throws KeyAgreementError.
QByteArray hkdfSha256(QByteArrayView inputKey, QByteArrayView salt, QByteArrayView info,
                      qsizetype length);
}  // namespace KeyAgreement
