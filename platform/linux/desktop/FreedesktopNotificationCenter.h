// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <optional>

#include "platform/UserNotificationCenter.h"
#include "platform/linux/desktop/ShownNotificationsFile.h"

// The notification centre on the desktop's notification server (org.freedesktop.Notifications
// on the session bus: dunst, GNOME Shell, Plasma, …). A request identifier maps to the id of
// the server's notification, which a new request with the same identifier replaces. A click on
// the body comes back as the action "default", a button as its action identifier. There is no
// permission to ask for: a server that answers counts as authorized, none as denied. Every call
// is asynchronous and answers on the main thread.
//
// A notification never outlives the process that answers its buttons: the centre closes what it
// shows when it goes away, and lists it meanwhile in a file in `recordDirectory` (if any), whence
// the next centre on the same bus closes what a crashed or killed process left. Each notification
// also asks the server to take it away by itself at the end of the content's lifetime.
class SystemLog;

class FreedesktopNotificationCenter final : public QObject, public UserNotificationCenter {
    Q_OBJECT

public:
    explicit FreedesktopNotificationCenter(
        QDBusConnection bus = QDBusConnection::sessionBus(),
        std::optional<QString> recordDirectory = ShownNotificationsFile::standardDirectory(),
        QObject* parent = nullptr, SystemLog* log = nullptr);
    // Closes the notifications on show, waiting briefly for the server each time.
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
        QString server;               // the unique bus name of the server showing it
        bool notifying = false;       // a Notify call is on its way
        std::optional<Request> next;  // the newest request added meanwhile, sent after it
        bool closeWhenShown = false;  // removed while the Notify call was on its way
    };

    void notify(const Request& request);
    void send(const Request& request);
    void notified(const Request& request, const QString& server, std::optional<uint> serverId);
    void close(const QString& server, uint serverId);
    // Learns which bus this is, closes what an earlier process left on it and starts the record.
    void takeOverRecord(const QString& directory);
    // Writes the notifications on show to the record when they changed.
    void saveRecord();
    QList<ShownNotification> shownNow() const;
    // Whether a notification server answers GetCapabilities.
    void askServer(std::function<void(bool answers)> answer);

    QDBusConnection bus_;
    SystemLog* log_;
    Delegate* delegate_ = nullptr;
    QHash<QString, Category> categories_;
    QHash<QString, Entry> entries_;
    // The requests on show by server id, for the user's responses.
    QHash<uint, Request> shown_;
    // Whether the server reads markup in the body ("body-markup"); unknown until it is asked.
    std::optional<bool> bodyMarkup_;
    // This bus's record, once the bus has said which one it is.
    std::optional<ShownNotificationsFile> record_;
    // What the record holds as this centre last wrote it.
    QList<ShownNotification> recorded_;
};
