// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>

#include "shared/Iso8601.h"
#include "shared/LatestCode.h"

namespace {

LatestCode sample(const QString& code = "123456") {
    const Instant issued = *Iso8601::parse(u"2026-03-01T12:00:00Z");
    return {"Work GitHub",
            "github",
            code,
            "iPhone",
            issued,
            addingSeconds(issued, 2),
            addingSeconds(issued, 90)};
}

TEST(LatestCode, IsValidStrictlyBeforeExpiryAndNeverWhenEmpty) {
    const LatestCode code = sample();
    EXPECT_TRUE(code.isValid(code.expiresAt - std::chrono::microseconds(1)));
    EXPECT_FALSE(code.isValid(code.expiresAt));
    EXPECT_FALSE(code.isValid(code.expiresAt + std::chrono::seconds(1)));
    EXPECT_FALSE(sample("").isValid(code.issuedAt));
}

// Counted as the user sees them: a family emoji is several code points joined by zero-width
// joiners, an accented letter a letter and a mark.
TEST(LatestCode, DisplayCodeGroupsSixSevenAndEightCharactersAsTheUserSeesThem) {
    const QString family = QString::fromUtf8("\U0001F468\u200D\U0001F469\u200D\U0001F467");
    const QString e = QString::fromUtf8("e\u0301");
    const std::pair<QString, QString> rows[] = {
        {"123456", "123 456"},
        {"1234567", "1234 567"},
        {"12345678", "1234 5678"},
        {"", ""},
        {"12345", "12345"},
        {"123456789", "123456789"},
        {family.repeated(6), family.repeated(3) + " " + family.repeated(3)},
        {e.repeated(7), e.repeated(4) + " " + e.repeated(3)},
        {e.repeated(5), e.repeated(5)},
    };
    for (const auto& [code, display] : rows) {
        EXPECT_EQ(sample(code).displayCode(), display) << code.toStdString();
    }
}

TEST(LatestCodeCoding, WritesCompactJsonWithWholeSecondUtcInstantsAndReadsItBack) {
    LatestCode code = sample();
    code.receivedAt += std::chrono::milliseconds(750);
    const QByteArray json = *code.encode();
    EXPECT_FALSE(json.contains('\n'));
    const QJsonObject object = QJsonDocument::fromJson(json).object();
    EXPECT_EQ(object.value("receivedAt").toString(), "2026-03-01T12:00:02Z");
    EXPECT_EQ(object.value("serviceID").toString(), "github");
    EXPECT_EQ(object.keys().size(), 7);
    EXPECT_EQ(LatestCode::decode(*sample().encode()), sample());
    code.serviceID.reset();
    EXPECT_FALSE(code.encode()->contains("serviceID"));
    // Keys in any order, unknown ones ignored, any offset.
    EXPECT_EQ(
        LatestCode::decode(
            R"({"zzz":1,"expiresAt":"2026-03-01T13:01:30+01:00","code":"123456","receivedAt":"2026-03-01T12:00:02Z",)"
            R"("issuedAt":"2026-03-01T12:00:00Z","fromDevice":"iPhone","serviceID":"github","accountName":"Work GitHub"})"),
        sample());
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
        EXPECT_FALSE(decodeWith(key, QJsonValue::Undefined)) << key << " missing";
        EXPECT_FALSE(decodeWith(key, QJsonValue::Null)) << key << " null";
        EXPECT_FALSE(decodeWith(key, 5)) << key << " a number";
    }
    for (const QJsonValue& absent : {QJsonValue(QJsonValue::Undefined), QJsonValue()}) {
        const auto decoded = decodeWith("serviceID", absent);
        ASSERT_TRUE(decoded);
        EXPECT_EQ(decoded->serviceID, std::nullopt);
    }
    EXPECT_FALSE(decodeWith("serviceID", 5)) << "a service of another type";
    EXPECT_FALSE(decodeWith("expiresAt", "2026-03-01T12:01:30.250Z")) << "a fraction";
    EXPECT_FALSE(decodeWith("expiresAt", "2026-03-01T12:01:30")) << "no zone";
    EXPECT_FALSE(LatestCode::decode("[]")) << "not an object";
    EXPECT_FALSE(LatestCode::decode("")) << "no JSON";
    EXPECT_FALSE(LatestCode::decode(sample().encode()->chopped(1))) << "cut short";
}

TEST(LatestCodeCoding, CodingKeysReadBackOnlyTheirOwnNames) {
    for (int i = 0; i < 7; ++i) {
        const auto key = static_cast<LatestCode::CodingKeys>(i);
        EXPECT_EQ(LatestCode::codingKey(LatestCode::stringValue(key)), key);
    }
    EXPECT_FALSE(LatestCode::codingKey(u"accountname"));
    EXPECT_FALSE(LatestCode::codingKey(u"0"));
}

}  // namespace
