// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include "platform/Error.h"

// The AES layer's own errors, with the platform's generic texts.
class AesGcmError : public Error {
public:
    enum class Kind { incorrectKeySize, incorrectParameterSize, authenticationFailure, failure };

    explicit AesGcmError(Kind kind) : kind_(kind) {}
    Kind kind() const { return kind_; }
    QString localizedDescription() const override;
    bool operator==(const AesGcmError& other) const { return kind_ == other.kind_; }

private:
    Kind kind_;
};

// AES-256-GCM in its combined form: 12-byte nonce, ciphertext, 16-byte tag; additional
// authenticated data where given. One implementation, bound at link time (it has no fake: tests use
// known-answer vectors).
namespace AesGcm {
constexpr qsizetype keySize = 32;
constexpr qsizetype nonceSize = 12;
constexpr qsizetype tagSize = 16;

// Seals with a fresh random nonce. Throws AesGcmError.
QByteArray seal(QByteArrayView key, QByteArrayView plaintext);
// Seals with the given nonce, binding `aad` to the box.
QByteArray seal(QByteArrayView key, QByteArrayView nonce, QByteArrayView plaintext,
                QByteArrayView aad = {});
// Opens a combined box. Throws AesGcmError: incorrectParameterSize for a box shorter than
// nonce + tag, authenticationFailure for a wrong key, altered bytes or other `aad`.
QByteArray open(QByteArrayView key, QByteArrayView combined, QByteArrayView aad = {});

// Cryptographically secure random bytes.
QByteArray randomBytes(qsizetype count);
// Overwrites the buffer that holds `secret` with zeros in a way the compiler does not leave out,
// then empties it. Arrays sharing that buffer see the zeros too; a copy made apart is untouched.
void scrub(QByteArray& secret);
}  // namespace AesGcm
