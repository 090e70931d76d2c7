// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QUuid>
#include <functional>
#include <memory>

#include "ZorvikMac/CodeIntake/CloudSyncCrypto.h"
#include "ZorvikMac/CodeIntake/KeyHandoff.h"
#include "ZorvikMac/CodeIntake/KeyPairing.h"
#include "ZorvikMac/CodeIntake/PairingOffer.h"
#include "ZorvikMac/CodeIntake/PendingCode.h"
#include "ZorvikMac/CodeIntake/SyncKeyText.h"
#include "platform/AesGcm.h"
#include "platform/KeyAgreement.h"
#include "platform/linux/cloud/CloudRecordCoding.h"
#include "tests/support/FakeCloudContainer.h"
#include "tests/support/FakeKeychain.h"
#include "tests/support/ManualMainActor.h"
#include "tests/support/QStringPrinter.h"
#include "tests/support/RecordingSystemLog.h"

namespace {

using KeyHandoff::Rejection;
using State = KeyPairing::State;

const auto hex = [](const char* text) { return QByteArray::fromHex(text); };
const auto rejected = [](Rejection rejection) {
    return KeyHandoff::describe(rejection).toStdString();
};

// What open() answered, as text a failing expectation shows: "key <hex>" or the rejection.
std::string outcome(const std::variant<SymmetricKey, Rejection>& opened) {
    const auto* key = std::get_if<SymmetricKey>(&opened);
    return key ? "key " + key->bytes().toHex().toStdString()
               : rejected(std::get<Rejection>(opened));
}

// RFC 7748 section 6.1, and RFC 5869 test cases 1 and 3 (the latter without salt and info).
TEST(KeyAgreement, Rfc7748Section6Point1AndRfc5869TestCases1And3) {
    const QByteArray alice =
        hex("77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a");
    const QByteArray bob = hex("5dab087e624a8a4b79e17f8b83800ee66f3bb1292618b6fd1c2f8b27ff88e0eb");
    const QByteArray alicePublic = KeyAgreement::fromPrivateKey(alice).publicKey;
    const QByteArray bobPublic = KeyAgreement::fromPrivateKey(bob).publicKey;
    const char* const shared = "4a5d9d5ba4ce2de1728e3bf480350f25e07e21c947d19e3376f09b3c1e161742";
    const QByteArray ikm(22, '\x0b');
    const std::pair<QByteArray, const char*> answers[] = {
        {alicePublic, "8520f0098930a754748b7ddcb43ef75a0dbf3a0d26381af4eba4a98eaa9b4e6a"},
        {bobPublic, "de9edb7d7b7dc1b4d35b61c2ece435373f8343c85b78674dadfc7e146f882b4f"},
        {KeyAgreement::sharedSecret(alice, bobPublic), shared},
        {KeyAgreement::sharedSecret(bob, alicePublic), shared},
        {KeyAgreement::hkdfSha256(ikm, hex("000102030405060708090a0b0c"),
                                  hex("f0f1f2f3f4f5f6f7f8f9"), 42),
         "3cb25f25faacd57a90434f64d0362f2a2d2d0a90cf1a5a4c5db02d56ecc4c5bf34007208d5b887185865"},
        {KeyAgreement::hkdfSha256(ikm, {}, {}, 42),
         "8da4e775a563c18f715f802a063c5a31b8a11f5c5ee1879ec3454e5f3c738d2d9d201395faa4b61a96c8"},
    };
    for (const auto& [answer, expected] : answers) {
        EXPECT_EQ(answer.toHex(), expected);
    }
}

KeyAgreementError::Kind agreementFailure(const std::function<void()>& call) {
    try {
        call();
    } catch (const KeyAgreementError& error) {
        return error.kind();
    }
    ADD_FAILURE() << "no KeyAgreementError";
    return KeyAgreementError::Kind::failure;
}

// Points of small order: the agreement with any private key gives all zeros. The last two
// have the top bit set, which X25519 ignores.
const char* const kSmallOrderPoints[] = {
    "0000000000000000000000000000000000000000000000000000000000000000",
    "0100000000000000000000000000000000000000000000000000000000000000",
    "e0eb7a7c3b41b8ae1656e3faf19fc46ada098deb9c32b1fd866205165f49b800",
    "5f9c95bca3508c24b1d0b1559c83ef5b04445cc4581c8e86d8224eddd09f1157",
    "ecffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f",
    "edffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f",
    "eeffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f",
    "0000000000000000000000000000000000000000000000000000000000000080",
    "0100000000000000000000000000000000000000000000000000000000000080",
};

TEST(KeyAgreement, RefusesWrongSizesAndPointsOfSmallOrder) {
    using Kind = KeyAgreementError::Kind;
    const QByteArray own = KeyAgreement::generate().privateKey;
    const QByteArray peer = KeyAgreement::generate().publicKey;
    const std::function<void()> wrongSizes[] = {
        [&] { KeyAgreement::sharedSecret(own.left(31), peer); },
        [&] { KeyAgreement::sharedSecret(own, peer + 'x'); },
        [&] { KeyAgreement::sharedSecret(own, QByteArray()); },
        [&] { KeyAgreement::fromPrivateKey(own.left(31)); },
    };
    for (const auto& call : wrongSizes) {
        EXPECT_EQ(agreementFailure(call), Kind::incorrectKeySize) << "case " << &call - wrongSizes;
    }
    for (const char* point : kSmallOrderPoints) {
        EXPECT_EQ(agreementFailure([&] { KeyAgreement::sharedSecret(own, hex(point)); }),
                  Kind::weakPublicKey)
            << point;
    }
}

const QByteArray kDesktopPrivate =
    hex("101112131415161718191a1b1c1d1e1f202122232425262728292a2b2c2d2e2f");
const auto kPhonePrivate = hex("303132333435363738393a3b3c3d3e3f404142434445464748494a4b4c4d4e4f");
const QByteArray kPairingID = hex("a0a1a2a3a4a5a6a7a8a9aaabacadaeaf");
const QByteArray kNonce = hex("c0c1c2c3c4c5c6c7c8c9cacb");
const QByteArray kSyncKey = hex("e0e1e2e3e4e5e6e7e8e9eaebecedeeeff0f1f2f3f4f5f6f7f8f9fafbfcfdfeff");
constexpr qint64 kNowMs = 1772366400000;
constexpr qint64 kExpiresAtMs = 1772367000000;
const auto kDesktopPublic = hex("d89e3bad79437dbed9f843418304f460ff05c7fe81fe4a9577a804cb9367ff66");
const QString kQrText = QStringLiteral(
    "zorvik://pair?v=1&id=oKGio6SlpqeoqaqrrK2urw&pk=2J47rXlDfb7Z-ENBgwT0YP8Fx_6B_kqVd6gEy5Nn_2Y");
const auto kPhonePublic = hex("34e42d4af5ef94a07a3a84201b889d4cd1a743cb27b11b6a10438a8feb8e5847");
const auto kSharedSecret = hex("6e3c33b4c96fcb38dfa7862eae5bb902fe66cc2a41ca553280ded9dc363c852f");
const auto kHandoffKey = hex("395f616929d6b30f88fcbcff886bb9f2e5f6932f772977bc6aa6a5094931e76b");
const QByteArray kSealedKeyBase64 =
    "wMHCw8TFxsfIycrLIIYfASibhAZHA0UCPokq3EKUFloeKr661K/0IyVx4NpcpabsPP08rySzEVOWS5ZC";
const QByteArray kRecordJson = R"({
  "recordName": "key-handoff",
  "recordType": "KeyHandoff",
  "fields": {
    "pairingID": {
      "type": "BYTES",
      "value": "oKGio6SlpqeoqaqrrK2urw=="
    },
    "phoneKey": {
      "type": "BYTES",
      "value": "NOQtSvXvlKB6OoQgG4idTNGnQ8snsRtqEEOKj+uOWEc="
    },
    "sealedKey": {
      "type": "BYTES",
      "value": "wMHCw8TFxsfIycrLIIYfASibhAZHA0UCPokq3EKUFloeKr661K/0IyVx4NpcpabsPP08rySzEVOWS5ZC"
    },
    "expiresAt": {
      "type": "TIMESTAMP",
      "value": 1772367000000
    }
  }
})";

