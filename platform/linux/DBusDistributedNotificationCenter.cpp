// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/DBusDistributedNotificationCenter.h"

#include <QDBusArgument>
#include <QDBusVariant>
#include <QPointer>

#include "platform/MainActor.h"

DBusDistributedNotificationCenter::DBusDistributedNotificationCenter(MainActor& mainActor,
                                                                     QDBusConnection bus)
    : mainActor_(mainActor), bus_(std::move(bus)) {}

DBusDistributedNotificationCenter::~DBusDistributedNotificationCenter() {
    if (listening_) {
        bus_.disconnect(QString(), QString::fromLatin1(path), QString::fromLatin1(interface),
                        QString::fromLatin1(member), this, SLOT(received(QDBusMessage)));
    }
}

DistributedNotificationCenter::ObserverToken DBusDistributedNotificationCenter::addObserver(
    const QString& name, std::function<void(std::optional<QVariant> object)> handler) {
    if (!listening_ && bus_.isConnected()) {
        listening_ =
            bus_.connect(QString(), QString::fromLatin1(path), QString::fromLatin1(interface),
                         QString::fromLatin1(member), this, SLOT(received(QDBusMessage)));
    }
    const ObserverToken token = nextToken_++;
    observers_.emplace(token, std::make_pair(name, std::move(handler)));
    return token;
}

void DBusDistributedNotificationCenter::removeObserver(ObserverToken token) {
    observers_.erase(token);
}

void DBusDistributedNotificationCenter::post(const QString& name,
                                             const std::optional<QVariant>& object) {
    if (!bus_.isConnected()) {
        return;
    }
    QDBusMessage signal = QDBusMessage::createSignal(
        QString::fromLatin1(path), QString::fromLatin1(interface), QString::fromLatin1(member));
    QVariantList objects;
    if (object) {
        objects.append(QVariant::fromValue(QDBusVariant(*object)));
    }
    signal << name << QVariant::fromValue(objects);
    bus_.send(signal);
}

void DBusDistributedNotificationCenter::received(const QDBusMessage& message) {
    const QList<QVariant> arguments = message.arguments();
    if (arguments.size() != 2 || arguments[0].typeId() != QMetaType::QString) {
        return;
    }
    const QString name = arguments[0].toString();
    std::optional<QVariant> object;
    // An "av" arrives as a list of variants, possibly still wrapped for demarshalling.
    QVariantList objects;
    if (arguments[1].canConvert<QDBusArgument>()) {
        arguments[1].value<QDBusArgument>() >> objects;
    } else {
        objects = arguments[1].toList();
    }
    if (!objects.isEmpty()) {
        QVariant value = objects.first();
        if (value.canConvert<QDBusVariant>()) {
            value = value.value<QDBusVariant>().variant();
        }
        object = value;
    }
    for (const auto& [token, observer] : observers_) {
        if (observer.first != name) {
            continue;
        }
        mainActor_.post([self = QPointer(this), token = token, object] {
            if (!self) {
                return;
            }
            if (const auto found = self->observers_.find(token); found != self->observers_.end()) {
                found->second.second(object);
            }
        });
    }
}
