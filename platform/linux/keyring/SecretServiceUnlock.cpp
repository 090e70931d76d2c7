// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/keyring/SecretServiceUnlock.h"

#include <QDBusArgument>
#include <QDBusError>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QMap>
#include <iterator>
#include <utility>

namespace {

constexpr auto kService = "org.freedesktop.secrets";
constexpr auto kServicePath = "/org/freedesktop/secrets";
constexpr auto kServiceInterface = "org.freedesktop.Secret.Service";
constexpr auto kPromptInterface = "org.freedesktop.Secret.Prompt";
// The path the service answers with when nothing needs a prompt, or no such object exists.
constexpr auto kNoObject = "/";

// KWallet's daemons, newest first: each serves the Secret Service from its own process and says
// there whether a wallet is open.
struct WalletDaemon {
    const char* name;
    const char* path;
};
constexpr WalletDaemon kWalletDaemons[] = {
    {"org.kde.kwalletd6", "/modules/kwalletd6"},
    {"org.kde.kwalletd5", "/modules/kwalletd5"},
};

QDBusMessage busCall(const char* method, const QString& name) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QString::fromLatin1(method));
    call << name;
    return call;
}

// The collection an unlocked path belongs to: the path itself for a collection, the parent for
// an item (/org/freedesktop/secrets/collection/<collection>/<item>).
QString collectionOf(const QString& path) {
    return path.section(QLatin1Char('/'), 0, 5);
}

QDBusMessage serviceCall(const char* method) {
    return QDBusMessage::createMethodCall(
        QString::fromLatin1(kService), QString::fromLatin1(kServicePath),
        QString::fromLatin1(kServiceInterface), QString::fromLatin1(method));
}

QStringList pathsOf(const QVariant& argument) {
    QStringList paths;
    for (const QDBusObjectPath& path : qdbus_cast<QList<QDBusObjectPath>>(argument)) {
        paths.append(path.path());
    }
    return paths;
}

std::int32_t statusFor(const QDBusError& error) {
    switch (error.type()) {
        case QDBusError::ServiceUnknown:
        case QDBusError::NoServer:
        case QDBusError::Disconnected:
        case QDBusError::NoReply:
        case QDBusError::Timeout:
            return Keychain::notAvailable;
        case QDBusError::AccessDenied:
            return Keychain::authorizationFailed;
        default:
            return Keychain::otherFailure;
    }
}

}  // namespace

SecretServiceUnlock::SecretServiceUnlock(QDBusConnection bus, Done done, Prompting prompting)
    : bus_(std::move(bus)), done_(std::move(done)), prompting_(prompting) {}

void SecretServiceUnlock::start(QDBusConnection bus, const Keychain::Query& query, Done done,
                                Prompting prompting) {
    // SearchItems takes the attributes as a{ss}.
    qDBusRegisterMetaType<QMap<QString, QString>>();
    auto* unlock = new SecretServiceUnlock(std::move(bus), std::move(done), prompting);
    unlock->searchItems(query);
}

void SecretServiceUnlock::searchItems(const Keychain::Query& query) {
    QDBusMessage call = serviceCall("SearchItems");
    QMap<QString, QString> attributes{{QStringLiteral("service"), query.service},
                                      {QStringLiteral("account"), query.account}};
    call << QVariant::fromValue(attributes);
    send(call, [this](const QDBusMessage& reply) {
        const QList<QVariant> arguments = reply.arguments();
        const QStringList unlocked =
            arguments.value(0).isValid() ? pathsOf(arguments.value(0)) : QStringList();
        const QStringList locked =
            arguments.value(1).isValid() ? pathsOf(arguments.value(1)) : QStringList();
        if (!locked.isEmpty()) {
            unlockObjects(locked);
        } else if (!unlocked.isEmpty()) {
            finish(Keychain::success);
        } else {
            unlockDefaultCollection();
        }
    });
}

void SecretServiceUnlock::unlockDefaultCollection() {
    QDBusMessage call = serviceCall("ReadAlias");
    call << QStringLiteral("default");
    send(call, [this](const QDBusMessage& reply) {
        const QString collection = qdbus_cast<QDBusObjectPath>(reply.arguments().value(0)).path();
        if (collection.isEmpty() || collection == QLatin1String(kNoObject)) {
            // No default keyring yet: the first item stored makes one, unlocked.
            finish(Keychain::success);
            return;
        }
        unlockObjects({collection});
    });
}

void SecretServiceUnlock::unlockObjects(const QStringList& paths) {
    QList<QDBusObjectPath> objects;
    for (const QString& path : paths) {
        objects.append(QDBusObjectPath(path));
    }
    unlocking_ = paths;
    QDBusMessage call = serviceCall("Unlock");
    call << QVariant::fromValue(objects);
    send(call, [this](const QDBusMessage& reply) {
        const QString prompt = qdbus_cast<QDBusObjectPath>(reply.arguments().value(1)).path();
        if (prompt.isEmpty() || prompt == QLatin1String(kNoObject)) {
            const bool any = !pathsOf(reply.arguments().value(0)).isEmpty();
            finish(any ? Keychain::success : Keychain::interactionNotAllowed);
        } else if (prompting_ == Prompting::never) {
            promptIfWalletsOpen(prompt);
        } else {
            showPrompt(prompt);
        }
    });
}