const Instant kNow{std::chrono::milliseconds(kNowMs)};
const Instant kExpiresAt{std::chrono::milliseconds(kExpiresAtMs)};

PairingOffer vectorOffer() {
    // A copy apart: the offer wipes the buffer it is given.
    return PairingOffer::fromKeys(kPairingID,
                                  QByteArray(kDesktopPrivate.constData(), kDesktopPrivate.size()),
                                  addingSeconds(kNow, 600));
}

const auto documentedRecord = [] { return CloudRecordCoding::decodeRecordFile(kRecordJson); };

// The offer's text is read back in PairingUri, and the record opened in KeyHandoffOpen.
TEST(HandoffVectors, TheOfferAndTheRecordAreTheDocumentedOnes) {
    const PairingOffer offer = vectorOffer();
    EXPECT_EQ(offer.publicKey(), kDesktopPublic);
    EXPECT_EQ(offer.uri().text(), kQrText);

    EXPECT_EQ(KeyAgreement::fromPrivateKey(kPhonePrivate).publicKey, kPhonePublic);
    EXPECT_EQ(KeyAgreement::sharedSecret(kPhonePrivate, kDesktopPublic), kSharedSecret);
    EXPECT_EQ(KeyAgreement::sharedSecret(kDesktopPrivate, kPhonePublic), kSharedSecret);
    EXPECT_EQ(KeyHandoff::handoffKey(kSharedSecret, kPairingID, kDesktopPublic, kPhonePublic),
              kHandoffKey);

    const CloudRecord record = KeyHandoff::seal(*SymmetricKey::fromBytes(kSyncKey), offer.uri(),
                                                kExpiresAt, kPhonePrivate, kNonce);
    EXPECT_EQ(CloudRecordCoding::encodeRecord(record),
              QJsonDocument::fromJson(kRecordJson).object());
    EXPECT_EQ(record, documentedRecord());
}

