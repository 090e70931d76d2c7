// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/keyring/SecretServiceChanges.h"

#include <array>

namespace {

constexpr auto kService = "org.freedesktop.secrets";

struct Report {
    const char* interface;
    const char* name;
};

// Any path: the collections and their items live under /org/freedesktop/secrets.
constexpr std::array kReports{
    Report{"org.freedesktop.Secret.Collection", "ItemCreated"},
    Report{"org.freedesktop.Secret.Collection", "ItemChanged"},
    Report{"org.freedesktop.Secret.Collection", "ItemDeleted"},
    Report{"org.freedesktop.Secret.Service", "CollectionCreated"},
    Report{"org.freedesktop.Secret.Service", "CollectionChanged"},
    Report{"org.freedesktop.Secret.Service", "CollectionDeleted"},
    Report{"org.freedesktop.DBus.Properties", "PropertiesChanged"},
};

}  // namespace

SecretServiceChanges::SecretServiceChanges(QDBusConnection bus, std::function<void()> changed)
    : bus_(std::move(bus)),
      changed_(std::move(changed)),
      owner_(QString::fromLatin1(kService), bus_, QDBusServiceWatcher::WatchForOwnerChange) {
    for (const Report& report : kReports) {
        bus_.connect(QString::fromLatin1(kService), QString(),
                     QString::fromLatin1(report.interface), QString::fromLatin1(report.name), this,
                     SLOT(reported(QDBusMessage)));
    }
    connect(&owner_, &QDBusServiceWatcher::serviceOwnerChanged, this, [this] {
        if (changed_) {
            changed_();
        }
    });
}

SecretServiceChanges::~SecretServiceChanges() {
    for (const Report& report : kReports) {
        bus_.disconnect(QString::fromLatin1(kService), QString(),
                        QString::fromLatin1(report.interface), QString::fromLatin1(report.name),
                        this, SLOT(reported(QDBusMessage)));
    }
}

void SecretServiceChanges::reported(const QDBusMessage& message) {
    (void)message;
    if (changed_) {
        changed_();
    }
}
