// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <chrono>
#include <optional>
#include <vector>

// The session's tray as a host sees it: the items that register with the
// org.kde.StatusNotifierWatcher, and the labels one of them shows, each with the moment it was
// heard on the bus.
class SessionTray : public QObject {
    Q_OBJECT

public:
    using Clock = std::chrono::steady_clock;

    struct Heard {
        QString text;
        Clock::time_point at;
    };

    explicit SessionTray(QDBusConnection bus, QObject* parent = nullptr);

    // False when the bus refused the subscriptions.
    bool isListening() const { return listening_; }

    // The first item of process `pid` that registered with the watcher ("<bus name>/<path>").
    std::optional<Heard> registrationOf(qint64 pid) const;
    // When process `pid` first owned an item's bus name.
    std::optional<Clock::time_point> itemNameOwnedBy(qint64 pid) const;

    // Listens to the label of the item at `busName` from now on.
    bool followLabel(const QString& busName);
    // The first label reading `code` (spaces aside) heard at or after `since`.
    std::optional<Clock::time_point> labelShowing(const QString& code,
                                                  Clock::time_point since) const;

private Q_SLOTS:
    void itemRegistered(const QString& item);
    void nameOwnerChanged(const QString& name, const QString& oldOwner, const QString& newOwner);
    void newLabel(const QString& label, const QString& guide);

private:
    QDBusConnection bus_;
    bool listening_ = false;
    QString followed_;
    std::vector<Heard> registrations_;
    std::vector<Heard> ownedNames_;
    std::vector<Heard> labels_;
};