TEST(HandoffVectors, TheDocumentShowsWhatTheScriptPrintsAndWhatTheseTestsUse) {
    QFile doc(QStringLiteral(ZORVIK_SOURCE_DIR "/docs/pairing.md"));
    ASSERT_TRUE(doc.open(QIODevice::ReadOnly)) << doc.fileName().toStdString();
    const QByteArray text = doc.readAll();

    QProcess script;
    script.start(QStringLiteral("python3"),
                 {QStringLiteral(ZORVIK_SOURCE_DIR "/tests/support/pairing-vectors.py")});
    ASSERT_TRUE(script.waitForFinished(30000));
    ASSERT_EQ(script.exitCode(), 0) << script.readAllStandardError().toStdString();
    const QByteArray printed = script.readAllStandardOutput();
    ASSERT_FALSE(printed.isEmpty());
    EXPECT_TRUE(text.contains(printed)) << "docs/pairing.md lacks the script's output:\n"
                                        << printed.toStdString();

    for (const QByteArray& value :
         {kDesktopPrivate.toHex(), kPhonePrivate.toHex(), kPairingID.toHex(), kNonce.toHex(),
          kSyncKey.toHex(), kDesktopPublic.toHex(), kQrText.toLatin1(), kPhonePublic.toHex(),
          kSharedSecret.toHex(), kHandoffKey.toHex(), kSealedKeyBase64, kRecordJson}) {
        EXPECT_TRUE(text.contains(value)) << value.toStdString();
    }
}

QByteArray flipped(QByteArray bytes, qsizetype at) {
    bytes[at] = char(bytes[at] ^ 0x01);
    return bytes;
}

TEST(KeyHandoffOpen, OpensTheGenuineRecordUntilItExpiresAndIgnoresEveryOther) {
    const QByteArray sealed = QByteArray::fromBase64(kSealedKeyBase64);
    const QByteArray info = QByteArray(KeyHandoff::info) + kDesktopPublic + kPhonePublic;
    // The sync key sealed under another K or with other associated data.
    const auto resealed = [](QByteArrayView key, QByteArrayView aad) {
        return AesGcm::seal(key, kNonce, kSyncKey, aad);
    };
    const auto keyWith = [&](QByteArrayView salt, QByteArrayView context) {
        return KeyAgreement::hkdfSha256(kSharedSecret, salt, context, 32);
    };
    const Instant later = kExpiresAt + std::chrono::milliseconds(1);
    using R = Rejection;

    // The documented record with one field set to another value (none: the field left out),
    // opened at `now`; no rejection: it opens to the sync key.
    struct Case {
        const char* field;
        std::optional<CloudRecord::Value> value;
        std::optional<Rejection> expected;
        Instant now = kNow;
    };
    std::vector<Case> cases = {
        // the documented record as it is, up to the last microsecond before expiresAt
        {"", std::nullopt, std::nullopt},
        {"", std::nullopt, std::nullopt, kExpiresAt - std::chrono::microseconds(1)},
        // exactly ten minutes ahead is still a phone's
        {"expiresAt", addingSeconds(kNow, 600), std::nullopt},
        // another pairing ID, the ID cut short, the ID in hex
        {"pairingID", hex("a0a1a2a3a4a5a6a7a8a9aaabacadaeae"), R::otherPairing},
        {"pairingID", kPairingID.left(15), R::otherPairing},
        {"pairingID", kPairingID.toHex(), R::otherPairing},
        // expiresAt is now, has passed, was an hour ago
        {"expiresAt", kExpiresAt, R::stale, kExpiresAt},
        {"expiresAt", kExpiresAt, R::stale, later},
        {"expiresAt", addingSeconds(kNow, -3600), R::stale},
        // more than ten minutes ahead, by a millisecond or by years
        {"expiresAt", addingSeconds(kNow, 600.001), R::tooFarAhead},
        {"expiresAt", addingSeconds(kNow, 3.0e8), R::tooFarAhead},
        // phone keys of 31, 33 and 0 bytes; sealed keys of 59, 61 and 48 (no nonce) bytes
        {"phoneKey", kPhonePublic.left(31), R::wrongLength},
        {"phoneKey", kPhonePublic + '\0', R::wrongLength},
        {"phoneKey", QByteArray(), R::wrongLength},
        {"sealedKey", sealed.left(59), R::wrongLength},
        {"sealedKey", sealed + '\0', R::wrongLength},
        {"sealedKey", sealed.mid(12), R::wrongLength},
        // a flipped nonce, ciphertext and tag byte
        {"sealedKey", flipped(sealed, 0), R::doesNotOpen},
        {"sealedKey", flipped(sealed, 12), R::doesNotOpen},
        {"sealedKey", flipped(sealed, 59), R::doesNotOpen},
        // sealed without associated data, or with the phone key as associated data
        {"sealedKey", resealed(kHandoffKey, {}), R::doesNotOpen},
        {"sealedKey", resealed(kHandoffKey, kPhonePublic), R::doesNotOpen},
        // K without the salt, without the public keys in info, with them the other way round,
        // and the shared secret itself as K
        {"sealedKey", resealed(keyWith({}, info), kPairingID), R::doesNotOpen},
        {"sealedKey", resealed(keyWith(kPairingID, KeyHandoff::info), kPairingID), R::doesNotOpen},
        {"sealedKey",
         resealed(keyWith(kPairingID, QByteArray(KeyHandoff::info) + kPhonePublic + kDesktopPublic),
                  kPairingID),
         R::doesNotOpen},
        {"sealedKey", resealed(kSharedSecret, kPairingID), R::doesNotOpen},
        // another phone's key beside this seal
        {"phoneKey", KeyAgreement::generate().publicKey, R::doesNotOpen},
        // fields of another type: bytes as base64 text, expiresAt as a number of ms or of seconds
        {"pairingID", QString::fromLatin1(kPairingID.toBase64()), R::malformed},
        {"phoneKey", QString::fromLatin1(kPhonePublic.toBase64()), R::malformed},
        {"sealedKey", QString::fromLatin1(kSealedKeyBase64), R::malformed},
        {"expiresAt", kExpiresAtMs, R::malformed},
        {"expiresAt", double(kExpiresAtMs) / 1000, R::malformed},
        // The checks run in this order: a record wrong in several ways names the first.
        {"pairingID", QByteArray(16, '\0'), R::otherPairing, later},
        {"phoneKey", QByteArray(3, 'k'), R::stale, later},
    };
    for (const char* field : {"pairingID", "phoneKey", "sealedKey", "expiresAt"}) {
        cases.push_back({field, std::nullopt, R::malformed});
    }
    for (const char* point : kSmallOrderPoints) {
        cases.push_back({"phoneKey", hex(point), R::weakPhoneKey});
    }

    PairingOffer offer = vectorOffer();
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const auto& [field, value, expected, now] = cases[i];
        CloudRecord record = documentedRecord();
        record.fields.remove(field);
        if (value) {
            record.fields.insert(field, *value);
        }
        EXPECT_EQ(outcome(KeyHandoff::open(record, offer, now)),
                  expected ? rejected(*expected) : "key " + kSyncKey.toHex().toStdString())
            << "case " << i << ", " << field;
    }
    QSet<QString> words;  // the cases above tell the rejections apart by them
    for (Rejection rejection : {R::malformed, R::otherPairing, R::stale, R::tooFarAhead,
                                R::wrongLength, R::weakPhoneKey, R::doesNotOpen}) {
        words.insert(KeyHandoff::describe(rejection));
    }
    EXPECT_EQ(words.size(), 7) << "each rejection has log words of its own";
    EXPECT_FALSE(words.contains(QString()));

    offer.scrub();
    EXPECT_TRUE(offer.privateKey().isEmpty());
    EXPECT_TRUE(
        std::holds_alternative<Rejection>(KeyHandoff::open(documentedRecord(), offer, kNow)))
        << "a scrubbed offer opens nothing";
}

