// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QVariantMap>
#include <functional>
#include <optional>

// The application's channel for silent pushes from the cloud.
class RemoteNotifications {
public:
    struct Handlers {
        std::function<void()> didRegister;
        std::function<void(const QString& error)> didFailToRegister;
        // The push's user-info dictionary.
        std::function<void(const QVariantMap& userInfo)> didReceive;
    };

    virtual ~RemoteNotifications() = default;
    virtual void setHandlers(Handlers handlers) = 0;
    // Answers through didRegister or didFailToRegister, on the main thread.
    virtual void registerForRemoteNotifications() = 0;
    virtual bool isRegisteredForRemoteNotifications() const = 0;
};

// What a push from the cloud says about itself.
struct CloudNotification {
    std::optional<QString> subscriptionID;
    std::optional<QString> recordName;
    // 1 created, 2 updated, 3 deleted, for query pushes.
    std::optional<int> queryNotificationReason;

    bool operator==(const CloudNotification&) const = default;

    // Nothing for a dictionary that is not a cloud push.
    static std::optional<CloudNotification> fromRemoteNotification(const QVariantMap& userInfo);
};
