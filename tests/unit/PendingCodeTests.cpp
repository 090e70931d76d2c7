// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>

#include "ZorvikMac/CodeIntake/JsonDecodingError.h"
#include "ZorvikMac/CodeIntake/PendingCode.h"
#include "ZorvikMac/CodeIntake/PendingCodeError.h"
#include "ZorvikMac/CodeIntake/SymmetricKey.h"
#include "platform/AesGcm.h"
#include "shared/Iso8601.h"
#include "tests/support/PythonReference.h"

namespace {

using DecodingKind = JsonDecodingError::Kind;

SymmetricKey testKey(char fill = 'k') {
    return *SymmetricKey::fromBytes(QByteArray(32, fill));
}

PendingCode sampleCode() {
    return PendingCode{QUuid::fromString(u"E621E1F8-C36C-495A-93FC-0C247A3E6E5F"),
                       "Work GitHub",
                       "github",
                       "123456",
                       *Iso8601::parse(u"2026-03-01T12:00:00Z"),
                       *Iso8601::parse(u"2026-03-01T12:01:30Z"),
                       "iPhone"};
}

// The error `call` threw; anything else it throws, or nothing thrown, fails the test.
template <class Thrown, class Call>
Thrown thrown(Call&& call) {
    try {
        call();
    } catch (const Thrown& error) {
        return error;
    }
    throw std::runtime_error("nothing was thrown");
}

PendingCode openWithTestKey(const QByteArray& blob, const SymmetricKey& key = testKey()) {
    return PendingCode::open(blob, key);
}

// A blob of the pending-code layout around any payload.
QByteArray blobAround(const QByteArray& json) {
    return PendingCode::magic() + char(1) + AesGcm::seal(testKey().bytes(), json);
}

// "ZRVK", the version, a 12-byte nonce, the JSON and a 16-byte tag: 33 bytes around the JSON.
TEST(PendingCodeSealing, RoundTripsAndAnIndependentImplementationOpensOurBlobs) {
    const QByteArray blob = sampleCode().seal(testKey());
    EXPECT_EQ(openWithTestKey(blob), sampleCode());
    EXPECT_EQ(blob.size(), 33 + sampleCode().encode().size());
    const QByteArray json = runPythonReference(R"(
import sys
from cryptography.hazmat.primitives.ciphers.aead import AESGCM
key, blob = (bytes.fromhex(a) for a in sys.argv[1:3])
assert blob[:5] == b"ZRVK\x01"
print(AESGCM(key).decrypt(blob[5:17], blob[17:], None).decode())
)",
                                               {testKey().bytes().toHex(), blob.toHex()});
    EXPECT_EQ(PendingCode::decode(json), sampleCode());
}

TEST(PendingCodeOpening, RejectsWhatIsNotAPendingCodeOrOfAnotherVersionBeforeAnyCrypto) {
    // A valid AES-GCM box without the magic in front is still not a pending code.
    for (const QByteArray& blob : {QByteArray(), QByteArray("ZRVK"), QByteArray("ZRVK\x01", 5),
                                   QByteArray("ZRVX\x01") + QByteArray(40, 'a'),
                                   AesGcm::seal(testKey().bytes(), sampleCode().encode())}) {
        EXPECT_EQ(thrown<PendingCodeError>([&] { openWithTestKey(blob); }),
                  PendingCodeError::notAPendingCode())
            << blob.toHex().constData();
    }
    QByteArray otherVersion = sampleCode().seal(testKey());
    otherVersion[4] = char(2);
    EXPECT_EQ(thrown<PendingCodeError>([&] { openWithTestKey(otherVersion); }),
              PendingCodeError::unsupportedVersion(2));
    EXPECT_EQ(thrown<PendingCodeError>([] { openWithTestKey(QByteArray("ZRVK\xff", 5) + "x"); }),
              PendingCodeError::unsupportedVersion(255));
    EXPECT_EQ(thrown<PendingCodeError>([] { openWithTestKey(QByteArray("ZRVK\x00", 5) + "x"); }),
              PendingCodeError::unsupportedVersion(0));
}

