#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QVariantHash>
#include <limits>

#include "RemoteNotifications.h"

namespace {

// The dictionary a query subscription's push carries, with `qry` changed by `edit`.
QVariantMap queryPush(const std::function<void(QVariantMap&)>& edit = {}) {
    QVariantMap query{{"dbs", 1},
                      {"fo", 2},
                      {"rid", "pending-code"},
                      {"sid", "pending-code-changes"},
                      {"zid", "_defaultZone"},
                      {"zoid", "_defaultOwner"}};
    if (edit) {
        edit(query);
    }
    return {{"aps", QVariantMap{{"content-available", 1}}},
            {"ck", QVariantMap{{"ce", 2},
                               {"cid", "iCloud.net.brontal.zorvik"},
                               {"nid", "4a65fb63-98ea-4710-a41e-6d479c63aa41"},
                               {"qry", query}}}};
}

QVariantMap fromJson(const char* json) {
    return QJsonDocument::fromJson(json).object().toVariantMap();
}

TEST(CloudNotification, AQueryPushGivesItsSubscriptionRecordAndReason) {
    const auto notification = CloudNotification::fromRemoteNotification(queryPush());
    ASSERT_TRUE(notification);
    EXPECT_EQ(notification->subscriptionID, "pending-code-changes");
    EXPECT_EQ(notification->recordName, "pending-code");
    EXPECT_EQ(notification->queryNotificationReason, 2);
}

TEST(CloudNotification, TheReasonIsReadFromEveryNumberType) {
    for (const QVariant& reason : {QVariant(3), QVariant(3u), QVariant(qlonglong(3)),
                                   QVariant(qulonglong(3)), QVariant(3.0), QVariant(3.0f)}) {
        const auto notification = CloudNotification::fromRemoteNotification(
            queryPush([&](QVariantMap& query) { query["fo"] = reason; }));
        ASSERT_TRUE(notification) << reason.typeName();
        EXPECT_EQ(notification->queryNotificationReason, 3) << reason.typeName();
    }
}

TEST(CloudNotification, ZoneAndDatabasePushesGiveTheirSubscription) {
    for (const char* kind : {"fet", "met"}) {
        const QVariantMap push{
            {"aps", QVariantMap{{"content-available", 1}}},
            {"ck",
             QVariantMap{{"ce", 2}, {kind, QVariantMap{{"dbs", 1}, {"sid", "zone-changes"}}}}}};
        const auto notification = CloudNotification::fromRemoteNotification(push);
        ASSERT_TRUE(notification) << kind;
        EXPECT_EQ(notification->subscriptionID, "zone-changes") << kind;
        EXPECT_FALSE(notification->recordName) << kind;
        EXPECT_FALSE(notification->queryNotificationReason) << kind;
    }
    const auto withoutID = CloudNotification::fromRemoteNotification(
        {{"ck", QVariantMap{{"met", QVariantMap{{"dbs", 1}}}}}});
    ASSERT_TRUE(withoutID);
    EXPECT_FALSE(withoutID->subscriptionID);
}

TEST(CloudNotification, MissingKeysInsideAQueryPushAreSimplyAbsent) {
    const auto notification =
        CloudNotification::fromRemoteNotification(queryPush([](QVariantMap& query) {
            query = {{"dbs", 1}};
        }));
    ASSERT_TRUE(notification);
    EXPECT_FALSE(notification->subscriptionID);
    EXPECT_FALSE(notification->recordName);
    EXPECT_FALSE(notification->queryNotificationReason);
}

TEST(CloudNotification, ACloudPushOfAnotherKindSaysNothingMoreAboutItself) {
    const auto notification = CloudNotification::fromRemoteNotification(
        {{"ck", QVariantMap{{"ce", 2}, {"nid", "4a65fb63-98ea-4710-a41e-6d479c63aa41"}}}});
    ASSERT_TRUE(notification);
    EXPECT_EQ(*notification, CloudNotification{});
}

TEST(CloudNotification, DictionariesMayBeHashes) {
    QVariantHash query{{"sid", "s"}, {"rid", "r"}, {"fo", 1}};
    const auto notification =
        CloudNotification::fromRemoteNotification({{"ck", QVariantHash{{"qry", query}}}});
    ASSERT_TRUE(notification);
    EXPECT_EQ(notification->subscriptionID, "s");
    EXPECT_EQ(notification->recordName, "r");
}

TEST(CloudNotification, WhatIsNoCloudPushGivesNothing) {
    EXPECT_FALSE(CloudNotification::fromRemoteNotification({}));
    EXPECT_FALSE(CloudNotification::fromRemoteNotification(
        {{"aps", QVariantMap{{"content-available", 1}}}}));
    EXPECT_FALSE(CloudNotification::fromRemoteNotification(
        fromJson(R"({"aps":{"alert":"hello"},"custom":{"qry":{"sid":"s"}}})")));
    for (const QVariant& ck : {QVariant("ck"), QVariant(2), QVariant(QVariantList{}), QVariant()}) {
        EXPECT_FALSE(CloudNotification::fromRemoteNotification({{"ck", ck}})) << ck.typeName();
    }
}

TEST(CloudNotification, WrongTypesInsideGiveNothing) {
    const QList<std::pair<QString, QVariant>> wrong{
        {"sid", 42},
        {"sid", QVariantList{"s"}},
        {"rid", 7},
        {"rid", QVariantMap{}},
        {"fo", "2"},
        {"fo", true},
        {"fo", 1.5},
        {"fo", std::numeric_limits<double>::quiet_NaN()},
        {"fo", std::numeric_limits<double>::infinity()},
        {"fo", qlonglong(1) << 40},
        {"fo", qulonglong(1) << 63},
        {"fo", 1e10},
        {"fo", QVariant()},
    };
    for (const auto& entry : wrong) {
        const QString& key = entry.first;
        const QVariant& value = entry.second;
        EXPECT_FALSE(CloudNotification::fromRemoteNotification(queryPush([&](QVariantMap& query) {
            query[key] = value;
        }))) << key.toStdString()
             << " = " << value.toString().toStdString() << " (" << value.typeName() << ")";
    }
    for (const char* kind : {"qry", "fet", "met"}) {
        EXPECT_FALSE(CloudNotification::fromRemoteNotification(
            {{"ck", QVariantMap{{kind, "not a dictionary"}}}}))
            << kind;
        EXPECT_FALSE(CloudNotification::fromRemoteNotification(
            {{"ck", QVariantMap{{kind, QVariantMap{{"sid", 5}}}}}}))
            << kind;
    }
}

}  // namespace