void SecretServiceUnlock::promptIfWalletsOpen(const QString& promptPath) {
    send(
        busCall("GetNameOwner", QString::fromLatin1(kService)),
        [this, promptPath](const QDBusMessage& reply) {
            findWalletDaemon(promptPath, reply.arguments().value(0).toString(), 0);
        },
        [this, promptPath] { dismissPrompt(promptPath); });
}

// A wallet daemon running beside another Secret Service says nothing about that service's
// prompts: only the daemon that owns the service's name counts.
void SecretServiceUnlock::findWalletDaemon(const QString& promptPath, const QString& serviceOwner,
                                           int daemon) {
    if (daemon == static_cast<int>(std::size(kWalletDaemons))) {
        dismissPrompt(promptPath);
        return;
    }
    const auto next = [this, promptPath, serviceOwner, daemon] {
        findWalletDaemon(promptPath, serviceOwner, daemon + 1);
    };
    send(
        busCall("GetNameOwner", QString::fromLatin1(kWalletDaemons[daemon].name)),
        [this, promptPath, serviceOwner, daemon, next](const QDBusMessage& reply) {
            if (reply.arguments().value(0).toString() != serviceOwner) {
                next();
                return;
            }
            QStringList collections;
            for (const QString& path : unlocking_) {
                if (!collections.contains(collectionOf(path))) {
                    collections.append(collectionOf(path));
                }
            }
            promptIfOpen(promptPath, daemon, collections);
        },
        next);
}

void SecretServiceUnlock::promptIfOpen(const QString& promptPath, int daemon,
                                       QStringList collections) {
    if (collections.isEmpty()) {
        showPrompt(promptPath);
        return;
    }
    const QString collection = collections.takeFirst();
    askWalletOpen(daemon, collection, [this, promptPath, daemon, collections](bool open) {
        if (open) {
            promptIfOpen(promptPath, daemon, collections);
        } else {
            dismissPrompt(promptPath);
        }
    });
}

// KWallet names each collection after its wallet, in the collection's label.
void SecretServiceUnlock::askWalletOpen(int daemon, const QString& collection,
                                        std::function<void(bool open)> answer) {
    QDBusMessage label = QDBusMessage::createMethodCall(
        QString::fromLatin1(kService), collection,
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    label << QStringLiteral("org.freedesktop.Secret.Collection") << QStringLiteral("Label");
    const auto closed = [answer] { answer(false); };
    send(
        label,
        [this, daemon, answer, closed](const QDBusMessage& reply) {
            QDBusMessage isOpen = QDBusMessage::createMethodCall(
                QString::fromLatin1(kWalletDaemons[daemon].name),
                QString::fromLatin1(kWalletDaemons[daemon].path), QStringLiteral("org.kde.KWallet"),
                QStringLiteral("isOpen"));
            isOpen << qdbus_cast<QDBusVariant>(reply.arguments().value(0)).variant().toString();
            send(
                isOpen,
                [answer](const QDBusMessage& reply) {
                    answer(reply.arguments().value(0).toBool());
                },
                closed);
        },
        closed);
}

// The prompt is never run, so no dialog shows; dismissing it lets the service drop it.
void SecretServiceUnlock::dismissPrompt(const QString& promptPath) {
    const auto refused = [this] { finish(Keychain::interactionNotAllowed); };
    send(
        QDBusMessage::createMethodCall(QString::fromLatin1(kService), promptPath,
                                       QString::fromLatin1(kPromptInterface),
                                       QStringLiteral("Dismiss")),
        [refused](const QDBusMessage&) { refused(); }, refused);
}

void SecretServiceUnlock::showPrompt(const QString& promptPath) {
    promptPath_ = promptPath;
    // Subscribed before the prompt is shown, so an answer at once is not missed.
    bus_.connect(QString::fromLatin1(kService), promptPath, QString::fromLatin1(kPromptInterface),
                 QStringLiteral("Completed"), this, SLOT(promptCompleted(bool, QDBusVariant)));
    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(kService), promptPath,
                                                       QString::fromLatin1(kPromptInterface),
                                                       QStringLiteral("Prompt"));
    // No parent window to name: the prompt is the keyring's own dialog.
    call << QString();
    send(call, [](const QDBusMessage&) {});
}

void SecretServiceUnlock::promptCompleted(bool dismissed, const QDBusVariant& result) {
    (void)result;
    bus_.disconnect(QString::fromLatin1(kService), promptPath_,
                    QString::fromLatin1(kPromptInterface), QStringLiteral("Completed"), this,
                    SLOT(promptCompleted(bool, QDBusVariant)));
    if (!dismissed) {
        finish(Keychain::success);
    } else {
        // Without prompting, no user was there to cancel anything.
        finish(prompting_ == Prompting::never ? Keychain::interactionNotAllowed
                                              : Keychain::userCanceled);
    }
}

void SecretServiceUnlock::send(const QDBusMessage& call,
                               std::function<void(const QDBusMessage&)> next,
                               std::function<void()> failed) {
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, watcher, next = std::move(next), failed = std::move(failed)] {
                watcher->deleteLater();
                const QDBusMessage reply = watcher->reply();
                if (reply.type() == QDBusMessage::ErrorMessage) {
                    if (failed) {
                        failed();
                    } else {
                        finish(statusFor(QDBusError(reply)));
                    }
                    return;
                }
                next(reply);
            });
}

void SecretServiceUnlock::finish(std::int32_t status) {
    if (!done_) {
        return;
    }
    const Done done = std::exchange(done_, nullptr);
    deleteLater();
    done(status);
}