TEST(PendingCodeOpening, CryptoFailuresComeFromTheAesLayerAndOtherPayloadsAreDecodingErrors) {
    EXPECT_EQ(thrown<AesGcmError>([] { openWithTestKey(QByteArray("ZRVK\x01", 5) + "x"); }).kind(),
              AesGcmError::Kind::incorrectParameterSize);
    EXPECT_EQ(thrown<AesGcmError>([] {
                  openWithTestKey(sampleCode().seal(testKey()), testKey('w'));
              }).kind(),
              AesGcmError::Kind::authenticationFailure);
    EXPECT_EQ(thrown<JsonDecodingError>([] { openWithTestKey(blobAround("not json")); }).kind(),
              DecodingKind::dataCorrupted);
    EXPECT_EQ(thrown<JsonDecodingError>([] { openWithTestKey(blobAround("[1,2]")); }).kind(),
              DecodingKind::typeMismatch);
}

QByteArray payloadWith(const QString& key, const QJsonValue& value) {
    QJsonObject object = QJsonDocument::fromJson(sampleCode().encode()).object();
    if (value.isUndefined()) {
        object.remove(key);
    } else {
        object.insert(key, value);
    }
    return QJsonDocument(object).toJson();
}

DecodingKind decodingErrorWith(const QString& key, const QJsonValue& value) {
    return thrown<JsonDecodingError>([&] { PendingCode::decode(payloadWith(key, value)); }).kind();
}

TEST(PendingCodeDecoding, OptionalServiceIDAndUnknownKeys) {
    PendingCode withoutService = sampleCode();
    withoutService.serviceID.reset();
    EXPECT_EQ(PendingCode::decode(payloadWith("serviceID", QJsonValue::Undefined)), withoutService);
    EXPECT_EQ(PendingCode::decode(payloadWith("serviceID", QJsonValue::Null)), withoutService);
    EXPECT_FALSE(withoutService.encode().contains("serviceID"));
    EXPECT_EQ(PendingCode::decode(payloadWith("futureField", 42)), sampleCode());
    EXPECT_EQ(decodingErrorWith("serviceID", 7), DecodingKind::typeMismatch);
}

TEST(PendingCodeDecoding, RequiredFieldsAndTheirTypes) {
    const std::pair<QJsonValue, DecodingKind> wrong[] = {
        {QJsonValue::Undefined, DecodingKind::keyNotFound},
        {QJsonValue::Null, DecodingKind::valueNotFound},
        {12, DecodingKind::typeMismatch},
    };
    for (const char* key :
         {"accountID", "accountName", "code", "issuedAt", "expiresAt", "fromDevice"}) {
        for (const auto& [value, kind] : wrong) {
            EXPECT_EQ(decodingErrorWith(key, value), kind) << key;
        }
    }
}

TEST(PendingCodeDecoding, DatesAreWholeSecondInternetDateTimesAndAccountIDsCanonicalUuids) {
    EXPECT_EQ(PendingCode::decode(payloadWith("expiresAt", "2026-03-01T13:01:30+01:00")),
              sampleCode());
    EXPECT_EQ(PendingCode::decode(payloadWith("accountID", "e621e1f8-c36c-495a-93fc-0c247a3e6e5f")),
              sampleCode());
    const std::pair<const char*, QStringList> corrupt[] = {
        {"expiresAt",
         {"2026-03-01T12:01:30.5Z", "2026-03-01T12:01:30", "2026-03-01 12:01:30Z", "1772366490"}},
        {"accountID",
         {"{E621E1F8-C36C-495A-93FC-0C247A3E6E5F}", "E621E1F8C36C495A93FC0C247A3E6E5F",
          "not-a-uuid", ""}},
    };
    for (const auto& [key, values] : corrupt) {
        for (const QString& value : values) {
            EXPECT_EQ(decodingErrorWith(key, value), DecodingKind::dataCorrupted)
                << key << ": " << value.toStdString();
        }
    }
}

}  // namespace
