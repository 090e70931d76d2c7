#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>

#include "AesGcm.h"
#include "Iso8601.h"
#include "JsonDecodingError.h"
#include "PendingCode.h"
#include "PendingCodeError.h"
#include "PythonReference.h"
#include "SymmetricKey.h"

namespace {

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

template <class Call>
PendingCodeError pendingCodeErrorOf(Call&& call) {
    try {
        call();
    } catch (const PendingCodeError& error) {
        return error;
    }
    ADD_FAILURE() << "no PendingCodeError";
    return PendingCodeError::sealFailed();
}

template <class Call>
JsonDecodingError::Kind decodingErrorOf(Call&& call) {
    try {
        call();
    } catch (const JsonDecodingError& error) {
        return error.kind();
    }
    ADD_FAILURE() << "no JsonDecodingError";
    return JsonDecodingError::Kind::valueNotFound;
}

QByteArray blobAround(const QByteArray& json, const SymmetricKey& key = testKey()) {
    return PendingCode::magic() + char(1) + AesGcm::seal(key.bytes(), json);
}

TEST(PendingCodeSealing, RoundTripsAndHasTheDocumentedLayout) {
    const PendingCode code = sampleCode();
    const QByteArray blob = code.seal(testKey());
    EXPECT_EQ(blob.left(4), "ZRVK");
    EXPECT_EQ(blob[4], char(1));
    EXPECT_EQ(blob.size(), 33 + code.encode().size());
    EXPECT_EQ(PendingCode::open(blob, testKey()), code);
}

TEST(PendingCodeSealing, AnIndependentImplementationOpensOurBlobs) {
    const QByteArray blob = sampleCode().seal(testKey());
    const QByteArray json = runPythonReference(R"(
import sys
from cryptography.hazmat.primitives.ciphers.aead import AESGCM
key, blob = (bytes.fromhex(a) for a in sys.argv[1:3])
assert blob[:5] == b"ZRVK\x01"
box = blob[5:]
print(AESGCM(key).decrypt(box[:12], box[12:], None).decode())
)",
                                               {testKey().bytes().toHex(), blob.toHex()});
    EXPECT_EQ(PendingCode::decode(json), sampleCode());
}

TEST(PendingCodeOpening, RejectsWhatIsNotAPendingCodeBeforeAnyCrypto) {
    const auto notAPendingCode = PendingCodeError::notAPendingCode();
    for (const QByteArray& blob : {QByteArray(), QByteArray("ZRVK"), QByteArray("ZRVK\x01", 5),
                                   QByteArray("ZRVX\x01") + QByteArray(40, 'a')}) {
        EXPECT_EQ(pendingCodeErrorOf([&] { PendingCode::open(blob, testKey()); }), notAPendingCode)
            << blob.toHex().constData();
    }
    // A valid AES-GCM box without the magic in front is still not a pending code.
    const QByteArray bareBox = AesGcm::seal(testKey().bytes(), sampleCode().encode());
    EXPECT_EQ(pendingCodeErrorOf([&] { PendingCode::open(bareBox, testKey()); }), notAPendingCode);
}

TEST(PendingCodeOpening, OtherVersionsAreRejectedWhateverFollows) {
    QByteArray blob = sampleCode().seal(testKey());
    blob[4] = char(2);
    const PendingCodeError error = pendingCodeErrorOf([&] { PendingCode::open(blob, testKey()); });
    EXPECT_EQ(error, PendingCodeError::unsupportedVersion(2));
    EXPECT_EQ(
        pendingCodeErrorOf([&] { PendingCode::open(QByteArray("ZRVK\xff", 5) + "x", testKey()); }),
        PendingCodeError::unsupportedVersion(255));
    EXPECT_NE(PendingCodeError::unsupportedVersion(2), PendingCodeError::unsupportedVersion(3));
}

