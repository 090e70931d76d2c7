// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QObject>
#include <functional>

// Hears every report of the Secret Service that may change what a read answers: items created,
// changed or deleted in any collection, collections created, changed or deleted, a property
// change (a collection locked or unlocked), and the service's bus name changing hands. Each one
// calls `changed` on the main thread.
class SecretServiceChanges final : public QObject {
    Q_OBJECT

public:
    SecretServiceChanges(QDBusConnection bus, std::function<void()> changed);
    ~SecretServiceChanges() override;

private Q_SLOTS:
    void reported(const QDBusMessage& message);

private:
    QDBusConnection bus_;
    std::function<void()> changed_;
    QDBusServiceWatcher owner_;
};