TEST(KeyHandoffSeal, FreshOffersRoundTripThroughTheirTextAndFreshPhoneKeysAndNoncesStillOpen) {
    for (int i = 0; i < 50; ++i) {
        const PairingOffer offer = PairingOffer::make(kNow);
        EXPECT_EQ(offer.expiresAt(), addingSeconds(kNow, 600));
        const auto parsed = PairingURI::parse(offer.uri().text());
        ASSERT_TRUE(std::holds_alternative<PairingURI>(parsed)) << offer.uri().text().toStdString();
        EXPECT_EQ(std::get<PairingURI>(parsed), offer.uri());
    }
    const PairingOffer offer = PairingOffer::make(kNow);
    const SymmetricKey syncKey = SymmetricKey::random();
    const CloudRecord first = KeyHandoff::seal(syncKey, offer.uri(), addingSeconds(kNow, 60));
    const CloudRecord second = KeyHandoff::seal(syncKey, offer.uri(), addingSeconds(kNow, 60));
    EXPECT_NE(first.field<QByteArray>("phoneKey"), second.field<QByteArray>("phoneKey"));
    EXPECT_NE(first.field<QByteArray>("sealedKey")->left(12),
              second.field<QByteArray>("sealedKey")->left(12));
    for (const CloudRecord& record : {first, second}) {
        EXPECT_EQ(outcome(KeyHandoff::open(record, offer, kNow)),
                  "key " + syncKey.bytes().toHex().toStdString());
    }
}

TEST(PairingUri, ParsesTheOfferAndRefusesEverythingElse) {
    // The texts, with ID and PK for the offer's id and key, by the words of their refusal ("" for
    // none). The id's last character carries 4 unused bits, which must be zero ("x" has them set).
    const std::pair<const char*, QStringList> cases[] = {
        {"",
         {"zorvik://pair?v=1&id=ID&pk=PK", "  zorvik://pair?v=1&id=ID&pk=PK\n",
          "zorvik://pair?pk=PK&id=ID&v=1", "zorvik://pair/?v=1&id=ID&pk=PK",
          "zorvik://pair?v=1&id=ID&pk=PK&later=yes",
          "zorvik://pair?v=1&id=%6FKGio6SlpqeoqaqrrK2urw&pk=PK"}},
        {"not a Zorvik pairing code",
         {"", "https://pair?v=1&id=ID&pk=PK", "zorvik://pairing?v=1&id=ID&pk=PK",
          "zorvik://pair/x?v=1&id=ID&pk=PK", "zorvik:pair?v=1&id=ID&pk=PK",
          "zorvik://someone@pair?v=1&id=ID&pk=PK", "zorvik://pair:1?v=1&id=ID&pk=PK",
          "zorvik://pair?v=1&id=ID&pk=PK#more"}},
        {"another version",
         {"zorvik://pair?v=2&id=ID&pk=PK", "zorvik://pair?v=01&id=ID&pk=PK",
          "zorvik://pair?id=ID&pk=PK"}},
        {"id is not 16 bytes",
         {"zorvik://pair?v=1&pk=PK", "zorvik://pair?v=1&id=ID==&pk=PK",
          "zorvik://pair?v=1&id=ID%3D%3D&pk=PK", "zorvik://pair?v=1&id=oKGio6SlpqeoqaqrrK2u&pk=PK",
          "zorvik://pair?v=1&id=IDAA&pk=PK", "zorvik://pair?v=1&id=oKGio6SlpqeoqaqrrK2urx&pk=PK"}},
        {"pk is not 32 bytes",
         {"zorvik://pair?v=1&id=ID&pk=PK=", "zorvik://pair?v=1&id=ID&pk=PKAA",
          "zorvik://pair?v=1&id=ID&pk=2J47rXlDfb7Z-ENBgwT0YP8Fx_6B_kqVd6gEy5Nn_2",
          "zorvik://pair?v=1&id=ID&pk=2J47rXlDfb7Z+ENBgwT0YP8Fx/6B/kqVd6gEy5Nn/2Y",
          "zorvik://pair?v=1&id=ID&pk=ID", "zorvik://pair?v=1&id=ID"}},
        {"names id twice", {"zorvik://pair?v=1&id=ID&id=ID&pk=PK"}},
        {"names v twice", {"zorvik://pair?v=1&v=1&id=ID&pk=PK"}},
        {"names pk twice", {"zorvik://pair?v=1&id=ID&pk=PK&pk=PK"}},
    };
    for (const auto& [problem, texts] : cases) {
        for (QString text : texts) {
            text.replace("ID", "oKGio6SlpqeoqaqrrK2urw")
                .replace("PK", "2J47rXlDfb7Z-ENBgwT0YP8Fx_6B_kqVd6gEy5Nn_2Y");
            SCOPED_TRACE(text.toStdString());
            const auto answer = PairingURI::parse(text);
            if (*problem == '\0') {
                ASSERT_TRUE(std::holds_alternative<PairingURI>(answer))
                    << std::get<QString>(answer).toStdString();
                EXPECT_EQ(std::get<PairingURI>(answer), (PairingURI{kPairingID, kDesktopPublic}));
                // What parses writes back the one way the desktop writes it.
                EXPECT_EQ(std::get<PairingURI>(answer).text(), kQrText);
            } else {
                ASSERT_TRUE(std::holds_alternative<QString>(answer));
                EXPECT_TRUE(std::get<QString>(answer).contains(QString::fromLatin1(problem)))
                    << std::get<QString>(answer).toStdString();
            }
        }
    }
}

