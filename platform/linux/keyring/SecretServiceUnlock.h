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

// One unlock on the Secret Service's D-Bus interface: finds the locked items of a query (else the
// default collection), asks the service to unlock them and, when the service answers with a
// prompt, shows it and waits for it to complete. Every step is asynchronous, so a prompt left
// open for minutes blocks nothing. The object deletes itself once it has answered.
//
// Without prompting, a prompt is run only where it is known to show nothing: KWallet answers
// every unlock with one, even for a wallet opened at login, and running it for an open wallet
// only tells the Secret Service what KWallet already knows. Any other prompt would ask for a
// password, so it is dismissed unseen and the answer is interactionNotAllowed.
class SecretServiceUnlock final : public QObject {
    Q_OBJECT

public:
    using Done = std::function<void(std::int32_t status)>;
    enum class Prompting { allowed, never };

    static void start(QDBusConnection bus, const Keychain::Query& query, Done done,
                      Prompting prompting = Prompting::allowed);

private Q_SLOTS:
    void promptCompleted(bool dismissed, const QDBusVariant& result);

private:
    SecretServiceUnlock(QDBusConnection bus, Done done, Prompting prompting);

    void searchItems(const Keychain::Query& query);
    void unlockDefaultCollection();
    void unlockObjects(const QStringList& paths);
    // Runs the prompt only when the service is KWallet and every wallet being unlocked is open
    // already; dismisses it otherwise.
    void promptIfWalletsOpen(const QString& promptPath);
    void findWalletDaemon(const QString& promptPath, const QString& serviceOwner, int daemon);
    void promptIfOpen(const QString& promptPath, int daemon, QStringList collections);
    void askWalletOpen(int daemon, const QString& collection,
                       std::function<void(bool open)> answer);
    void dismissPrompt(const QString& promptPath);
    void showPrompt(const QString& promptPath);
    // Sends `call` and hands its reply to `next`; an error reply goes to `failed`, or else
    // finishes with the error's status.
    void send(const QDBusMessage& call, std::function<void(const QDBusMessage&)> next,
              std::function<void()> failed = nullptr);
    void finish(std::int32_t status);

    QDBusConnection bus_;
    Done done_;
    Prompting prompting_;
    QStringList unlocking_;
    QString promptPath_;
};
