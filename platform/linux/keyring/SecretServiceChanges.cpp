// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/keyring/SecretServiceChanges.h"

#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QMap>
#include <algorithm>
#include <array>

namespace {

constexpr auto kService = "org.freedesktop.secrets";
constexpr auto kCollection = "org.freedesktop.Secret.Collection";

struct Report {
    const char* interface;
    const char* name;
};

// Any path: the collections and their items live under /org/freedesktop/secrets.
constexpr std::array kReports{
    Report{kCollection, "ItemCreated"},
    Report{kCollection, "ItemChanged"},
    Report{kCollection, "ItemDeleted"},
    Report{"org.freedesktop.Secret.Service", "CollectionCreated"},
    Report{"org.freedesktop.Secret.Service", "CollectionChanged"},
    Report{"org.freedesktop.Secret.Service", "CollectionDeleted"},
    Report{"org.freedesktop.DBus.Properties", "PropertiesChanged"},
};

// The item a collection's report names, or nothing for another report.
QString itemPathOf(const QDBusMessage& message) {
    if (message.interface() != QLatin1String(kCollection) || message.arguments().isEmpty()) {
        return {};
    }
    return message.arguments().constFirst().value<QDBusObjectPath>().path();
}

// A collection's list of items, or its time of change, changed: the item's own report comes too.
bool onlyItemsListed(const QDBusMessage& message) {
    if (message.member() != QLatin1String("PropertiesChanged") || message.arguments().size() < 3) {
        return false;
    }
    QVariantMap changed;
    message.arguments().at(1).value<QDBusArgument>() >> changed;
    QStringList names = changed.keys();
    names += message.arguments().at(2).toStringList();
    return !names.isEmpty() && std::all_of(names.cbegin(), names.cend(), [](const QString& name) {
        return name == u"Items" || name == u"Modified";
    });
}

}  // namespace

SecretServiceChanges::SecretServiceChanges(QDBusConnection bus, QString service, QString account,
                                           std::function<void()> changed)
    : bus_(std::move(bus)),
      service_(std::move(service)),
      account_(std::move(account)),
      changed_(std::move(changed)),
      owner_(QString::fromLatin1(kService), bus_, QDBusServiceWatcher::WatchForOwnerChange) {
    for (const Report& report : kReports) {
        bus_.connect(QString::fromLatin1(kService), QString(),
                     QString::fromLatin1(report.interface), QString::fromLatin1(report.name), this,
                     SLOT(reported(QDBusMessage)));
    }
    connect(&owner_, &QDBusServiceWatcher::serviceOwnerChanged, this, [this] {
        others_.clear();
        report();
    });
}

SecretServiceChanges::~SecretServiceChanges() {
    for (const Report& report : kReports) {
        bus_.disconnect(QString::fromLatin1(kService), QString(),
                        QString::fromLatin1(report.interface), QString::fromLatin1(report.name),
                        this, SLOT(reported(QDBusMessage)));
    }
}

void SecretServiceChanges::report() {
    if (changed_) {
        changed_();
    }
}

void SecretServiceChanges::reported(const QDBusMessage& message) {
    if (onlyItemsListed(message)) {
        return;
    }
    const QString item = itemPathOf(message);
    if (item.isEmpty()) {
        // A collection made or deleted anew may give its items paths that others had.
        if (message.member() == QLatin1String("CollectionCreated") ||
            message.member() == QLatin1String("CollectionDeleted")) {
            others_.clear();
        }
        report();
        return;
    }
    const bool deleted = message.member() == QLatin1String("ItemDeleted");
    if (others_.contains(item)) {
        // A deleted item's path may come back for a new item, which is asked about afresh; a
        // changed one may have new attributes. A store that replaced it reports it created.
        if (deleted) {
            others_.remove(item);
        } else if (message.member() == QLatin1String("ItemChanged")) {
            others_.remove(item);
            askAbout(item);
        }
        return;
    }
    if (deleted) {
        report();  // gone: its attributes can no longer be asked for
        return;
    }
    askAbout(item);
}

void SecretServiceChanges::askAbout(const QString& itemPath) {
    QDBusMessage get = QDBusMessage::createMethodCall(
        QString::fromLatin1(kService), itemPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    get << QStringLiteral("org.freedesktop.Secret.Item") << QStringLiteral("Attributes");
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(get), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, itemPath](QDBusPendingCallWatcher* call) {
                call->deleteLater();
                const QDBusPendingReply<QDBusVariant> reply = *call;
                QMap<QString, QString> attributes;
                if (!reply.isError()) {
                    reply.value().variant().value<QDBusArgument>() >> attributes;
                }
                const bool other = !reply.isError() && !attributes.isEmpty() &&
                                   (attributes.value(QStringLiteral("service")) != service_ ||
                                    attributes.value(QStringLiteral("account")) != account_);
                if (other) {
                    others_.insert(itemPath);
                } else {
                    report();
                }
            });
}