TEST(SyncKeyText, ReadsHexAndEitherBase64AndRefusesTheRest) {
    const QString hexLower = QString::fromLatin1(kSyncKey.toHex());
    const QString std64 = QString::fromLatin1(kSyncKey.toBase64());
    const QString url64 = QString::fromLatin1(kSyncKey.toBase64(QByteArray::Base64UrlEncoding));
    ASSERT_TRUE(std64.contains(u'+') && std64.contains(u'/') && std64.endsWith(u'='));
    ASSERT_TRUE(url64.contains(u'-') && url64.contains(u'_'));
    const QByteArray other =
        hex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
    const QString otherStd = QString::fromLatin1(other.toBase64());  // no + or /
    QString spacedHex = hexLower;  // in groups of 8, two groups a line
    for (int at = 56; at > 0; at -= 8) {
        spacedHex.insert(at, at % 16 == 0 ? u'\n' : u' ');
    }
    const auto key = [](const QByteArray& bytes) {
        return QString::fromLatin1("key " + bytes.toHex());
    };
    const QString hexDigits = QStringLiteral(
        "This is %1 hexadecimal digits; a sync key is 64 of them, or 32 bytes of base64.");
    const QString base64Bytes =
        QStringLiteral("This is %1 bytes of base64; a sync key is 32 bytes.");

    // What each text reads as: "key <hex>", or the sentence that refuses it.
    const std::pair<QString, QStringList> cases[] = {
        {key(kSyncKey),
         {hexLower, hexLower.toUpper(), spacedHex, " \t" + hexLower + "\r\n", std64,
          std64.chopped(1), url64, url64.chopped(1), std64.left(20) + "\n" + std64.mid(20)}},
        {key(other), {otherStd, otherStd.chopped(1)}},
        {QStringLiteral("A sync key is 32 bytes, written as base64 or as 64 hexadecimal digits."),
         {"", " \n\t ", "my sync key?", "4OHi4+Tl5ufo6err7O3u7/Dx8vP09fb3+Pn6+/z9/v8!",
          // both alphabets at once; padding inside; three padding signs
          "4OHi4+Tl5ufo6err7O3u7_Dx8vP09fb3-Pn6-_z9_v8",
          "4OHi4+Tl5ufo=err7O3u7/Dx8vP09fb3+Pn6+/z9/v8=", std64 + "=="}},
        {hexDigits.arg(65), {hexLower + "0"}},
        {hexDigits.arg(62), {hexLower.left(62)}},
        {hexDigits.arg(66), {hexLower + "00"}},
        {base64Bytes.arg(31), {QString::fromLatin1(kSyncKey.left(31).toBase64())}},
        {base64Bytes.arg(33),
         {QString::fromLatin1((kSyncKey + 'x').toBase64()),
          QString::fromLatin1(
              (kSyncKey + 'x')
                  .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals))}},
    };
    for (const auto& [expected, texts] : cases) {
        for (const QString& text : texts) {
            const auto parsed = SyncKeyText::parse(text);
            const auto* read = std::get_if<SymmetricKey>(&parsed);
            EXPECT_EQ(read ? key(read->bytes()) : std::get<QString>(parsed), expected)
                << text.toStdString();
        }
    }
}

const auto kSyncKeyItem = FakeKeychain::keyOf(CloudSyncCrypto::syncKeyQuery());

