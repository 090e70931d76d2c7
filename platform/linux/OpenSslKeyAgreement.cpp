// SPDX-License-Identifier: GPL-3.0-or-later
#include <openssl/evp.h>
#include <openssl/kdf.h>

#include <memory>

#include "platform/KeyAgreement.h"

namespace {

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using KeyContext = std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)>;

const unsigned char* bytes(QByteArrayView view) {
    return reinterpret_cast<const unsigned char*>(view.data());
}

[[noreturn]] void fail(KeyAgreementError::Kind kind = KeyAgreementError::Kind::failure) {
    throw KeyAgreementError(kind);
}

void check(int result) {
    if (result != 1) {
        fail();
    }
}

QByteArray rawKey(EVP_PKEY* key, bool privatePart) {
    QByteArray raw(KeyAgreement::keySize, Qt::Uninitialized);
    std::size_t length = raw.size();
    auto* out = reinterpret_cast<unsigned char*>(raw.data());
    check(privatePart ? EVP_PKEY_get_raw_private_key(key, out, &length)
                      : EVP_PKEY_get_raw_public_key(key, out, &length));
    if (length != std::size_t(KeyAgreement::keySize)) {
        fail();
    }
    return raw;
}

KeyAgreement::KeyPair pairOf(EVP_PKEY* key) {
    return {rawKey(key, true), rawKey(key, false)};
}

}  // namespace

QString KeyAgreementError::localizedDescription() const {
    return genericErrorDescription(QStringLiteral("KeyAgreementError"), static_cast<int>(kind_));
}

namespace KeyAgreement {

KeyPair generate() {
    KeyContext context(EVP_PKEY_CTX_new_id(EVP_PKEY_X25519, nullptr), &EVP_PKEY_CTX_free);
    if (!context) {
        fail();
    }
    check(EVP_PKEY_keygen_init(context.get()));
    EVP_PKEY* made = nullptr;
    check(EVP_PKEY_keygen(context.get(), &made));
    const Key key(made, &EVP_PKEY_free);
    return pairOf(key.get());
}

KeyPair fromPrivateKey(QByteArrayView privateKey) {
    if (privateKey.size() != keySize) {
        fail(KeyAgreementError::Kind::incorrectKeySize);
    }
    const Key key(EVP_PKEY_new_raw_private_key(EVP_PKEY_X25519, nullptr, bytes(privateKey),
                                               std::size_t(keySize)),
                  &EVP_PKEY_free);
    if (!key) {
        fail();
    }
    return pairOf(key.get());
}

QByteArray sharedSecret(QByteArrayView privateKey, QByteArrayView peerPublicKey) {
    if (privateKey.size() != keySize || peerPublicKey.size() != keySize) {
        fail(KeyAgreementError::Kind::incorrectKeySize);
    }
    const Key own(EVP_PKEY_new_raw_private_key(EVP_PKEY_X25519, nullptr, bytes(privateKey),
                                               std::size_t(keySize)),
                  &EVP_PKEY_free);
    const Key peer(EVP_PKEY_new_raw_public_key(EVP_PKEY_X25519, nullptr, bytes(peerPublicKey),
                                               std::size_t(keySize)),
                   &EVP_PKEY_free);
    if (!own || !peer) {
        fail();
    }
    KeyContext context(EVP_PKEY_CTX_new(own.get(), nullptr), &EVP_PKEY_CTX_free);
    if (!context) {
        fail();
    }
    check(EVP_PKEY_derive_init(context.get()));
    check(EVP_PKEY_derive_set_peer(context.get(), peer.get()));
    QByteArray secret(keySize, Qt::Uninitialized);
    std::size_t length = secret.size();
    // OpenSSL itself refuses an all-zero result; either way the peer key is of small order.
    if (EVP_PKEY_derive(context.get(), reinterpret_cast<unsigned char*>(secret.data()), &length) !=
            1 ||
        length != std::size_t(keySize) || secret.count('\0') == keySize) {
        fail(KeyAgreementError::Kind::weakPublicKey);
    }
    return secret;
}

QByteArray hkdfSha256(QByteArrayView inputKey, QByteArrayView salt, QByteArrayView info,
                      qsizetype length) {
    KeyContext context(EVP_PKEY_CTX_new_id(EVP_PKEY_HKDF, nullptr), &EVP_PKEY_CTX_free);
    if (!context || length <= 0) {
        fail();
    }
    check(EVP_PKEY_derive_init(context.get()));
    check(EVP_PKEY_CTX_set_hkdf_md(context.get(), EVP_sha256()));
    // No salt is a salt of zeros (RFC 5869). OpenSSL refuses a salt without a pointer, as an
    // empty view has, and derives the same when none is set.
    if (!salt.isEmpty()) {
        check(EVP_PKEY_CTX_set1_hkdf_salt(context.get(), bytes(salt), int(salt.size())));
    }
    check(EVP_PKEY_CTX_set1_hkdf_key(context.get(), bytes(inputKey), int(inputKey.size())));
    check(EVP_PKEY_CTX_add1_hkdf_info(context.get(), bytes(info), int(info.size())));
    QByteArray out(length, Qt::Uninitialized);
    std::size_t outLength = out.size();
    check(EVP_PKEY_derive(context.get(), reinterpret_cast<unsigned char*>(out.data()), &outLength));
    return out;
}

}  // namespace KeyAgreement
