#include <gtest/gtest.h>

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QUuid>
#include <functional>
#include <memory>

#include "AesGcm.h"
#include "CloudRecordCoding.h"
#include "CloudSyncCrypto.h"
#include "FakeCloudContainer.h"
#include "FakeKeychain.h"
#include "KeyAgreement.h"
#include "KeyHandoff.h"
#include "KeyPairing.h"
#include "ManualMainActor.h"
#include "PairingOffer.h"
#include "PendingCode.h"
#include "QStringPrinter.h"
#include "RecordingSystemLog.h"
#include "SyncKeyText.h"

namespace {

using KeyHandoff::Rejection;

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

Instant fromMilliseconds(qint64 milliseconds) {
    return Instant(std::chrono::milliseconds(milliseconds));
}

const char* nameOf(Rejection rejection) {
    switch (rejection) {
        case Rejection::malformed:
            return "malformed";
        case Rejection::otherPairing:
            return "otherPairing";
        case Rejection::stale:
            return "stale";
        case Rejection::wrongLength:
            return "wrongLength";
        case Rejection::weakPhoneKey:
            return "weakPhoneKey";
        case Rejection::doesNotOpen:
            return "doesNotOpen";
    }
    return "?";
}

// What open() answered, as text a failing expectation shows: "key <hex>" or the rejection.
std::string outcome(const std::variant<SymmetricKey, Rejection>& opened) {
    if (const auto* key = std::get_if<SymmetricKey>(&opened)) {
        return "key " + key->bytes().toHex().toStdString();
    }
    return nameOf(std::get<Rejection>(opened));
}

std::string rejected(Rejection rejection) {
    return nameOf(rejection);
}

// --- The published answers of the primitives -------------------------------------------------

TEST(KeyAgreement, Rfc7748Section6Point1) {
    const QByteArray alice =
        hex("77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a");
    const QByteArray bob = hex("5dab087e624a8a4b79e17f8b83800ee66f3bb1292618b6fd1c2f8b27ff88e0eb");
    const auto alicePair = KeyAgreement::fromPrivateKey(alice);
    const auto bobPair = KeyAgreement::fromPrivateKey(bob);
    EXPECT_EQ(alicePair.privateKey, alice);
    EXPECT_EQ(alicePair.publicKey.toHex(),
              "8520f0098930a754748b7ddcb43ef75a0dbf3a0d26381af4eba4a98eaa9b4e6a");
    EXPECT_EQ(bobPair.publicKey.toHex(),
              "de9edb7d7b7dc1b4d35b61c2ece435373f8343c85b78674dadfc7e146f882b4f");
    const QByteArray shared = "4a5d9d5ba4ce2de1728e3bf480350f25e07e21c947d19e3376f09b3c1e161742";
    EXPECT_EQ(KeyAgreement::sharedSecret(alice, bobPair.publicKey).toHex(), shared);
    EXPECT_EQ(KeyAgreement::sharedSecret(bob, alicePair.publicKey).toHex(), shared);
}

TEST(KeyAgreement, Rfc5869TestCases1And3) {
    const struct {
        const char* name;
        QByteArray salt;
        QByteArray info;
        QByteArray okm;
    } cases[] = {
        {"test case 1", hex("000102030405060708090a0b0c"), hex("f0f1f2f3f4f5f6f7f8f9"),
         "3cb25f25faacd57a90434f64d0362f2a2d2d0a90cf1a5a4c5db02d56ecc4c5bf34007208d5b887185865"},
        // No salt and no info.
        {"test case 3",
         {},
         {},
         "8da4e775a563c18f715f802a063c5a31b8a11f5c5ee1879ec3454e5f3c738d2d9d201395faa4b61a96c8"},
    };
    for (const auto& [name, salt, info, okm] : cases) {
        EXPECT_EQ(KeyAgreement::hkdfSha256(QByteArray(22, '\x0b'), salt, info, 42).toHex(), okm)
            << name;
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
    const QByteArray own = KeyAgreement::generate().privateKey;
    const QByteArray peer = KeyAgreement::generate().publicKey;
    struct Case {
        const char* what;
        std::function<void()> call;
        KeyAgreementError::Kind expected;
    };
    using Kind = KeyAgreementError::Kind;
    const Case cases[] = {
        {"31-byte private key", [&] { KeyAgreement::sharedSecret(own.left(31), peer); },
         Kind::incorrectKeySize},
        {"33-byte peer key", [&] { KeyAgreement::sharedSecret(own, peer + 'x'); },
         Kind::incorrectKeySize},
        {"empty peer key", [&] { KeyAgreement::sharedSecret(own, QByteArray()); },
         Kind::incorrectKeySize},
        {"31-byte private key for a pair", [&] { KeyAgreement::fromPrivateKey(own.left(31)); },
         Kind::incorrectKeySize},
    };
    for (const auto& [what, call, expected] : cases) {
        EXPECT_EQ(agreementFailure(call), expected) << what;
    }
    for (const char* point : kSmallOrderPoints) {
        EXPECT_EQ(agreementFailure([&] { KeyAgreement::sharedSecret(own, hex(point)); }),
                  Kind::weakPublicKey)
            << point;
    }
}

TEST(KeyAgreement, FreshPairsDifferAndAgree) {
    const auto desktop = KeyAgreement::generate();
    const auto phone = KeyAgreement::generate();
    EXPECT_NE(desktop.privateKey, phone.privateKey);
    EXPECT_EQ(KeyAgreement::fromPrivateKey(desktop.privateKey).publicKey, desktop.publicKey);
    EXPECT_EQ(KeyAgreement::sharedSecret(desktop.privateKey, phone.publicKey),
              KeyAgreement::sharedSecret(phone.privateKey, desktop.publicKey));
}

// --- The vectors of docs/pairing.md, made by tests/support/pairing-vectors.py ------------------

const QByteArray kDesktopPrivate =
    hex("101112131415161718191a1b1c1d1e1f202122232425262728292a2b2c2d2e2f");
const QByteArray kPhonePrivate =
    hex("303132333435363738393a3b3c3d3e3f404142434445464748494a4b4c4d4e4f");
const QByteArray kPairingID = hex("a0a1a2a3a4a5a6a7a8a9aaabacadaeaf");
const QByteArray kNonce = hex("c0c1c2c3c4c5c6c7c8c9cacb");
const QByteArray kSyncKey = hex("e0e1e2e3e4e5e6e7e8e9eaebecedeeeff0f1f2f3f4f5f6f7f8f9fafbfcfdfeff");
constexpr qint64 kNowMs = 1772366400000;
constexpr qint64 kExpiresAtMs = 1772367000000;
const QByteArray kDesktopPublic =
    hex("d89e3bad79437dbed9f843418304f460ff05c7fe81fe4a9577a804cb9367ff66");
const QString kQrText = QStringLiteral(
    "zorvik://pair?v=1&id=oKGio6SlpqeoqaqrrK2urw&pk=2J47rXlDfb7Z-ENBgwT0YP8Fx_6B_kqVd6gEy5Nn_2Y");
const QByteArray kPhonePublic =
    hex("34e42d4af5ef94a07a3a84201b889d4cd1a743cb27b11b6a10438a8feb8e5847");
const QByteArray kSharedSecret =
    hex("6e3c33b4c96fcb38dfa7862eae5bb902fe66cc2a41ca553280ded9dc363c852f");
const QByteArray kHandoffKey =
    hex("395f616929d6b30f88fcbcff886bb9f2e5f6932f772977bc6aa6a5094931e76b");
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

const Instant kNow = fromMilliseconds(kNowMs);

PairingOffer vectorOffer() {
    return PairingOffer::fromKeys(kPairingID, kDesktopPrivate, addingSeconds(kNow, 600));
}

SymmetricKey vectorSyncKey() {
    return *SymmetricKey::fromBytes(kSyncKey);
}

CloudRecord documentedRecord() {
    return CloudRecordCoding::decodeRecordFile(kRecordJson);
}

TEST(HandoffVectors, TheDesktopsOfferIsTheDocumentedQrText) {
    const PairingOffer offer = vectorOffer();
    EXPECT_EQ(offer.publicKey(), kDesktopPublic);
    EXPECT_EQ(offer.pairingID(), kPairingID);
    EXPECT_EQ(offer.privateKey(), kDesktopPrivate);
    EXPECT_EQ(offer.expiresAt(), fromMilliseconds(kExpiresAtMs));
    EXPECT_EQ(offer.uri().text(), kQrText);
    const auto parsed = PairingURI::parse(kQrText);
    ASSERT_TRUE(std::holds_alternative<PairingURI>(parsed));
    EXPECT_EQ(std::get<PairingURI>(parsed), (PairingURI{kPairingID, kDesktopPublic}));
}

TEST(HandoffVectors, ThePhonesSideGivesTheDocumentedRecord) {
    const PairingOffer offer = vectorOffer();
    EXPECT_EQ(KeyAgreement::fromPrivateKey(kPhonePrivate).publicKey, kPhonePublic);
    EXPECT_EQ(KeyAgreement::sharedSecret(kPhonePrivate, kDesktopPublic), kSharedSecret);
    EXPECT_EQ(KeyHandoff::handoffKey(kSharedSecret, kPairingID, kDesktopPublic, kPhonePublic),
              kHandoffKey);

    const CloudRecord record = KeyHandoff::seal(
        vectorSyncKey(), offer.uri(), fromMilliseconds(kExpiresAtMs), kPhonePrivate, kNonce);
    EXPECT_EQ(record.field<QByteArray>("sealedKey").value_or("").toBase64(), kSealedKeyBase64);
    EXPECT_EQ(CloudRecordCoding::encodeRecord(record),
              QJsonDocument::fromJson(kRecordJson).object());
    EXPECT_EQ(record, documentedRecord());
}

TEST(HandoffVectors, TheDesktopOpensTheDocumentedRecord) {
    const PairingOffer offer = vectorOffer();
    EXPECT_EQ(KeyAgreement::sharedSecret(kDesktopPrivate, kPhonePublic), kSharedSecret);
    EXPECT_EQ(outcome(KeyHandoff::open(documentedRecord(), offer, kNow)),
              "key " + kSyncKey.toHex().toStdString());
    // Up to the last microsecond before expiresAt.
    EXPECT_EQ(
        outcome(KeyHandoff::open(documentedRecord(), offer,
                                 fromMilliseconds(kExpiresAtMs) - std::chrono::microseconds(1))),
        "key " + kSyncKey.toHex().toStdString());
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

// --- What the desktop ignores -------------------------------------------------------------------

QByteArray resealed(QByteArrayView key, QByteArrayView aad) {
    return AesGcm::seal(key, kNonce, kSyncKey, aad);
}

QByteArray flipped(QByteArray bytes, qsizetype at) {
    bytes[at] = char(bytes[at] ^ 0x01);
    return bytes;
}

TEST(KeyHandoffOpen, IgnoresEveryRecordThatIsNotTheGenuineOne) {
    const QByteArray sealed = QByteArray::fromBase64(kSealedKeyBase64);
    const QByteArray info = QByteArray(KeyHandoff::info) + kDesktopPublic + kPhonePublic;
    const auto keyWith = [&](QByteArrayView salt, QByteArrayView context) {
        return KeyAgreement::hkdfSha256(kSharedSecret, salt, context, 32);
    };
    const QByteArray otherPhone = KeyAgreement::generate().publicKey;
    const Instant expiresAt = fromMilliseconds(kExpiresAtMs);

    struct Case {
        const char* what;
        std::function<void(CloudRecord&)> change;
        Instant now;
        Rejection expected;
    };
    const auto set = [](const char* name, CloudRecord::Value value) {
        return [name, value](CloudRecord& record) { record.fields.insert(name, value); };
    };
    const auto drop = [](const char* name) {
        return [name](CloudRecord& record) { record.fields.remove(name); };
    };
    const auto nothing = [](CloudRecord&) {};
    const Instant later = expiresAt + std::chrono::milliseconds(1);

    std::vector<Case> cases = {
        {"another pairing ID", set("pairingID", hex("a0a1a2a3a4a5a6a7a8a9aaabacadaeae")), kNow,
         Rejection::otherPairing},
        {"the pairing ID cut short", set("pairingID", kPairingID.left(15)), kNow,
         Rejection::otherPairing},
        {"the pairing ID in hex", set("pairingID", kPairingID.toHex()), kNow,
         Rejection::otherPairing},
        {"expiresAt is now", nothing, expiresAt, Rejection::stale},
        {"expiresAt has passed", nothing, later, Rejection::stale},
        {"expiresAt an hour ago", set("expiresAt", addingSeconds(kNow, -3600)), kNow,
         Rejection::stale},
        {"a 31-byte phone key", set("phoneKey", kPhonePublic.left(31)), kNow,
         Rejection::wrongLength},
        {"a 33-byte phone key", set("phoneKey", kPhonePublic + '\0'), kNow, Rejection::wrongLength},
        {"an empty phone key", set("phoneKey", QByteArray()), kNow, Rejection::wrongLength},
        {"a 59-byte sealed key", set("sealedKey", sealed.left(59)), kNow, Rejection::wrongLength},
        {"a 61-byte sealed key", set("sealedKey", sealed + '\0'), kNow, Rejection::wrongLength},
        {"the sealed key without its nonce", set("sealedKey", sealed.mid(12)), kNow,
         Rejection::wrongLength},
        {"a flipped nonce byte", set("sealedKey", flipped(sealed, 0)), kNow,
         Rejection::doesNotOpen},
        {"a flipped ciphertext byte", set("sealedKey", flipped(sealed, 12)), kNow,
         Rejection::doesNotOpen},
        {"a flipped tag byte", set("sealedKey", flipped(sealed, 59)), kNow, Rejection::doesNotOpen},
        {"sealed without associated data", set("sealedKey", resealed(kHandoffKey, {})), kNow,
         Rejection::doesNotOpen},
        {"the phone key as associated data", set("sealedKey", resealed(kHandoffKey, kPhonePublic)),
         kNow, Rejection::doesNotOpen},
        {"K without the salt", set("sealedKey", resealed(keyWith({}, info), kPairingID)), kNow,
         Rejection::doesNotOpen},
        {"K without the public keys in info",
         set("sealedKey", resealed(keyWith(kPairingID, KeyHandoff::info), kPairingID)), kNow,
         Rejection::doesNotOpen},
        {"K with the public keys the other way round",
         set("sealedKey", resealed(keyWith(kPairingID, QByteArray(KeyHandoff::info) + kPhonePublic +
                                                           kDesktopPublic),
                                   kPairingID)),
         kNow, Rejection::doesNotOpen},
        {"the shared secret itself as K", set("sealedKey", resealed(kSharedSecret, kPairingID)),
         kNow, Rejection::doesNotOpen},
        {"another phone's key beside this seal", set("phoneKey", otherPhone), kNow,
         Rejection::doesNotOpen},
        {"no pairingID", drop("pairingID"), kNow, Rejection::malformed},
        {"no phoneKey", drop("phoneKey"), kNow, Rejection::malformed},
        {"no sealedKey", drop("sealedKey"), kNow, Rejection::malformed},
        {"no expiresAt", drop("expiresAt"), kNow, Rejection::malformed},
        {"pairingID as text", set("pairingID", QString::fromLatin1(kPairingID.toBase64())), kNow,
         Rejection::malformed},
        {"phoneKey as text", set("phoneKey", QString::fromLatin1(kPhonePublic.toBase64())), kNow,
         Rejection::malformed},
        {"sealedKey as text", set("sealedKey", QString::fromLatin1(kSealedKeyBase64)), kNow,
         Rejection::malformed},
        {"expiresAt as a whole number of ms", set("expiresAt", kExpiresAtMs), kNow,
         Rejection::malformed},
        {"expiresAt as seconds in a double", set("expiresAt", double(kExpiresAtMs) / 1000), kNow,
         Rejection::malformed},
        // The checks run in this order: a record wrong in several ways names the first.
        {"another pairing ID, and stale", set("pairingID", QByteArray(16, '\0')), later,
         Rejection::otherPairing},
        {"stale, and a short phone key", set("phoneKey", QByteArray(3, 'k')), later,
         Rejection::stale},
    };
    for (const char* point : kSmallOrderPoints) {
        cases.push_back({point, set("phoneKey", hex(point)), kNow, Rejection::weakPhoneKey});
    }

    const PairingOffer offer = vectorOffer();
    for (const auto& [what, change, now, expected] : cases) {
        CloudRecord record = documentedRecord();
        change(record);
        EXPECT_EQ(outcome(KeyHandoff::open(record, offer, now)), rejected(expected)) << what;
    }
}

TEST(KeyHandoffOpen, EachRejectionHasItsOwnLogWordsWithoutAnyKey) {
    QStringList seen;
    for (Rejection rejection :
         {Rejection::malformed, Rejection::otherPairing, Rejection::stale, Rejection::wrongLength,
          Rejection::weakPhoneKey, Rejection::doesNotOpen}) {
        const QString words = KeyHandoff::describe(rejection);
        EXPECT_FALSE(words.isEmpty()) << nameOf(rejection);
        EXPECT_FALSE(seen.contains(words)) << nameOf(rejection);
        seen.append(words);
    }
}

TEST(KeyHandoffOpen, AScrubbedOfferOpensNothing) {
    PairingOffer offer = vectorOffer();
    offer.scrub();
    EXPECT_TRUE(offer.privateKey().isEmpty());
    EXPECT_TRUE(
        std::holds_alternative<Rejection>(KeyHandoff::open(documentedRecord(), offer, kNow)));
}

TEST(KeyHandoffSeal, FreshPhoneKeysAndNoncesStillOpen) {
    const PairingOffer offer = PairingOffer::make(kNow);
    const SymmetricKey syncKey = SymmetricKey::random();
    const CloudRecord first = KeyHandoff::seal(syncKey, offer.uri(), addingSeconds(kNow, 60));
    const CloudRecord second = KeyHandoff::seal(syncKey, offer.uri(), addingSeconds(kNow, 60));
    EXPECT_NE(first.field<QByteArray>("phoneKey"), second.field<QByteArray>("phoneKey"));
    EXPECT_NE(first.field<QByteArray>("sealedKey")->left(12),
              second.field<QByteArray>("sealedKey")->left(12));
    EXPECT_EQ(first.recordName, "key-handoff");
    EXPECT_EQ(first.recordType, "KeyHandoff");
    EXPECT_EQ(first.field<QByteArray>("sealedKey")->size(), 60);
    for (const CloudRecord& record : {first, second}) {
        EXPECT_EQ(outcome(KeyHandoff::open(record, offer, kNow)),
                  "key " + syncKey.bytes().toHex().toStdString());
    }
    // Sealed to another offer, it opens for that one only.
    const PairingOffer other = PairingOffer::make(kNow);
    EXPECT_EQ(outcome(KeyHandoff::open(first, other, kNow)), rejected(Rejection::otherPairing));
}

// --- The QR text ------------------------------------------------------------------------------

TEST(PairingUri, ParsesTheOfferAndRefusesEverythingElse) {
    const QString id = QStringLiteral("oKGio6SlpqeoqaqrrK2urw");
    const QString pk = QStringLiteral("2J47rXlDfb7Z-ENBgwT0YP8Fx_6B_kqVd6gEy5Nn_2Y");
    const PairingURI expected{kPairingID, kDesktopPublic};
    const auto uri = [](const QString& rest) { return QStringLiteral("zorvik://pair?") + rest; };
    const QString good = uri("v=1&id=" + id + "&pk=" + pk);

    struct Case {
        QString text;
        std::optional<PairingURI> parsed;  // nothing: refused
        const char* problem;               // words the refusal holds
    };
    QString standardPk = pk;
    standardPk.replace(u'-', u'+').replace(u'_', u'/');
    const Case cases[] = {
        {good, expected, ""},
        {"  " + good + "\n", expected, ""},
        {uri("pk=" + pk + "&id=" + id + "&v=1"), expected, ""},
        {"zorvik://pair/?v=1&id=" + id + "&pk=" + pk, expected, ""},
        {uri("v=1&id=" + id + "&pk=" + pk + "&later=yes"), expected, ""},
        {uri("v=1&id=%6FKGio6SlpqeoqaqrrK2urw&pk=" + pk), expected, ""},
        {"", std::nullopt, "not a Zorvik pairing code"},
        {"https://pair?v=1&id=" + id + "&pk=" + pk, std::nullopt, "not a Zorvik pairing code"},
        {"zorvik://pairing?v=1&id=" + id + "&pk=" + pk, std::nullopt, "not a Zorvik pairing code"},
        {"zorvik://pair/x?v=1&id=" + id + "&pk=" + pk, std::nullopt, "not a Zorvik pairing code"},
        {"zorvik:pair?v=1&id=" + id + "&pk=" + pk, std::nullopt, "not a Zorvik pairing code"},
        {"zorvik://someone@pair?v=1&id=" + id + "&pk=" + pk, std::nullopt,
         "not a Zorvik pairing code"},
        {"zorvik://pair:1?v=1&id=" + id + "&pk=" + pk, std::nullopt, "not a Zorvik pairing code"},
        {good + "#more", std::nullopt, "not a Zorvik pairing code"},
        {uri("v=2&id=" + id + "&pk=" + pk), std::nullopt, "another version"},
        {uri("v=01&id=" + id + "&pk=" + pk), std::nullopt, "another version"},
        {uri("id=" + id + "&pk=" + pk), std::nullopt, "another version"},
        {uri("v=1&pk=" + pk), std::nullopt, "id is not 16 bytes"},
        {uri("v=1&id=" + id + "==&pk=" + pk), std::nullopt, "id is not 16 bytes"},
        {uri("v=1&id=" + id + "%3D%3D&pk=" + pk), std::nullopt, "id is not 16 bytes"},
        {uri("v=1&id=" + id.left(20) + "&pk=" + pk), std::nullopt, "id is not 16 bytes"},
        {uri("v=1&id=" + id + "AA&pk=" + pk), std::nullopt, "id is not 16 bytes"},
        // The last character carries 4 unused bits, which must be zero.
        {uri("v=1&id=" + id.chopped(1) + "x&pk=" + pk), std::nullopt, "id is not 16 bytes"},
        {uri("v=1&id=" + id + "&pk=" + pk + "="), std::nullopt, "pk is not 32 bytes"},
        {uri("v=1&id=" + id + "&pk=" + pk.left(42)), std::nullopt, "pk is not 32 bytes"},
        {uri("v=1&id=" + id + "&pk=" + pk + "AA"), std::nullopt, "pk is not 32 bytes"},
        {uri("v=1&id=" + id + "&pk=" + standardPk), std::nullopt, "pk is not 32 bytes"},
        {uri("v=1&id=" + id + "&pk=" + id), std::nullopt, "pk is not 32 bytes"},
        {uri("v=1&id=" + id), std::nullopt, "pk is not 32 bytes"},
        {uri("v=1&id=" + id + "&id=" + id + "&pk=" + pk), std::nullopt, "names id twice"},
        {uri("v=1&v=1&id=" + id + "&pk=" + pk), std::nullopt, "names v twice"},
        {uri("v=1&id=" + id + "&pk=" + pk + "&pk=" + pk), std::nullopt, "names pk twice"},
    };
    for (const auto& [text, parsed, problem] : cases) {
        const auto answer = PairingURI::parse(text);
        if (parsed) {
            ASSERT_TRUE(std::holds_alternative<PairingURI>(answer))
                << text.toStdString() << ": " << std::get<QString>(answer).toStdString();
            EXPECT_EQ(std::get<PairingURI>(answer), *parsed) << text.toStdString();
            // What parses writes back the one way the desktop writes it.
            EXPECT_EQ(std::get<PairingURI>(answer).text(), good) << text.toStdString();
        } else {
            ASSERT_TRUE(std::holds_alternative<QString>(answer)) << text.toStdString();
            EXPECT_TRUE(std::get<QString>(answer).contains(QString::fromLatin1(problem)))
                << text.toStdString() << ": " << std::get<QString>(answer).toStdString();
        }
    }
}

TEST(PairingUri, FreshOffersRoundTripThroughTheirText) {
    for (int i = 0; i < 50; ++i) {
        const PairingOffer offer = PairingOffer::make(kNow);
        EXPECT_EQ(offer.pairingID().size(), 16);
        EXPECT_EQ(offer.publicKey().size(), 32);
        EXPECT_EQ(offer.expiresAt(), addingSeconds(kNow, 600));
        const auto parsed = PairingURI::parse(offer.uri().text());
        ASSERT_TRUE(std::holds_alternative<PairingURI>(parsed)) << offer.uri().text().toStdString();
        EXPECT_EQ(std::get<PairingURI>(parsed), offer.uri());
    }
}

// --- A key the user types ------------------------------------------------------------------------

TEST(SyncKeyText, ReadsHexAndEitherBase64AndRefusesTheRest) {
    const QString hexLower = QString::fromLatin1(kSyncKey.toHex());
    const QString std64 = QString::fromLatin1(kSyncKey.toBase64());  // has + and / and one =
    const QString url64 = QString::fromLatin1(kSyncKey.toBase64(QByteArray::Base64UrlEncoding));
    ASSERT_TRUE(std64.contains(u'+') && std64.contains(u'/') && std64.endsWith(u'='));
    ASSERT_TRUE(url64.contains(u'-') && url64.contains(u'_'));
    const QString wrongForm =
        QStringLiteral("A sync key is 32 bytes, written as base64 or as 64 hexadecimal digits.");
    const QByteArray other =
        hex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
    const QString otherStd = QString::fromLatin1(other.toBase64());  // no + or /

    struct Case {
        const char* what;
        QString text;
        std::variant<QByteArray, QString> expected;  // the key, or the message
    };
    QString spacedHex = hexLower;
    for (int at = 56; at > 0; at -= 8) {
        spacedHex.insert(at, at % 16 == 0 ? u'\n' : u' ');
    }
    const Case cases[] = {
        {"hex, lower case", hexLower, kSyncKey},
        {"hex, upper case", hexLower.toUpper(), kSyncKey},
        {"hex in groups over lines", spacedHex, kSyncKey},
        {"hex, spaces around", " \t" + hexLower + "\r\n", kSyncKey},
        {"base64 with padding", std64, kSyncKey},
        {"base64 without padding", std64.chopped(1), kSyncKey},
        {"base64url with padding", url64, kSyncKey},
        {"base64url without padding", url64.chopped(1), kSyncKey},
        {"base64 broken over lines", std64.left(20) + "\n" + std64.mid(20), kSyncKey},
        {"base64 of only letters and digits", otherStd, other},
        {"base64 of only letters and digits, unpadded", otherStd.chopped(1), other},
        {"empty", "", wrongForm},
        {"only spaces", " \n\t ", wrongForm},
        {"words", "my sync key?", wrongForm},
        {"punctuation", "4OHi4+Tl5ufo6err7O3u7/Dx8vP09fb3+Pn6+/z9/v8!", wrongForm},
        {"both alphabets at once", "4OHi4+Tl5ufo6err7O3u7_Dx8vP09fb3-Pn6-_z9_v8", wrongForm},
        {"padding inside", "4OHi4+Tl5ufo=err7O3u7/Dx8vP09fb3+Pn6+/z9/v8=", wrongForm},
        {"three padding signs", std64 + "==", wrongForm},
        {"65 hex digits", hexLower + "0",
         QStringLiteral(
             "This is 65 hexadecimal digits; a sync key is 64 of them, or 32 bytes of base64.")},
        {"31 bytes of base64", QString::fromLatin1(kSyncKey.left(31).toBase64()),
         QStringLiteral("This is 31 bytes of base64; a sync key is 32 bytes.")},
        {"33 bytes of base64", QString::fromLatin1((kSyncKey + 'x').toBase64()),
         QStringLiteral("This is 33 bytes of base64; a sync key is 32 bytes.")},
        {"33 bytes of base64url, unpadded",
         QString::fromLatin1(
             (kSyncKey + 'x')
                 .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals)),
         QStringLiteral("This is 33 bytes of base64; a sync key is 32 bytes.")},
        {"62 hex digits", hexLower.left(62),
         QStringLiteral(
             "This is 62 hexadecimal digits; a sync key is 64 of them, or 32 bytes of base64.")},
        {"66 hex digits", hexLower + "00",
         QStringLiteral(
             "This is 66 hexadecimal digits; a sync key is 64 of them, or 32 bytes of base64.")},
    };
    for (const auto& [what, text, expected] : cases) {
        const auto parsed = SyncKeyText::parse(text);
        if (const auto* key = std::get_if<QByteArray>(&expected)) {
            ASSERT_TRUE(std::holds_alternative<SymmetricKey>(parsed))
                << what << ": " << std::get<QString>(parsed).toStdString();
            EXPECT_EQ(std::get<SymmetricKey>(parsed).bytes().toHex(), key->toHex()) << what;
        } else {
            ASSERT_TRUE(std::holds_alternative<QString>(parsed)) << what;
            EXPECT_EQ(std::get<QString>(parsed), std::get<QString>(expected)) << what;
        }
    }
}

// --- The controller, on virtual time -------------------------------------------------------------

class KeyPairingTest : public testing::Test {
protected:
    KeyPairingTest() {
        pairing->keyStored = [this] { ++keysStored; };
        QObject::connect(pairing.get(), &KeyPairing::stateChanged, [this] { ++stateChanges; });
    }

    // The offer the desktop shows, as the phone reads it from the QR code.
    PairingURI shownOffer() const {
        const auto parsed = PairingURI::parse(pairing->offerText());
        if (!std::holds_alternative<PairingURI>(parsed)) {
            ADD_FAILURE() << "no offer shown: " << pairing->offerText().toStdString();
            return {};
        }
        return std::get<PairingURI>(parsed);
    }

    // What the phone saves to answer the shown offer.
    CloudRecord answer(const SymmetricKey& key, double expiresIn = 600) const {
        return KeyHandoff::seal(key, shownOffer(), addingSeconds(actor.now(), expiresIn));
    }

    std::optional<QByteArray> storedKey() const {
        const auto found =
            keychain.items.constFind(FakeKeychain::keyOf(CloudSyncCrypto::syncKeyQuery()));
        if (found == keychain.items.cend()) {
            return std::nullopt;
        }
        return *found;
    }

    QStringList logLinesWith(const QString& words) const { return log.messages().filter(words); }

    // No log line holds the key in any of the forms a person or a tool would write it.
    void expectKeyNotLogged(const QByteArray& key) const {
        const QByteArray forms[] = {
            key.toBase64(),
            key.toBase64(QByteArray::OmitTrailingEquals),
            key.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals),
            key.toHex(),
            key.toHex().toUpper(),
            key.left(8).toHex(),
            key.toBase64().left(12),
        };
        for (const QString& line : log.messages()) {
            for (const QByteArray& form : forms) {
                EXPECT_FALSE(line.contains(QString::fromLatin1(form), Qt::CaseSensitive))
                    << line.toStdString();
            }
        }
    }

    std::optional<QString> enterKey(const QString& text) {
        std::optional<std::optional<QString>> answered;
        auto run = [](KeyPairing& pairing, QString text,
                      std::optional<std::optional<QString>>& into) -> Task<void> {
            into = co_await pairing.enterKey(std::move(text));
        };
        actor.spawn(run(*pairing, text, answered));
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

TEST_F(KeyPairingTest, LooksTheRecordUpAtOnceAndThenEveryTwoSeconds) {
    EXPECT_EQ(pairing->state(), KeyPairing::State::idle);
    EXPECT_EQ(pairing->offerText(), QString());
    actor.runUntilIdle();
    EXPECT_EQ(cloud.fetches, 0);

    pairing->start();
    EXPECT_EQ(pairing->state(), KeyPairing::State::offering);
    EXPECT_EQ(pairing->secondsLeft(), 600);
    actor.runUntilIdle();
    EXPECT_EQ(cloud.fetches, 1);
    EXPECT_EQ(cloud.lastFetchedName, "key-handoff");

    const struct {
        double advance;
        int fetches;
    } steps[] = {{1.999, 1}, {0.001, 2}, {1.5, 2}, {0.5, 3}, {10, 8}, {100, 58}};
    double elapsed = 0;
    for (const auto& [advance, fetches] : steps) {
        actor.advance(advance);
        elapsed += advance;
        EXPECT_EQ(cloud.fetches, fetches) << "after " << elapsed << " s";
        EXPECT_NEAR(pairing->secondsLeft(), 600 - elapsed, 1e-6);
    }
    EXPECT_EQ(pairing->state(), KeyPairing::State::offering);
    EXPECT_EQ(keysStored, 0);
    EXPECT_TRUE(log.messages().filter("ignored").isEmpty()) << "no record is no record to ignore";
}

TEST_F(KeyPairingTest, TheAnswerReplacesTheStoredKeyOnceAndEndsTheOffer) {
    keychain.items.insert(FakeKeychain::keyOf(CloudSyncCrypto::syncKeyQuery()),
                          QByteArray(32, 'o'));
    pairing->start();
    actor.advance(4);
    const SymmetricKey syncKey = SymmetricKey::random();
    cloud.record = answer(syncKey);
    const int before = cloud.fetches;
    actor.advance(2);

    EXPECT_EQ(cloud.fetches, before + 1);
    EXPECT_EQ(storedKey(), syncKey.bytes());
    EXPECT_EQ(keysStored, 1);
    EXPECT_EQ(pairing->state(), KeyPairing::State::paired);
    EXPECT_EQ(pairing->offerText(), QString());
    EXPECT_EQ(pairing->secondsLeft(), 0);
    EXPECT_EQ(stateChanges, 2);  // offering, paired

    // The record stays in the cloud; the desktop no longer looks.
    actor.advance(60);
    EXPECT_EQ(cloud.fetches, before + 1);
    EXPECT_EQ(keysStored, 1);
    EXPECT_EQ(logLinesWith("key received from the phone and stored").size(), 1);
    expectKeyNotLogged(syncKey.bytes());
}

TEST_F(KeyPairingTest, AKeychainThatRefusesIsTriedAgainAtTheNextLookup) {
    pairing->start();
    const SymmetricKey syncKey = SymmetricKey::random();
    cloud.record = answer(syncKey);
    keychain.failWith = Keychain::interactionNotAllowed;
    actor.runUntilIdle();
    EXPECT_EQ(keysStored, 0);
    EXPECT_EQ(pairing->state(), KeyPairing::State::offering);
    EXPECT_EQ(logLinesWith("keychain error -25308").size(), 1);

    keychain.failWith.reset();
    actor.advance(2);
    EXPECT_EQ(storedKey(), syncKey.bytes());
    EXPECT_EQ(keysStored, 1);
    EXPECT_EQ(pairing->state(), KeyPairing::State::paired);
    expectKeyNotLogged(syncKey.bytes());
}

TEST_F(KeyPairingTest, ACloudThatCannotBeAskedIsLoggedOnceUntilARecordComes) {
    cloud.fetchError = CloudError(CloudError::networkFailure, "The network connection was lost.");
    pairing->start();
    actor.runUntilIdle();
    actor.advance(10);
    EXPECT_EQ(logLinesWith("cannot look for the hand-off").size(), 1);
    EXPECT_EQ(pairing->state(), KeyPairing::State::offering) << "a failed lookup ends nothing";

    // No record at all is the ordinary answer while the phone has not answered: nothing to say.
    cloud.fetchError.reset();
    actor.advance(10);
    cloud.fetchError = CloudError(CloudError::networkFailure, "The network connection was lost.");
    actor.advance(10);
    EXPECT_EQ(logLinesWith("cannot look for the hand-off").size(), 1)
        << "a no-record answer in between does not say it again";
    cloud.record = answer(SymmetricKey::random(), -1);
    actor.advance(2);
    cloud.record.reset();
    actor.advance(2);
    EXPECT_EQ(logLinesWith("cannot look for the hand-off").size(), 2);
}

TEST_F(KeyPairingTest, EachIgnoredRecordIsLoggedOnceSayingWhy) {
    const SymmetricKey syncKey = SymmetricKey::random();
    const PairingOffer elsewhere = PairingOffer::make(actor.now());
    struct Case {
        const char* what;
        std::function<CloudRecord()> record;
        Rejection why;
    };
    const Case cases[] = {
        {"for another offer",
         [&] { return KeyHandoff::seal(syncKey, elsewhere.uri(), addingSeconds(actor.now(), 60)); },
         Rejection::otherPairing},
        {"expired", [&] { return answer(syncKey, -1); }, Rejection::stale},
        {"altered",
         [&] {
             CloudRecord record = answer(syncKey);
             record.fields.insert("sealedKey", flipped(*record.field<QByteArray>("sealedKey"), 30));
             return record;
         },
         Rejection::doesNotOpen},
        {"weak phone key",
         [&] {
             CloudRecord record = answer(syncKey);
             record.fields.insert("phoneKey", QByteArray(32, '\0'));
             return record;
         },
         Rejection::weakPhoneKey},
        {"short sealed key",
         [&] {
             CloudRecord record = answer(syncKey);
             record.fields.insert("sealedKey", record.field<QByteArray>("sealedKey")->left(48));
             return record;
         },
         Rejection::wrongLength},
        {"without fields",
         [&] {
             CloudRecord record = answer(syncKey);
             record.fields.remove("expiresAt");
             return record;
         },
         Rejection::malformed},
    };
    pairing->start();
    int expectedLines = 0;
    std::vector<CloudRecord> shown;
    for (const auto& [what, record, why] : cases) {
        shown.push_back(record());
        cloud.record = shown.back();
        actor.advance(20);  // ten lookups of the same record
        ++expectedLines;
        const QStringList ignored = logLinesWith("pairing: ignored");
        ASSERT_EQ(ignored.size(), expectedLines) << what;
        EXPECT_EQ(ignored.last(), "pairing: ignored " + KeyHandoff::describe(why)) << what;
    }
    EXPECT_EQ(pairing->state(), KeyPairing::State::offering);
    EXPECT_EQ(keysStored, 0);
    EXPECT_EQ(storedKey(), std::nullopt);
    expectKeyNotLogged(syncKey.bytes());

    // The same record back again after another one is a change, so it gets a line again.
    cloud.record = shown.front();
    actor.advance(2);
    EXPECT_EQ(logLinesWith("pairing: ignored").size(), expectedLines + 1);
}

TEST_F(KeyPairingTest, TheOfferEndsAfterExactlyTenMinutes) {
    pairing->start();
    actor.runUntilIdle();
    const CloudRecord late = answer(SymmetricKey::random(), 3600);
    actor.advance(599.5);
    EXPECT_EQ(pairing->state(), KeyPairing::State::offering);
    EXPECT_NEAR(pairing->secondsLeft(), 0.5, 1e-6);
    EXPECT_EQ(cloud.fetches, 300);  // at 0, 2, …, 598 s

    actor.advance(0.5);
    EXPECT_EQ(pairing->state(), KeyPairing::State::expired);
    EXPECT_EQ(pairing->offerText(), QString());
    EXPECT_EQ(pairing->secondsLeft(), 0);
    EXPECT_EQ(logLinesWith("pairing: the offer ended unanswered").size(), 1);

    cloud.record = late;  // no one looks any more
    actor.advance(3600);
    EXPECT_EQ(cloud.fetches, 300);
    EXPECT_EQ(keysStored, 0);
    EXPECT_EQ(pairing->state(), KeyPairing::State::expired);
}

TEST_F(KeyPairingTest, TheOfferEndsOnTimeEvenWhileALookupHangs) {
    cloud.holdFetches = true;
    pairing->start();
    actor.advance(599);
    EXPECT_EQ(pairing->state(), KeyPairing::State::offering);
    const SymmetricKey syncKey = SymmetricKey::random();
    cloud.record = KeyHandoff::seal(syncKey, shownOffer(), addingSeconds(actor.now(), 600));

    actor.advance(1);
    EXPECT_EQ(pairing->state(), KeyPairing::State::expired);
    EXPECT_EQ(pairing->offerText(), QString());

    // The lookup that was under way answers after the offer ended: its answer is dropped.
    cloud.releaseFetches();
    actor.advance(10);
    EXPECT_EQ(keysStored, 0);
    EXPECT_EQ(storedKey(), std::nullopt);
    EXPECT_EQ(cloud.fetches, 1);
    EXPECT_EQ(pairing->state(), KeyPairing::State::expired);
}

TEST_F(KeyPairingTest, CancelEndsTheOffer) {
    pairing->cancel();
    EXPECT_EQ(pairing->state(), KeyPairing::State::idle) << "nothing to cancel";
    EXPECT_EQ(stateChanges, 0);

    pairing->start();
    actor.advance(2);
    const int fetched = cloud.fetches;
    const CloudRecord late = answer(SymmetricKey::random());
    pairing->cancel();
    EXPECT_EQ(pairing->state(), KeyPairing::State::cancelled);
    EXPECT_EQ(pairing->offerText(), QString());
    EXPECT_EQ(logLinesWith("pairing: cancelled").size(), 1);

    cloud.record = late;
    actor.advance(60);
    EXPECT_EQ(cloud.fetches, fetched);
    EXPECT_EQ(keysStored, 0);
    EXPECT_EQ(pairing->state(), KeyPairing::State::cancelled);
}

TEST_F(KeyPairingTest, CancelWhileALookupIsUnderWayDropsItsAnswer) {
    cloud.holdFetches = true;
    pairing->start();
    actor.runUntilIdle();
    cloud.record = answer(SymmetricKey::random());
    pairing->cancel();
    cloud.releaseFetches();
    actor.advance(10);
    EXPECT_EQ(keysStored, 0);
    EXPECT_EQ(storedKey(), std::nullopt);
    EXPECT_EQ(pairing->state(), KeyPairing::State::cancelled);
}

TEST_F(KeyPairingTest, ANewStartMakesANewOfferAndTheOldOneCannotBeAnswered) {
    pairing->start();
    actor.runUntilIdle();
    const PairingURI first = shownOffer();
    const CloudRecord toFirst = answer(SymmetricKey::random());
    actor.advance(100);

    pairing->start();
    const PairingURI second = shownOffer();
    EXPECT_NE(second.pairingID, first.pairingID);
    EXPECT_NE(second.publicKey, first.publicKey);
    EXPECT_EQ(pairing->secondsLeft(), 600) << "the new offer has its full ten minutes";

    cloud.record = toFirst;
    actor.advance(10);
    EXPECT_EQ(keysStored, 0);
    EXPECT_EQ(
        logLinesWith("pairing: ignored " + KeyHandoff::describe(Rejection::otherPairing)).size(),
        1);

    // It ends ten minutes after it was made, not after the first.
    actor.advance(589);
    EXPECT_EQ(pairing->state(), KeyPairing::State::offering);
    actor.advance(1);
    EXPECT_EQ(pairing->state(), KeyPairing::State::expired);
}

TEST_F(KeyPairingTest, GoingAwayWhileALookupIsUnderWayIsSafe) {
    cloud.holdFetches = true;
    pairing->start();
    actor.runUntilIdle();
    cloud.record = answer(SymmetricKey::random());
    pairing.reset();
    cloud.releaseFetches();
    actor.advance(700);
    EXPECT_EQ(keysStored, 0);
    EXPECT_EQ(storedKey(), std::nullopt);
}

QByteArray sealedPendingCode(const SymmetricKey& key, QByteArray payload = {}) {
    if (!payload.isEmpty()) {
        return PendingCode::magic() + char(PendingCode::formatVersion) +
               AesGcm::seal(key.bytes(), payload);
    }
    const PendingCode code{QUuid::fromString(u"E621E1F8-C36C-495A-93FC-0C247A3E6E5F"),
                           "Work GitHub",
                           "github",
                           "123456",
                           kNow,
                           addingSeconds(kNow, 90),
                           "iPhone"};
    return code.seal(key);
}

CloudRecord pendingCodeRecord(const QByteArray& blob) {
    CloudRecord record{"pending-code", "PendingCode", {}};
    record.fields.insert("blob", blob);
    record.fields.insert("expiresAt", addingSeconds(kNow, 90));
    return record;
}

TEST_F(KeyPairingTest, ATypedKeyIsSavedOnlyIfItOpensTheCodeWaiting) {
    const QString typed = QString::fromLatin1(kSyncKey.toBase64());
    const SymmetricKey typedKey = vectorSyncKey();
    const QString doesNotOpen =
        QStringLiteral("This key does not open the code waiting in your cloud");
    struct Case {
        const char* what;
        std::optional<CloudRecord> waiting;
        std::optional<QString> answer;
    };
    const Case cases[] = {
        {"no code waiting", std::nullopt, std::nullopt},
        {"a code sealed with the typed key", pendingCodeRecord(sealedPendingCode(typedKey)),
         std::nullopt},
        {"a code sealed with another key",
         pendingCodeRecord(sealedPendingCode(SymmetricKey::random())), doesNotOpen},
        // It opens, so the key is the phone's, though the code inside is of no use.
        {"a code that opens to no code", pendingCodeRecord(sealedPendingCode(typedKey, "[]")),
         std::nullopt},
    };
    for (const auto& [what, waiting, expected] : cases) {
        keychain.items.clear();
        keysStored = 0;
        cloud.record = waiting;
        const int fetched = cloud.fetches;
        EXPECT_EQ(enterKey(typed), expected) << what;
        EXPECT_EQ(cloud.fetches, fetched + 1) << what;
        EXPECT_EQ(cloud.lastFetchedName, "pending-code") << what;
        EXPECT_EQ(storedKey(), expected ? std::nullopt : std::optional(kSyncKey)) << what;
        EXPECT_EQ(keysStored, expected ? 0 : 1) << what;
    }
    expectKeyNotLogged(kSyncKey);
}

TEST_F(KeyPairingTest, ATypedKeyInAWrongFormIsExplainedAndNotLookedFor) {
    const struct {
        QString text;
        QString message;
    } cases[] = {
        {"", "A sync key is 32 bytes, written as base64 or as 64 hexadecimal digits."},
        {"hello, world", "A sync key is 32 bytes, written as base64 or as 64 hexadecimal digits."},
        {QString::fromLatin1(kSyncKey.left(16).toBase64()),
         "This is 16 bytes of base64; a sync key is 32 bytes."},
    };
    for (const auto& [text, message] : cases) {
        EXPECT_EQ(enterKey(text), message) << text.toStdString();
    }
    EXPECT_EQ(cloud.fetches, 0);
    EXPECT_EQ(keysStored, 0);
    EXPECT_EQ(keychain.stores, 0);
}

TEST_F(KeyPairingTest, ATypedKeyReplacesTheOldOneAndEndsAnOpenOffer) {
    keychain.items.insert(FakeKeychain::keyOf(CloudSyncCrypto::syncKeyQuery()),
                          QByteArray(32, 'o'));
    pairing->start();
    actor.advance(4);
    const int fetched = cloud.fetches;
    EXPECT_EQ(enterKey(QString::fromLatin1(kSyncKey.toHex().toUpper())), std::nullopt);
    EXPECT_EQ(storedKey(), kSyncKey);
    EXPECT_EQ(keysStored, 1);
    EXPECT_EQ(pairing->state(), KeyPairing::State::paired);
    EXPECT_EQ(pairing->offerText(), QString());
    actor.advance(60);
    EXPECT_EQ(cloud.fetches, fetched + 1) << "only the pending-code lookup of enterKey";
    expectKeyNotLogged(kSyncKey);
}

TEST_F(KeyPairingTest, ATypedKeyTheKeychainRefusesIsReported) {
    keychain.failWith = Keychain::notAvailable;
    EXPECT_EQ(enterKey(QString::fromLatin1(kSyncKey.toHex())),
              QStringLiteral("The keychain did not take the key."));
    EXPECT_EQ(keysStored, 0);
}

}  // namespace
