// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <map>

#include "platform/DistributedNotificationCenter.h"

class MainActor;

// Distributed notices as one D-Bus signal on the user's session bus:
// net.brontal.zorvik.DistributedNotification.Posted(s name, av object) at
// /net/brontal/zorvik/DistributedNotification, the object being an empty list when absent.
// Without a session bus nothing is posted or heard.
class DBusDistributedNotificationCenter final : public QObject,
                                                public DistributedNotificationCenter {
    Q_OBJECT

public:
    static constexpr auto path = "/net/brontal/zorvik/DistributedNotification";
    static constexpr auto interface = "net.brontal.zorvik.DistributedNotification";
    static constexpr auto member = "Posted";

    DBusDistributedNotificationCenter(MainActor& mainActor, QDBusConnection bus);
    ~DBusDistributedNotificationCenter() override;

    ObserverToken addObserver(const QString& name,
                              std::function<void(std::optional<QVariant> object)> handler) override;
    void removeObserver(ObserverToken token) override;
    void post(const QString& name, const std::optional<QVariant>& object) override;

private Q_SLOTS:
    void received(const QDBusMessage& message);

private:
    MainActor& mainActor_;
    QDBusConnection bus_;
    bool listening_ = false;
    ObserverToken nextToken_ = 1;
    std::map<ObserverToken, std::pair<QString, std::function<void(std::optional<QVariant>)>>>
        observers_;
};