TEST(PendingCodeOpening, CryptoFailuresComeFromTheAesLayer) {
    auto aesKindOf = [](const QByteArray& blob, const SymmetricKey& key) {
        try {
            PendingCode::open(blob, key);
        } catch (const AesGcmError& error) {
            return error.kind();
        }
        return AesGcmError::Kind::failure;
    };
    EXPECT_EQ(aesKindOf(QByteArray("ZRVK\x01", 5) + "x", testKey()),
              AesGcmError::Kind::incorrectParameterSize);
    const QByteArray blob = sampleCode().seal(testKey());
    EXPECT_EQ(aesKindOf(blob, testKey('w')), AesGcmError::Kind::authenticationFailure);
    QByteArray altered = blob;
    altered[20] = static_cast<char>(altered[20] ^ 0x80);
    EXPECT_EQ(aesKindOf(altered, testKey()), AesGcmError::Kind::authenticationFailure);
}

TEST(PendingCodeOpening, PayloadThatIsNotTheRecordIsADecodingError) {
    EXPECT_EQ(decodingErrorOf([] { PendingCode::open(blobAround("not json"), testKey()); }),
              JsonDecodingError::Kind::dataCorrupted);
    EXPECT_EQ(decodingErrorOf([] { PendingCode::open(blobAround("[1,2]"), testKey()); }),
              JsonDecodingError::Kind::typeMismatch);
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

TEST(PendingCodeDecoding, OptionalServiceIDAndUnknownKeys) {
    PendingCode withoutService = sampleCode();
    withoutService.serviceID.reset();
    EXPECT_EQ(PendingCode::decode(payloadWith("serviceID", QJsonValue::Undefined)), withoutService);
    EXPECT_EQ(PendingCode::decode(payloadWith("serviceID", QJsonValue::Null)), withoutService);
    EXPECT_FALSE(withoutService.encode().contains("serviceID"));
    EXPECT_EQ(PendingCode::decode(payloadWith("futureField", 42)), sampleCode());
    EXPECT_EQ(decodingErrorOf([] { PendingCode::decode(payloadWith("serviceID", 7)); }),
              JsonDecodingError::Kind::typeMismatch);
}

TEST(PendingCodeDecoding, RequiredFieldsAndTheirTypes) {
    for (const char* key :
         {"accountID", "accountName", "code", "issuedAt", "expiresAt", "fromDevice"}) {
        EXPECT_EQ(
            decodingErrorOf([&] { PendingCode::decode(payloadWith(key, QJsonValue::Undefined)); }),
            JsonDecodingError::Kind::keyNotFound)
            << key;
        EXPECT_EQ(decodingErrorOf([&] { PendingCode::decode(payloadWith(key, QJsonValue::Null)); }),
                  JsonDecodingError::Kind::valueNotFound)
            << key;
        EXPECT_EQ(decodingErrorOf([&] { PendingCode::decode(payloadWith(key, 12)); }),
                  JsonDecodingError::Kind::typeMismatch)
            << key;
    }
}

TEST(PendingCodeDecoding, DatesAreWholeSecondInternetDateTimes) {
    const PendingCode withOffset =
        PendingCode::decode(payloadWith("expiresAt", "2026-03-01T13:01:30+01:00"));
    EXPECT_EQ(withOffset.expiresAt, sampleCode().expiresAt);
    for (const char* bad :
         {"2026-03-01T12:01:30.5Z", "2026-03-01T12:01:30", "2026-03-01 12:01:30Z", "1772366490"}) {
        EXPECT_EQ(decodingErrorOf([&] { PendingCode::decode(payloadWith("expiresAt", bad)); }),
                  JsonDecodingError::Kind::dataCorrupted)
            << bad;
    }
}

TEST(PendingCodeDecoding, AccountIDMustBeACanonicalUuid) {
    EXPECT_EQ(PendingCode::decode(payloadWith("accountID", "e621e1f8-c36c-495a-93fc-0c247a3e6e5f")),
              sampleCode());
    for (const char* bad : {"{E621E1F8-C36C-495A-93FC-0C247A3E6E5F}",
                            "E621E1F8C36C495A93FC0C247A3E6E5F", "not-a-uuid", ""}) {
        EXPECT_EQ(decodingErrorOf([&] { PendingCode::decode(payloadWith("accountID", bad)); }),
                  JsonDecodingError::Kind::dataCorrupted)
            << bad;
    }
}

}  // namespace