class KeyPairingTest : public testing::Test {
protected:
    KeyPairingTest() {
        pairing->keyStored = [this] { ++keysStored; };
        QObject::connect(pairing.get(), &KeyPairing::stateChanged, [this] { ++stateChanges; });
    }

    // The state, whether an offer is shown and how many keys were stored, as one text.
    std::string status() const {
        static const char* const states[] = {"idle", "offering", "paired", "expired", "cancelled"};
        return std::string(states[int(pairing->state())]) +
               (pairing->offerText().isEmpty() ? ", no offer, " : ", offer shown, ") +
               std::to_string(keysStored) + " stored";
    }
    std::string after(double seconds) {
        actor.advance(seconds);
        return status();
    }

    // The offer the desktop shows, as the phone reads it from the QR code.
    PairingURI shownOffer() const {
        return std::get<PairingURI>(PairingURI::parse(pairing->offerText()));
    }

    // What the phone saves to answer the shown offer.
    CloudRecord answer(const SymmetricKey& key, double expiresIn = 600) const {
        return KeyHandoff::seal(key, shownOffer(), addingSeconds(actor.now(), expiresIn));
    }

    // The sync key in the keychain; empty when there is none.
    QByteArray storedKey() const { return keychain.items.value(kSyncKeyItem); }
    void storeOldKey() { keychain.items.insert(kSyncKeyItem, QByteArray(32, 'o')); }

    QStringList logLinesWith(const QString& words) const { return log.messages().filter(words); }
    qsizetype said(const QString& words) const { return logLinesWith(words).size(); }

    // No log line holds the key in any of the forms a person or a tool would write it; the
    // beginnings of the base64 and hex forms stand for the whole, with or without padding.
    void expectKeyNotLogged(const QByteArray& key) const {
        const QByteArray forms[] = {
            key.toBase64().left(12), key.left(8).toHex(), key.toHex().toUpper(),
            key.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals)};
        for (const QString& line : log.messages()) {
            for (const QByteArray& form : forms) {
                EXPECT_FALSE(line.contains(QString::fromLatin1(form), Qt::CaseSensitive))
                    << line.toStdString();
            }
        }
    }

    std::optional<QString> enterKey(const QByteArray& text) {
        std::optional<std::optional<QString>> answered;
        auto run = [](KeyPairing& pairing, QString text,
                      std::optional<std::optional<QString>>& into) -> Task<void> {
            into = co_await pairing.enterKey(std::move(text));
        };
        actor.spawn(run(*pairing, QString::fromLatin1(text), answered));
        actor.runUntilIdle();
        EXPECT_TRUE(answered.has_value()) << "enterKey did not finish";
        return answered.value_or(QStringLiteral("(unfinished)"));
    }

    ManualMainActor actor;
    FakeCloudContainer cloud{actor};
    FakeKeychain keychain;
    RecordingSystemLog log;
    std::unique_ptr<KeyPairing> pairing =
        std::make_unique<KeyPairing>(actor, &cloud, keychain, log);
    int keysStored = 0;
    int stateChanges = 0;
};

TEST_F(KeyPairingTest, LooksTheRecordUpAtOnceAndThenEveryTwoSecondsForExactlyTenMinutes) {
    pairing->cancel();
    EXPECT_EQ(status(), "idle, no offer, 0 stored") << "nothing to cancel";
    actor.runUntilIdle();
    EXPECT_EQ(std::pair(cloud.fetches, stateChanges), std::pair(0, 0));

    pairing->start();
    EXPECT_EQ(status(), "offering, offer shown, 0 stored");
    EXPECT_EQ(pairing->secondsLeft(), 600);
    actor.runUntilIdle();
    EXPECT_EQ(cloud.fetches, 1);
    EXPECT_EQ(cloud.lastFetchedName, "key-handoff");

    // The last step ends at 599.5 s, after lookups at 0, 2, …, 598 s.
    const struct {
        double advance;
        int fetches;
    } steps[] = {{1.999, 1}, {0.001, 2}, {1.5, 2}, {0.5, 3}, {10, 8}, {100, 58}, {485.5, 300}};
    double elapsed = 0;
    for (const auto& [advance, fetches] : steps) {
        actor.advance(advance);
        elapsed += advance;
        EXPECT_EQ(cloud.fetches, fetches) << "after " << elapsed << " s";
        EXPECT_NEAR(pairing->secondsLeft(), 600 - elapsed, 1e-6);
        EXPECT_EQ(status(), "offering, offer shown, 0 stored");
    }
    EXPECT_TRUE(log.messages().filter("ignored").isEmpty()) << "no record is no record to ignore";

    const CloudRecord late = answer(SymmetricKey::random(), 3600);
    EXPECT_EQ(after(0.5), "expired, no offer, 0 stored");
    EXPECT_EQ(pairing->secondsLeft(), 0);
    EXPECT_EQ(said("pairing: the offer ended unanswered"), 1);

    cloud.record = late;  // no one looks any more
    EXPECT_EQ(after(3600), "expired, no offer, 0 stored");
    EXPECT_EQ(cloud.fetches, 300);
}

