// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QObject>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>

#include "platform/Keychain.h"

// One unlock asked for by the user, on the Secret Service's D-Bus interface: finds the locked
// items of a query (else the default collection), asks the service to unlock them and, when the
// service needs the user's password, shows its prompt and waits for it to complete. Every step
// is asynchronous, so a prompt left open for minutes blocks nothing. The object deletes itself
// once it has answered.
class SecretServiceUnlock final : public QObject {
    Q_OBJECT

public:
    using Done = std::function<void(std::int32_t status)>;

    static void start(QDBusConnection bus, const Keychain::Query& query, Done done);

private Q_SLOTS:
    void promptCompleted(bool dismissed, const QDBusVariant& result);

private:
    SecretServiceUnlock(QDBusConnection bus, Done done);

    void searchItems(const Keychain::Query& query);
    void unlockDefaultCollection();
    void unlockObjects(const QStringList& paths);
    void showPrompt(const QString& promptPath);
    // Sends `call` and hands its reply to `next`, or finishes with the error's status.
    void send(const QDBusMessage& call, std::function<void(const QDBusMessage&)> next);
    void finish(std::int32_t status);

    QDBusConnection bus_;
    Done done_;
    QString promptPath_;
};
