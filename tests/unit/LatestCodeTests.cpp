// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>

#include "shared/Iso8601.h"
#include "shared/LatestCode.h"

namespace {

LatestCode sample() {
    return LatestCode{"Work GitHub",
                      "github",
                      "123456",
                      "iPhone",
                      *Iso8601::parse(u"2026-03-01T12:00:00Z"),
                      *Iso8601::parse(u"2026-03-01T12:00:02Z"),
                      *Iso8601::parse(u"2026-03-01T12:01:30Z")};
}

LatestCode withCode(const QString& code) {
    LatestCode latest = sample();
    latest.code = code;
    return latest;
}

TEST(LatestCode, IsValidStrictlyBeforeExpiryAndNeverWhenEmpty) {
    const LatestCode code = sample();
    EXPECT_TRUE(code.isValid(code.expiresAt - std::chrono::microseconds(1)));
    EXPECT_FALSE(code.isValid(code.expiresAt));
    EXPECT_FALSE(code.isValid(code.expiresAt + std::chrono::seconds(1)));
    EXPECT_FALSE(withCode("").isValid(code.issuedAt));
}

// Six, seven and eight characters are grouped, counted as the user sees them: a family emoji is
// several code points joined by zero-width joiners, an accented letter a letter and a mark.
TEST(LatestCode, DisplayCodeGroupsSixSevenAndEightCharactersAsTheUserSeesThem) {
    EXPECT_EQ(withCode("123456").displayCode(), "123 456");
    EXPECT_EQ(withCode("1234567").displayCode(), "1234 567");
    EXPECT_EQ(withCode("12345678").displayCode(), "1234 5678");
    for (const char* unchanged : {"", "1", "12345", "123456789", "ABCDEFGHIJ"}) {
        EXPECT_EQ(withCode(unchanged).displayCode(), unchanged);
    }
    const QString family = QString::fromUtf8("\U0001F468\u200D\U0001F469\u200D\U0001F467");
    EXPECT_EQ(withCode(family.repeated(6)).displayCode(),
              family.repeated(3) + " " + family.repeated(3));
    const QString e = QString::fromUtf8("e\u0301");
    EXPECT_EQ(withCode(e.repeated(7)).displayCode(), e.repeated(4) + " " + e.repeated(3));
    EXPECT_EQ(withCode(e.repeated(5)).displayCode(), e.repeated(5));
}

// How the table is read is ServiceDomains' own.
TEST(LatestCode, DomainsComeFromTheServiceTable) {
    LatestCode code = sample();
    code.serviceID = " GitHub \n";
    EXPECT_EQ(code.domains(), QStringList{"github.com"});
    code.serviceID.reset();
    EXPECT_TRUE(code.domains().isEmpty());
}

TEST(LatestCodeCoding, WritesCompactJsonWithWholeSecondUtcInstants) {
    LatestCode code = sample();
    code.receivedAt += std::chrono::milliseconds(750);
    const QByteArray json = *code.encode();
    EXPECT_FALSE(json.contains('\n'));
    const QJsonObject object = QJsonDocument::fromJson(json).object();
    EXPECT_EQ(object.value("receivedAt").toString(), "2026-03-01T12:00:02Z");
    EXPECT_EQ(object.value("serviceID").toString(), "github");
    EXPECT_EQ(object.keys().size(), 7);

    code.serviceID.reset();
    EXPECT_FALSE(code.encode()->contains("serviceID"));
}

TEST(LatestCodeCoding, ReadsKeysInAnyOrderAndIgnoresUnknownOnes) {
    const QByteArray json =
        R"({"zzz":1,"expiresAt":"2026-03-01T13:01:30+01:00","code":"123456","receivedAt":"2026-03-01T12:00:02Z",)"
        R"("issuedAt":"2026-03-01T12:00:00Z","fromDevice":"iPhone","serviceID":"github","accountName":"Work GitHub"})";
    EXPECT_EQ(LatestCode::decode(json), sample());
    EXPECT_EQ(LatestCode::decode(*sample().encode()), sample());
}

// Only the service may be null or missing.
TEST(LatestCodeCoding, AnythingIncompleteOrMalformedReadsAsNothing) {
    const QJsonObject good = QJsonDocument::fromJson(*sample().encode()).object();
    auto decodeWith = [&](const QString& key, const QJsonValue& value) {
        QJsonObject object = good;
        value.isUndefined() ? void(object.remove(key)) : void(object.insert(key, value));
        return LatestCode::decode(QJsonDocument(object).toJson());
    };
    for (const char* key :
         {"accountName", "code", "fromDevice", "issuedAt", "receivedAt", "expiresAt"}) {
        EXPECT_FALSE(decodeWith(key, QJsonValue::Undefined)) << key;
        EXPECT_FALSE(decodeWith(key, QJsonValue::Null)) << key;
        EXPECT_FALSE(decodeWith(key, 5)) << key;
    }
    for (const QJsonValue& absent : {QJsonValue(QJsonValue::Undefined), QJsonValue()}) {
        const auto decoded = decodeWith("serviceID", absent);
        ASSERT_TRUE(decoded);
        EXPECT_EQ(decoded->serviceID, std::nullopt);
    }
    EXPECT_FALSE(decodeWith("serviceID", 5));
    EXPECT_FALSE(decodeWith("expiresAt", "2026-03-01T12:01:30.250Z"));
    EXPECT_FALSE(decodeWith("expiresAt", "2026-03-01T12:01:30"));
    EXPECT_TRUE(decodeWith("expiresAt", "2026-03-01T12:01:30Z"));
    EXPECT_FALSE(LatestCode::decode("[]"));
    EXPECT_FALSE(LatestCode::decode(""));
    EXPECT_FALSE(LatestCode::decode(QByteArray(*sample().encode()).chopped(1)));
}

// The names themselves are the file's keys, which the decoding tests read.
TEST(LatestCodeCoding, CodingKeysReadBackOnlyTheirOwnNames) {
    for (int i = 0; i < 7; ++i) {
        const auto key = static_cast<LatestCode::CodingKeys>(i);
        EXPECT_EQ(LatestCode::codingKey(LatestCode::stringValue(key)), key);
    }
    EXPECT_FALSE(LatestCode::codingKey(u"accountname"));
    EXPECT_FALSE(LatestCode::codingKey(u"0"));
}

}  // namespace
