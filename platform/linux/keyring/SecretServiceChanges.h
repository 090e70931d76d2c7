// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QObject>
#include <QSet>
#include <functional>

// Hears every report of the Secret Service that may change what a read of one item (its service
// and account attributes) answers: that item created, changed or deleted, collections created,
// changed or deleted, a property change (a collection locked or unlocked), and the service's bus
// name changing hands. Each one calls `changed` on the main thread.
//
// Reports about other items are left out, and so is a collection's note that its list of items
// changed, which comes beside the item's own report: the app stores its cloud session in the same
// keyring at every answer of the cloud, and each such store must not make the watched item be read
// again. An item the reports name is asked for its attributes once; one found to be another
// item is not asked again until it is changed or deleted (its path may then be reused), a
// collection is made or deleted, or the service changes hands. An item that cannot be asked
// counts as the watched one.
class SecretServiceChanges final : public QObject {
    Q_OBJECT

public:
    SecretServiceChanges(QDBusConnection bus, QString service, QString account,
                         std::function<void()> changed);
    ~SecretServiceChanges() override;

private Q_SLOTS:
    void reported(const QDBusMessage& message);

private:
    void report();
    void askAbout(const QString& itemPath);

    QDBusConnection bus_;
    QString service_;
    QString account_;
    std::function<void()> changed_;
    QDBusServiceWatcher owner_;
    // Items known to be others than the watched one, by object path.
    QSet<QString> others_;
};
