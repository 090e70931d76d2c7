// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <functional>

#include "platform/AesGcm.h"
#include "tests/support/PythonReference.h"
#include "tests/support/QStringPrinter.h"

namespace {

// Python's cryptography package seals with the same key, nonce and text, and opens the box we
// sealed with a random nonce: both sides must agree byte for byte, and each must open what the
// other sealed.
const char* const kReference = R"(
import sys
from cryptography.hazmat.primitives.ciphers.aead import AESGCM
key, nonce, plaintext, ours = (bytes.fromhex(a) for a in sys.argv[1:5])
print((nonce + AESGCM(key).encrypt(nonce, plaintext, None)).hex(),
      AESGCM(key).decrypt(ours[:12], ours[12:], None).hex(), sep="/")
)";

TEST(AesGcm, PublishedTestVectors) {
    // Test cases 13 and 14 of the original GCM paper: 256-bit zero key, zero nonce.
    const QByteArray key(32, '\0');
    const QByteArray nonce(12, '\0');
    EXPECT_EQ(AesGcm::seal(key, nonce, QByteArray()).toHex(),
              nonce.toHex() + "530f8afbc74536b9a963b4f1c4cb738b");
    EXPECT_EQ(AesGcm::seal(key, nonce, QByteArray(16, '\0')).toHex(),
              nonce.toHex() + "cea7403d4d606b6e074ec5d3baf39d18d0d1c8a799996bf0265b98b5d48ab919");
}

TEST(AesGcm, AgreesWithAnIndependentImplementation) {
    const QByteArray key =
        QByteArray::fromHex("feffe9928665731c6d6a8f9467308308feffe9928665731c6d6a8f9467308308");
    const QByteArray nonce = QByteArray::fromHex("cafebabefacedbaddecaf888");
    for (const QByteArray& plaintext :
         {QByteArray(), QByteArray("{\"code\":\"123456\"}"), QByteArray(1000, 'x'),
          QByteArray("a fresh nonce each time")}) {
        SCOPED_TRACE(plaintext.size());
        const QList<QByteArray> reference =
            runPythonReference(kReference, {key.toHex(), nonce.toHex(), plaintext.toHex(),
                                            AesGcm::seal(key, plaintext).toHex()})
                .split('/');
        ASSERT_EQ(reference.size(), 2);
        EXPECT_EQ(AesGcm::seal(key, nonce, plaintext).toHex(), reference[0]);
        EXPECT_EQ(AesGcm::open(key, QByteArray::fromHex(reference[0])), plaintext);
        EXPECT_EQ(reference[1], plaintext.toHex());
    }
}

// What opening threw, as the text a user is shown: the platform's generic one, which names the
// kind by its index (0 a wrong key size, 1 a wrong box size, 2 a failed authentication).
QString failureOf(const std::function<void()>& open) {
    try {
        open();
    } catch (const AesGcmError& error) {
        return error.localizedDescription();
    }
    return QStringLiteral("no AesGcmError");
}

QString aesGcmError(int index) {
    return QString::fromUtf8("The operation couldn\u2019t be completed. (AesGcmError error %1.)")
        .arg(index);
}

TEST(AesGcm, RejectsShortBoxesWrongKeysAndAlteredBytesAndSealsWithAFreshNonce) {
    const QByteArray key(32, 'k');
    const QByteArray box = AesGcm::seal(key, "secret");
    EXPECT_NE(box.left(12), AesGcm::seal(key, "secret").left(12));
    EXPECT_EQ(failureOf([&] { AesGcm::open(QByteArray(16, 'k'), box); }), aesGcmError(0));
    EXPECT_EQ(failureOf([&] { AesGcm::open(key, box.left(27)); }), aesGcmError(1));
    EXPECT_EQ(failureOf([&] { AesGcm::open(QByteArray(32, 'x'), box); }), aesGcmError(2));
    for (qsizetype at : {qsizetype(0), qsizetype(12), box.size() - 1}) {
        QByteArray altered = box;
        altered[at] = static_cast<char>(altered[at] ^ 0x01);
        EXPECT_EQ(failureOf([&] { AesGcm::open(key, altered); }), aesGcmError(2)) << "byte " << at;
    }
}

TEST(AesGcm, ScrubbingWipesTheBufferThatHeldTheSecretNotACopy) {
    QByteArray secret = AesGcm::randomBytes(32);
    ASSERT_NE(secret, QByteArray(32, '\0'));
    // A second array on the same buffer, as a copy passed by value leaves one.
    const QByteArray sameBuffer = secret;
    const QByteArray apart(secret.constData(), secret.size());
    AesGcm::scrub(secret);
    EXPECT_TRUE(secret.isEmpty());
    EXPECT_EQ(sameBuffer, QByteArray(32, '\0')) << "the buffer that held the secret kept it";
    EXPECT_NE(apart, QByteArray(32, '\0')) << "a copy of its own is the holder's business";

    // Data that is not on the heap is no secret, and is left alone rather than written to.
    QByteArray literal = QByteArrayLiteral("not a secret");
    AesGcm::scrub(literal);
    EXPECT_TRUE(literal.isEmpty());
    EXPECT_EQ(QByteArrayLiteral("not a secret"), "not a secret");
}

}  // namespace
