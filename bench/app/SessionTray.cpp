// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench/app/SessionTray.h"

#include <utility>

namespace {

const auto kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const auto kWatcherPath = QStringLiteral("/StatusNotifierWatcher");
const auto kItemPath = QStringLiteral("/StatusNotifierItem");
const auto kItemInterface = QStringLiteral("org.kde.StatusNotifierItem");

// Items take the bus name "org.kde.StatusNotifierItem-<pid>-<n>".
QString itemNamePrefix(qint64 pid) {
    return QStringLiteral("org.kde.StatusNotifierItem-%1-").arg(pid);
}

}  // namespace

SessionTray::SessionTray(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {
    listening_ =
        bus_.connect(kWatcherService, kWatcherPath, kWatcherService,
                     QStringLiteral("StatusNotifierItemRegistered"), this,
                     SLOT(itemRegistered(QString))) &&
        bus_.connect(QStringLiteral("org.freedesktop.DBus"),
                     QStringLiteral("/org/freedesktop/DBus"),
                     QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameOwnerChanged"),
                     this, SLOT(nameOwnerChanged(QString, QString, QString)));
}

std::optional<SessionTray::Heard> SessionTray::registrationOf(qint64 pid) const {
    for (const Heard& heard : registrations_) {
        if (heard.text.startsWith(itemNamePrefix(pid))) {
            return heard;
        }
    }
    return std::nullopt;
}

std::optional<SessionTray::Clock::time_point> SessionTray::itemNameOwnedBy(qint64 pid) const {
    for (const Heard& heard : ownedNames_) {
        if (heard.text.startsWith(itemNamePrefix(pid))) {
            return heard.at;
        }
    }
    return std::nullopt;
}

bool SessionTray::followLabel(const QString& busName) {
    if (!followed_.isEmpty()) {
        bus_.disconnect(followed_, kItemPath, kItemInterface, QStringLiteral("XAyatanaNewLabel"),
                        this, SLOT(newLabel(QString, QString)));
    }
    followed_ = busName;
    labels_.clear();
    return bus_.connect(busName, kItemPath, kItemInterface, QStringLiteral("XAyatanaNewLabel"),
                        this, SLOT(newLabel(QString, QString)));
}

std::optional<SessionTray::Clock::time_point> SessionTray::labelShowing(
    const QString& code, Clock::time_point since) const {
    for (const Heard& heard : labels_) {
        if (heard.at >= since && QString(heard.text).remove(QLatin1Char(' ')) == code) {
            return heard.at;
        }
    }
    return std::nullopt;
}

void SessionTray::itemRegistered(const QString& item) {
    registrations_.push_back({item, Clock::now()});
}

void SessionTray::nameOwnerChanged(const QString& name, const QString& /*oldOwner*/,
                                   const QString& newOwner) {
    if (!newOwner.isEmpty() && name.startsWith(QLatin1String("org.kde.StatusNotifierItem-"))) {
        ownedNames_.push_back({name, Clock::now()});
    }
}

void SessionTray::newLabel(const QString& label, const QString& /*guide*/) {
    labels_.push_back({label, Clock::now()});
}