TEST_F(KeyPairingTest, TheAnswerReplacesTheStoredKeyOnceAndEndsTheOffer) {
    storeOldKey();
    pairing->start();
    actor.advance(4);
    const SymmetricKey syncKey = SymmetricKey::random();
    cloud.record = answer(syncKey);
    // A keychain that refuses is tried again at the next lookup.
    keychain.failWith = Keychain::interactionNotAllowed;
    EXPECT_EQ(after(2), "offering, offer shown, 0 stored");
    EXPECT_EQ(said("the keyring did not take the key: the keyring is locked"), 1);

    keychain.failWith.reset();
    const int before = cloud.fetches;
    EXPECT_EQ(after(2), "paired, no offer, 1 stored");
    EXPECT_EQ(storedKey(), syncKey.bytes());
    EXPECT_EQ(pairing->secondsLeft(), 0);
    EXPECT_EQ(stateChanges, 2);  // offering, paired

    // The record stays in the cloud; the desktop no longer looks.
    EXPECT_EQ(after(60), "paired, no offer, 1 stored");
    EXPECT_EQ(cloud.fetches, before + 1);
    EXPECT_EQ(said("key received from the phone and stored"), 1);
    expectKeyNotLogged(syncKey.bytes());
}

TEST_F(KeyPairingTest, ACloudThatCannotBeAskedIsLoggedOnceUntilARecordComes) {
    const CloudError lost(CloudError::networkFailure, "The network connection was lost.");
    cloud.fetchError = lost;
    pairing->start();
    actor.advance(10);
    EXPECT_EQ(said("cannot look for the hand-off"), 1);
    EXPECT_EQ(pairing->state(), State::offering) << "a failed lookup ends nothing";

    // No record at all is the ordinary answer while the phone has not answered: nothing to say.
    cloud.fetchError.reset();
    actor.advance(10);
    cloud.fetchError = lost;
    actor.advance(10);
    EXPECT_EQ(said("cannot look for the hand-off"), 1);
    cloud.record = answer(SymmetricKey::random(), -1);
    actor.advance(2);
    cloud.record.reset();
    actor.advance(2);
    EXPECT_EQ(said("cannot look for the hand-off"), 2);
}

TEST_F(KeyPairingTest, EachIgnoredRecordIsLoggedOnceSayingWhy) {
    pairing->start();
    const SymmetricKey syncKey = SymmetricKey::random();
    CloudRecord altered = answer(syncKey);
    altered.fields.insert("sealedKey", flipped(*altered.field<QByteArray>("sealedKey"), 30));
    CloudRecord incomplete = answer(syncKey);
    incomplete.fields.remove("expiresAt");
    const std::pair<CloudRecord, Rejection> cases[] = {
        {KeyHandoff::seal(syncKey, PairingOffer::make(actor.now()).uri(),
                          addingSeconds(actor.now(), 60)),
         Rejection::otherPairing},
        {altered, Rejection::doesNotOpen},
        {incomplete, Rejection::malformed},
    };
    int expectedLines = 0;
    for (const auto& [record, why] : cases) {
        cloud.record = record;
        actor.advance(20);  // ten lookups of the same record
        const QStringList ignored = logLinesWith("pairing: ignored");
        ASSERT_EQ(ignored.size(), ++expectedLines) << rejected(why);
        EXPECT_EQ(ignored.last(), "pairing: ignored " + KeyHandoff::describe(why));
    }
    EXPECT_EQ(status(), "offering, offer shown, 0 stored");
    EXPECT_EQ(storedKey(), QByteArray());
    expectKeyNotLogged(syncKey.bytes());

    // The same record back again after another one is a change, so it gets a line again.
    cloud.record = cases[0].first;
    actor.advance(2);
    EXPECT_EQ(said("pairing: ignored"), expectedLines + 1);
}

// The offer ends, on time, by a cancel or with the controller, while a lookup hangs: the answer
// that lookup brings later is dropped, and no other lookup follows.
class KeyPairingEndTest : public KeyPairingTest, public testing::WithParamInterface<const char*> {};

TEST_P(KeyPairingEndTest, TheAnswerOfALookupUnderWayWhenTheOfferEndsIsDropped) {
    const std::string how = GetParam();
    cloud.holdFetches = true;
    pairing->start();
    actor.runUntilIdle();
    cloud.record = answer(SymmetricKey::random());
    if (how == "expiry") {
        EXPECT_EQ(after(599), "offering, offer shown, 0 stored");
        EXPECT_EQ(after(1), "expired, no offer, 0 stored");
    } else if (how == "cancel") {
        pairing->cancel();
        EXPECT_EQ(status(), "cancelled, no offer, 0 stored");
        EXPECT_EQ(said("pairing: cancelled"), 1);
    } else {
        pairing.reset();
    }
    cloud.releaseFetches();
    actor.advance(700);
    EXPECT_EQ(keysStored, 0);
    EXPECT_EQ(storedKey(), QByteArray());
    EXPECT_EQ(cloud.fetches, 1);
}

INSTANTIATE_TEST_SUITE_P(By, KeyPairingEndTest, testing::Values("expiry", "cancel", "destruction"));

TEST_F(KeyPairingTest, ANewStartMakesANewOfferAndTheOldOneCannotBeAnswered) {
    pairing->start();
    actor.runUntilIdle();
    const PairingURI first = shownOffer();
    const CloudRecord toFirst = answer(SymmetricKey::random());
    actor.advance(100);

    pairing->start();
    EXPECT_NE(shownOffer().pairingID, first.pairingID);
    EXPECT_NE(shownOffer().publicKey, first.publicKey);
    EXPECT_EQ(pairing->secondsLeft(), 600) << "the new offer has its full ten minutes";

    cloud.record = toFirst;
    EXPECT_EQ(after(10), "offering, offer shown, 0 stored");
    EXPECT_EQ(said("pairing: ignored " + KeyHandoff::describe(Rejection::otherPairing)), 1);

    // It ends ten minutes after it was made, not after the first.
    EXPECT_EQ(after(589), "offering, offer shown, 0 stored");
    EXPECT_EQ(after(1), "expired, no offer, 0 stored");
}

