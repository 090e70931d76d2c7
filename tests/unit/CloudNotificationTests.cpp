// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QVariantHash>
#include <limits>

#include "platform/RemoteNotifications.h"

namespace {

// A cloud push whose own part holds `part` under `kind`, beside the keys every push carries.
QVariantMap cloudPush(const char* kind, const QVariant& part) {
    return {{"aps", QVariantMap{{"content-available", 1}}},
            {"ck", QVariantMap{{"ce", 2}, {"nid", "4a65fb63-98ea-4710"}, {kind, part}}}};
}

// A query subscription's push as the service sends it, with `key` of its query set to `value`.
QVariantMap queryPush(const QString& key = {}, const QVariant& value = {}) {
    QVariantMap query{{"dbs", 1},
                      {"fo", 2},
                      {"rid", "pending-code"},
                      {"sid", "pending-code-changes"},
                      {"zid", "_defaultZone"}};
    if (!key.isEmpty()) {
        query[key] = value;
    }
    return cloudPush("qry", query);
}

TEST(CloudNotification, APushGivesItsSubscriptionRecordAndReason) {
    const struct {
        const char* name;
        QVariantMap push;
        CloudNotification expected;
    } rows[]{
        {"query", queryPush(), {"pending-code-changes", "pending-code", 2}},
        {"zone", cloudPush("fet", QVariantMap{{"dbs", 1}, {"sid", "zone"}}), {"zone", {}, {}}},
        {"database", cloudPush("met", QVariantMap{{"sid", "db"}}), {"db", {}, {}}},
        // Missing keys are simply absent.
        {"database without an id", cloudPush("met", QVariantMap{{"dbs", 1}}), {}},
        {"query without its keys", cloudPush("qry", QVariantMap{{"dbs", 1}}), {}},
        {"a cloud push of another kind", {{"ck", QVariantMap{{"ce", 2}}}}, {}},
        {"hashes for dictionaries",
         {{"ck", QVariantHash{{"qry", QVariantHash{{"sid", "s"}, {"rid", "r"}, {"fo", 1}}}}}},
         {"s", "r", 1}},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(CloudNotification::fromRemoteNotification(row.push), row.expected) << row.name;
    }
    // The reason is read from every number type a decoder hands out.
    for (const QVariant& reason : {QVariant(3), QVariant(3u), QVariant(qlonglong(3)),
                                   QVariant(qulonglong(3)), QVariant(3.0), QVariant(3.0f)}) {
        EXPECT_EQ(CloudNotification::fromRemoteNotification(queryPush("fo", reason)),
                  (CloudNotification{"pending-code-changes", "pending-code", 3}))
            << reason.typeName();
    }
}

TEST(CloudNotification, WhatIsNoCloudPushOrHasWrongTypesInsideGivesNothing) {
    QList<QVariantMap> pushes{{},
                              {{"aps", QVariantMap{{"content-available", 1}}}},
                              {{"custom", QVariantMap{{"qry", QVariantMap{{"sid", "s"}}}}}}};
    for (const QVariant& ck : {QVariant("ck"), QVariant(2), QVariant(QVariantList{}), QVariant()}) {
        pushes.append({{"ck", ck}});
    }
    for (const char* kind : {"qry", "fet", "met"}) {
        pushes.append(cloudPush(kind, "not a dictionary"));
        pushes.append(cloudPush(kind, QVariantMap{{"sid", 5}}));
    }
    for (const auto& [key, value] :
         QList<std::pair<QString, QVariant>>{{"sid", QVariantList{"s"}},
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
                                             {"fo", QVariant()}}) {
        pushes.append(queryPush(key, value));
    }
    for (qsizetype index = 0; index < pushes.size(); ++index) {
        EXPECT_FALSE(CloudNotification::fromRemoteNotification(pushes[index])) << "push #" << index;
    }
}

}  // namespace
