// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <functional>
#include <optional>

// The desktop's notification centre, shaped after what the product asks of it. Every answer
// arrives later on the main thread, never inside the call that asked for it.
class UserNotificationCenter {
public:
    // The action identifier of a click on the notification itself rather than on a button.
    static constexpr auto defaultActionIdentifier = "default";

    enum class AuthorizationStatus {
        notDetermined = 0,
        denied = 1,
        authorized = 2,
        provisional = 3,
        ephemeral = 4,
        // No notification service answers on this desktop: nothing the user turned off.
        unavailable = 5
    };
    enum class InterruptionLevel { passive = 0, active = 1, timeSensitive = 2, critical = 3 };

    // A button of a notification.
    struct Action {
        QString identifier;
        QString title;
        bool operator==(const Action&) const = default;
    };
    // The buttons that a notification of this category offers, in order.
    struct Category {
        QString identifier;
        QList<Action> actions;
        bool operator==(const Category&) const = default;
    };
    struct Content {
        QString title;
        QString body;
        QString categoryIdentifier;
        QVariantMap userInfo;
        InterruptionLevel interruptionLevel = InterruptionLevel::active;
        // How long, in seconds, the notification may stay on show at most, also after the
        // application is gone; nothing leaves that to the system.
        std::optional<double> lifetime;
        bool operator==(const Content&) const = default;
    };
    struct Request {
        QString identifier;
        Content content;
        bool operator==(const Request&) const = default;
    };
    // What the user did with a notification: the body (default) or one of its actions, and the
    // request that showed it.
    struct Response {
        QString actionIdentifier;
        Request request;
        bool operator==(const Response&) const = default;
    };

    // Told when the user acts on a notification; `done` must be called when the work is over.
    class Delegate {
    public:
        virtual ~Delegate() = default;
        virtual void didReceive(const Response& response, std::function<void()> done) = 0;
    };

    virtual ~UserNotificationCenter() = default;
    // The centre does not own the delegate; pass nullptr before the delegate goes away.
    virtual void setDelegate(Delegate* delegate) = 0;
    // Replaces every category known before.
    virtual void setNotificationCategories(const QList<Category>& categories) = 0;
    // Answers whether notifications may be shown, and an error text when the question failed.
    virtual void requestAuthorization(
        std::function<void(bool granted, std::optional<QString> error)> answer) = 0;
    // Shows the request now; a request with the identifier of a shown one replaces it. Failures
    // are dropped.
    virtual void add(const Request& request) = 0;
    // Takes away the shown notifications of these request identifiers.
    virtual void removeDeliveredNotifications(const QStringList& identifiers) = 0;
    virtual void getAuthorizationStatus(std::function<void(AuthorizationStatus)> answer) = 0;
};