// The pending-code record the phone leaves in the cloud, sealed with `key`.
CloudRecord pendingCodeRecord(const SymmetricKey& key, const QByteArray& payload = {}) {
    const PendingCode code{QUuid::fromString(u"E621E1F8-C36C-495A-93FC-0C247A3E6E5F"),
                           "Work GitHub",
                           "github",
                           "123456",
                           kNow,
                           addingSeconds(kNow, 90),
                           "iPhone"};
    CloudRecord record{"pending-code", "PendingCode", {}};
    record.fields.insert("blob", payload.isEmpty()
                                     ? code.seal(key)
                                     : PendingCode::magic() + char(PendingCode::formatVersion) +
                                           AesGcm::seal(key.bytes(), payload));
    record.fields.insert("expiresAt", addingSeconds(kNow, 90));
    return record;
}

TEST_F(KeyPairingTest, ATypedKeyIsSavedOnlyIfItOpensTheCodeWaiting) {
    const SymmetricKey typedKey = *SymmetricKey::fromBytes(kSyncKey);
    const QString doesNotOpen =
        QStringLiteral("This key does not open the code waiting in your cloud");
    const QString unreadable = QStringLiteral(
        "This key cannot be checked: the code waiting in your cloud is in a form this version of "
        "Zorvik cannot read. Update Zorvik, or pair with the code instead.");
    CloudRecord newerFormat = pendingCodeRecord(typedKey);
    QByteArray blob = *newerFormat.field<QByteArray>("blob");
    blob[PendingCode::magic().size()] = char(PendingCode::formatVersion + 1);
    newerFormat.fields.insert("blob", blob);
    CloudRecord notACode = pendingCodeRecord(typedKey);
    notACode.fields.insert("blob", QByteArray("not a sealed code at all"));
    CloudRecord withoutBlob = pendingCodeRecord(typedKey);
    withoutBlob.fields.remove("blob");
    const struct {
        const char* what;
        std::optional<CloudRecord> waiting;
        std::optional<QString> answer;
    } cases[] = {
        {"no code waiting", std::nullopt, std::nullopt},
        {"a code sealed with the typed key", pendingCodeRecord(typedKey), std::nullopt},
        {"a code sealed with another key", pendingCodeRecord(SymmetricKey::random()), doesNotOpen},
        // It opens, so the key is the phone's, though the code inside is of no use.
        {"a code that opens to no code", pendingCodeRecord(typedKey, "[]"), std::nullopt},
        // What the key is never tried on cannot vouch for it.
        {"a code of a newer format", newerFormat, unreadable},
        {"a record that is no code", notACode, unreadable},
        {"a record without its blob", withoutBlob, unreadable},
    };
    for (const auto& [what, waiting, expected] : cases) {
        SCOPED_TRACE(what);
        keychain.items.clear();
        keysStored = 0;
        cloud.record = waiting;
        const int fetched = cloud.fetches;
        EXPECT_EQ(enterKey(kSyncKey.toBase64()), expected);
        EXPECT_EQ(cloud.fetches, fetched + 1);
        EXPECT_EQ(cloud.lastFetchedName, "pending-code");
        EXPECT_EQ(storedKey(), expected ? QByteArray() : kSyncKey);
        EXPECT_EQ(keysStored, expected ? 0 : 1);
    }
    expectKeyNotLogged(kSyncKey);
}

TEST_F(KeyPairingTest, ATypedKeyInAWrongFormOrThatCannotBeCheckedOrStoredIsExplainedNotKept) {
    EXPECT_EQ(enterKey(""),
              "A sync key is 32 bytes, written as base64 or as 64 hexadecimal digits.");
    EXPECT_EQ(enterKey(kSyncKey.left(16).toBase64()),
              "This is 16 bytes of base64; a sync key is 32 bytes.");
    EXPECT_EQ(cloud.fetches, 0) << "a key in a wrong form is not looked for";
    EXPECT_EQ(keychain.stores, 0);

    cloud.fetchError = CloudError(CloudError::networkFailure, "The network connection was lost.");
    EXPECT_EQ(enterKey(kSyncKey.toBase64()),
              "This key cannot be checked now: the cloud did not answer (The network connection "
              "was lost.). Try again.");
    cloud.fetchError.reset();
    keychain.failWith = Keychain::notAvailable;
    EXPECT_EQ(enterKey(kSyncKey.toHex()), QStringLiteral("The keychain did not take the key."));
    EXPECT_EQ(keysStored, 0);
}

TEST_F(KeyPairingTest, ATypedKeyReplacesTheOldOneAndEndsAnOpenOffer) {
    storeOldKey();
    pairing->start();
    actor.advance(4);
    const int fetched = cloud.fetches;
    EXPECT_EQ(enterKey(kSyncKey.toHex().toUpper()), std::nullopt);
    EXPECT_EQ(storedKey(), kSyncKey);
    EXPECT_EQ(status(), "paired, no offer, 1 stored");
    actor.advance(60);
    EXPECT_EQ(cloud.fetches, fetched + 1) << "only the pending-code lookup of enterKey";
    expectKeyNotLogged(kSyncKey);
}

}  // namespace
