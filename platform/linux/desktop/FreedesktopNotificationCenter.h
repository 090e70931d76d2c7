#pragma once

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <optional>

#include "UserNotificationCenter.h"

// The notification centre on the desktop's notification server (org.freedesktop.Notifications
// on the session bus: dunst, GNOME Shell, Plasma, …). A request identifier maps to the id of
// the server's notification, which a new request with the same identifier replaces. A click on
// the body comes back as the action "default", a button as its action identifier. There is no
// permission to ask for: a server that answers counts as authorized, none as denied. Every call
// is asynchronous and answers on the main thread.
class FreedesktopNotificationCenter final : public QObject, public UserNotificationCenter {
    Q_OBJECT

public:
    explicit FreedesktopNotificationCenter(QDBusConnection bus = QDBusConnection::sessionBus(),
                                           QObject* parent = nullptr);
    ~FreedesktopNotificationCenter() override;

    void setDelegate(Delegate* delegate) override;
    void setNotificationCategories(const QList<Category>& categories) override;
    void requestAuthorization(
        std::function<void(bool granted, std::optional<QString> error)> answer) override;
    void add(const Request& request) override;
    void removeDeliveredNotifications(const QStringList& identifiers) override;
    void getAuthorizationStatus(std::function<void(AuthorizationStatus)> answer) override;

private Q_SLOTS:
    void onActionInvoked(uint id, const QString& actionKey);
    void onNotificationClosed(uint id, uint reason);

private:
    // What the centre knows about one request identifier.
    struct Entry {
        uint serverId = 0;            // the notification on show, 0 for none
        bool notifying = false;       // a Notify call is on its way
        std::optional<Request> next;  // the newest request added meanwhile, sent after it
        bool closeWhenShown = false;  // removed while the Notify call was on its way
    };

    void notify(const Request& request);
    void send(const Request& request);
    void notified(const Request& request, std::optional<uint> serverId);
    void close(uint serverId);
    // Whether a notification server answers GetCapabilities.
    void askServer(std::function<void(bool answers)> answer);

    QDBusConnection bus_;
    Delegate* delegate_ = nullptr;
    QHash<QString, Category> categories_;
    QHash<QString, Entry> entries_;
    // The requests on show by server id, for the user's responses.
    QHash<uint, Request> shown_;
    // Whether the server reads markup in the body ("body-markup"); unknown until it is asked.
    std::optional<bool> bodyMarkup_;
};
