// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/keyring/SecretServiceUnlock.h"

#include <QDBusArgument>
#include <QDBusError>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QMap>
#include <utility>

namespace {

constexpr auto kService = "org.freedesktop.secrets";
constexpr auto kServicePath = "/org/freedesktop/secrets";
constexpr auto kServiceInterface = "org.freedesktop.Secret.Service";
constexpr auto kPromptInterface = "org.freedesktop.Secret.Prompt";
// The path the service answers with when nothing needs a prompt, or no such object exists.
constexpr auto kNoObject = "/";

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

SecretServiceUnlock::SecretServiceUnlock(QDBusConnection bus, Done done)
    : bus_(std::move(bus)), done_(std::move(done)) {}

void SecretServiceUnlock::start(QDBusConnection bus, const Keychain::Query& query, Done done) {
    // SearchItems takes the attributes as a{ss}.
    qDBusRegisterMetaType<QMap<QString, QString>>();
    auto* unlock = new SecretServiceUnlock(std::move(bus), std::move(done));
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
    QDBusMessage call = serviceCall("Unlock");
    call << QVariant::fromValue(objects);
    send(call, [this](const QDBusMessage& reply) {
        const QString prompt = qdbus_cast<QDBusObjectPath>(reply.arguments().value(1)).path();
        if (prompt.isEmpty() || prompt == QLatin1String(kNoObject)) {
            const bool any = !pathsOf(reply.arguments().value(0)).isEmpty();
            finish(any ? Keychain::success : Keychain::interactionNotAllowed);
            return;
        }
        showPrompt(prompt);
    });
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
    finish(dismissed ? Keychain::userCanceled : Keychain::success);
}

void SecretServiceUnlock::send(const QDBusMessage& call,
                               std::function<void(const QDBusMessage&)> next) {
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, watcher, next = std::move(next)] {
                watcher->deleteLater();
                const QDBusMessage reply = watcher->reply();
                if (reply.type() == QDBusMessage::ErrorMessage) {
                    finish(statusFor(QDBusError(reply)));
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
