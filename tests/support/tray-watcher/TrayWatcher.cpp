// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/tray-watcher/TrayWatcher.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusError>

#include <utility>

namespace {

constexpr auto kWatcherName = "org.kde.StatusNotifierWatcher";
constexpr auto kWatcherPath = "/StatusNotifierWatcher";
constexpr auto kItemPath = "/StatusNotifierItem";

// Items are "<bus name><object path>"; bus names never contain a slash.
QString busNameOf(const QString& item) {
    return item.section(QLatin1Char('/'), 0, 0);
}

}  // namespace

TrayWatcher::TrayWatcher(QDBusConnection bus, bool withHost, QObject* parent)
    : QObject(parent),
      bus_(std::move(bus)),
      withHost_(withHost),
      owners_(QString(), bus_, QDBusServiceWatcher::WatchForUnregistration) {
    connect(&owners_, &QDBusServiceWatcher::serviceUnregistered, this, &TrayWatcher::dropItemsOf);
}

bool TrayWatcher::start(QString* error) {
    // The host name goes first and the watcher name last: clients wait for the watcher name, and
    // by then everything they may ask about must already be in place.
    const QString hostName =
        QStringLiteral("org.kde.StatusNotifierHost-%1").arg(QCoreApplication::applicationPid());
    if (withHost_ && !bus_.registerService(hostName)) {
        *error = QStringLiteral("cannot own %1: %2").arg(hostName, bus_.lastError().message());
        return false;
    }
    if (!bus_.registerObject(QLatin1String(kWatcherPath), this,
                             QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals |
                                 QDBusConnection::ExportAllProperties)) {
        *error = QStringLiteral("cannot export %1: %2")
                     .arg(QLatin1String(kWatcherPath), bus_.lastError().message());
        return false;
    }
    // Without queueing, a second watcher on the same bus fails loudly instead of waiting.
    const auto reply = bus_.interface()->registerService(
        QLatin1String(kWatcherName), QDBusConnectionInterface::DontQueueService,
        QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid() || reply.value() != QDBusConnectionInterface::ServiceRegistered) {
        *error = QStringLiteral("cannot own %1: %2")
                     .arg(QLatin1String(kWatcherName), reply.isValid()
                                                           ? QStringLiteral("the name is taken")
                                                           : reply.error().message());
        return false;
    }
    return true;
}

void TrayWatcher::RegisterStatusNotifierItem(const QString& service) {
    // Sandboxed clients cannot own names and register an object path on their own connection;
    // the others register a bus name (well-known or unique) whose item sits at the usual path.
    QString busName;
    QString item;
    if (service.startsWith(QLatin1Char('/'))) {
        busName = message().service();
        item = busName + service;
    } else {
        busName = service;
        item = service + QLatin1String(kItemPath);
    }
    // Watching before asking leaves no gap in which the owner could leave unnoticed.
    owners_.addWatchedService(busName);
    if (!bus_.interface()->isServiceRegistered(busName)) {
        dropItemsOf(busName);
        sendErrorReply(QDBusError::ServiceUnknown,
                       QStringLiteral("%1 is not on the bus").arg(busName));
        return;
    }
    if (!items_.contains(item)) {
        items_.append(item);
        emit StatusNotifierItemRegistered(item);
    }
}

void TrayWatcher::RegisterStatusNotifierHost(const QString& /*service*/) {
    // This process already is the host (or plays a watcher with none); another one changes
    // nothing but is worth announcing.
    emit StatusNotifierHostRegistered();
}

void TrayWatcher::ForgetStatusNotifierItem(const QString& item, bool announce) {
    if (items_.removeOne(item) && announce) {
        emit StatusNotifierItemUnregistered(item);
    }
}

void TrayWatcher::dropItemsOf(const QString& busName) {
    owners_.removeWatchedService(busName);
    const QStringList current = items_;
    for (const QString& item : current) {
        if (busNameOf(item) == busName) {
            items_.removeOne(item);
            emit StatusNotifierItemUnregistered(item);
        }
    }
}
