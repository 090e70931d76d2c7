// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusServiceWatcher>
#include <QObject>
#include <QString>
#include <QStringList>

// A minimal StatusNotifierWatcher that is also its own host, so that Qt and our tray item see a
// working tray inside the headless test session. Made without a host, it plays a watcher whose
// panel is gone: items register, but nothing draws them. It keeps the list of registered items
// and drops an item once the connection that owns it leaves the bus.
class TrayWatcher : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ registeredItems)
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ isHostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)

public:
    explicit TrayWatcher(QDBusConnection bus, bool withHost = true, QObject* parent = nullptr);

    // Claims the host and watcher names; on failure returns false and fills `error`.
    bool start(QString* error);

    QStringList registeredItems() const { return items_; }
    bool isHostRegistered() const { return withHost_; }
    int protocolVersion() const { return 0; }

public Q_SLOTS:
    // The D-Bus method names are fixed by the protocol, hence the capitals.
    void RegisterStatusNotifierItem(const QString& service);
    void RegisterStatusNotifierHost(const QString& service);
    // Not in the protocol: lets a test play a watcher that drops an item whose name stays on the
    // bus, saying so (as GNOME's AppIndicator extension does) or not (a host that lost it).
    void ForgetStatusNotifierItem(const QString& item, bool announce);

Q_SIGNALS:
    void StatusNotifierItemRegistered(const QString& item);
    void StatusNotifierItemUnregistered(const QString& item);
    void StatusNotifierHostRegistered();

private:
    void dropItemsOf(const QString& busName);

    QDBusConnection bus_;
    bool withHost_;
    QDBusServiceWatcher owners_;
    QStringList items_;
};
