// SPDX-License-Identifier: GPL-3.0-or-later
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <memory>

#include "platform/AesGcm.h"

namespace {

using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

CipherContext newContext() {
    CipherContext context(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
    if (!context) {
        throw AesGcmError(AesGcmError::Kind::failure);
    }
    return context;
}

const unsigned char* bytes(QByteArrayView view) {
    return reinterpret_cast<const unsigned char*>(view.data());
}

unsigned char* bytes(QByteArray& array) {
    return reinterpret_cast<unsigned char*>(array.data());
}

void check(int result) {
    if (result != 1) {
        throw AesGcmError(AesGcmError::Kind::failure);
    }
}

}  // namespace

QString AesGcmError::localizedDescription() const {
    return genericErrorDescription(QStringLiteral("AesGcmError"), static_cast<int>(kind_));
}

namespace AesGcm {

QByteArray seal(QByteArrayView key, QByteArrayView plaintext) {
    return seal(key, randomBytes(nonceSize), plaintext);
}

QByteArray seal(QByteArrayView key, QByteArrayView nonce, QByteArrayView plaintext,
                QByteArrayView aad) {
    if (key.size() != keySize) {
        throw AesGcmError(AesGcmError::Kind::incorrectKeySize);
    }
    if (nonce.size() != nonceSize) {
        throw AesGcmError(AesGcmError::Kind::incorrectParameterSize);
    }
    auto context = newContext();
    QByteArray combined(nonceSize + plaintext.size() + tagSize, Qt::Uninitialized);
    std::copy(nonce.begin(), nonce.end(), combined.begin());
    check(EVP_EncryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr));
    check(EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_IVLEN, nonceSize, nullptr));
    check(EVP_EncryptInit_ex(context.get(), nullptr, nullptr, bytes(key), bytes(nonce)));
    int written = 0;
    int total = 0;
    if (!aad.isEmpty()) {
        check(EVP_EncryptUpdate(context.get(), nullptr, &written, bytes(aad),
                                static_cast<int>(aad.size())));
    }
    if (!plaintext.isEmpty()) {
        check(EVP_EncryptUpdate(context.get(), bytes(combined) + nonceSize, &written,
                                bytes(plaintext), static_cast<int>(plaintext.size())));
        total = written;
    }
    check(EVP_EncryptFinal_ex(context.get(), bytes(combined) + nonceSize + total, &written));
    total += written;
    check(EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_GET_TAG, tagSize,
                              bytes(combined) + nonceSize + total));
    return combined;
}

QByteArray open(QByteArrayView key, QByteArrayView combined, QByteArrayView aad) {
    if (key.size() != keySize) {
        throw AesGcmError(AesGcmError::Kind::incorrectKeySize);
    }
    if (combined.size() < nonceSize + tagSize) {
        throw AesGcmError(AesGcmError::Kind::incorrectParameterSize);
    }
    const QByteArrayView nonce = combined.first(nonceSize);
    const QByteArrayView ciphertext =
        combined.sliced(nonceSize, combined.size() - nonceSize - tagSize);
    QByteArray tag = combined.last(tagSize).toByteArray();

    auto context = newContext();
    QByteArray plaintext(ciphertext.size(), Qt::Uninitialized);
    check(EVP_DecryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr));
    check(EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_IVLEN, nonceSize, nullptr));
    check(EVP_DecryptInit_ex(context.get(), nullptr, nullptr, bytes(key), bytes(nonce)));
    int written = 0;
    int total = 0;
    if (!aad.isEmpty()) {
        check(EVP_DecryptUpdate(context.get(), nullptr, &written, bytes(aad),
                                static_cast<int>(aad.size())));
    }
    if (!ciphertext.isEmpty()) {
        check(EVP_DecryptUpdate(context.get(), bytes(plaintext), &written, bytes(ciphertext),
                                static_cast<int>(ciphertext.size())));
        total = written;
    }
    check(EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_TAG, tagSize, tag.data()));
    if (EVP_DecryptFinal_ex(context.get(), bytes(plaintext) + total, &written) != 1) {
        throw AesGcmError(AesGcmError::Kind::authenticationFailure);
    }
    plaintext.truncate(total + written);
    return plaintext;
}

QByteArray randomBytes(qsizetype count) {
    QByteArray random(count, Qt::Uninitialized);
    if (count > 0 && RAND_bytes(bytes(random), static_cast<int>(count)) != 1) {
        throw AesGcmError(AesGcmError::Kind::failure);
    }
    return random;
}

void scrub(QByteArray& secret) {
    // Not data(): on an array that shares its buffer it makes a copy first, and the copy would
    // be wiped while the buffer that held the secret stays as it was. Every holder of that buffer
    // sees zeros from now on. Only a buffer on the heap can be wiped; static data is no secret.
    if (!secret.isEmpty() && secret.data_ptr().isMutable()) {
        OPENSSL_cleanse(const_cast<char*>(secret.constData()),
                        static_cast<std::size_t>(secret.size()));
    }
    secret.clear();
}

}  // namespace AesGcm
