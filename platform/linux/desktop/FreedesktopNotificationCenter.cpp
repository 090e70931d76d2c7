// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/desktop/FreedesktopNotificationCenter.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDir>
#include <QRegularExpression>
#include <QStringList>
#include <QVariantMap>
#include <cmath>
#include <limits>
#include <utility>

#include "platform/SystemLog.h"

namespace {

const auto kService = QStringLiteral("org.freedesktop.Notifications");
const auto kPath = QStringLiteral("/org/freedesktop/Notifications");
const auto kInterface = QStringLiteral("org.freedesktop.Notifications");

// How long a question to the server may take; activating a server can take a moment.
constexpr int kQuestionTimeoutMs = 10000;
// How long a closing process waits for the server to close each of its notifications.
constexpr int kClosingTimeoutMs = 1000;

QDBusMessage call(const QString& method, const QString& service = kService) {
    return QDBusMessage::createMethodCall(service, kPath, kInterface, method);
}

QDBusMessage closeMessage(const QString& server, uint serverId) {
    // Sent to the very server that gave the id: a server started since counts its ids afresh.
    QDBusMessage message = call(QStringLiteral("CloseNotification"), server);
    message << serverId;
    return message;
}

// The server's urgency levels: 0 low, 1 normal, 2 critical. Critical would let a time-sensitive
// notification through do-not-disturb, but dunst, GNOME Shell and Plasma then keep it on screen
// until the user closes it, whatever its expire timeout; a short-lived code is no emergency and
// must go when it expires, so only a critical request is critical.
quint8 urgencyFor(UserNotificationCenter::InterruptionLevel level) {
    using Level = UserNotificationCenter::InterruptionLevel;
    switch (level) {
        case Level::passive:
            return 0;
        case Level::critical:
            return 2;
        case Level::active:
        case Level::timeSensitive:
            break;
    }
    return 1;
}

// Notify's expire_timeout: -1 leaves it to the server, and 0 would mean never, so a lifetime
// gives at least 1 ms.
qint32 expireTimeoutFor(std::optional<double> lifetime) {
    if (!lifetime) {
        return -1;
    }
    const double milliseconds = std::ceil(*lifetime * 1000);
    if (!(milliseconds >= 1)) {
        return 1;
    }
    constexpr auto longest = std::numeric_limits<qint32>::max();
    return milliseconds >= longest ? longest : qint32(milliseconds);
}

}  // namespace

FreedesktopNotificationCenter::FreedesktopNotificationCenter(QDBusConnection bus,
                                                             std::optional<QString> recordDirectory,
                                                             QObject* parent, SystemLog* log)
    : QObject(parent), bus_(std::move(bus)), log_(log) {
    // Servers may send both signals to the connection that asked for the notification only.
    bus_.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                 SLOT(onActionInvoked(uint, QString)));
    bus_.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                 SLOT(onNotificationClosed(uint, uint)));
    if (recordDirectory) {
        takeOverRecord(*recordDirectory);
    }
}

FreedesktopNotificationCenter::~FreedesktopNotificationCenter() {
    // Nobody answers the buttons of what stays on show once the centre is gone. A Notify still
    // on its way is not waited for: the server takes that one away at its expiry.
    for (const Entry& entry : std::as_const(entries_)) {
        if (entry.serverId != 0) {
            bus_.call(closeMessage(entry.server, entry.serverId), QDBus::Block, kClosingTimeoutMs);
        }
    }
    // A newer process may have listed its own notifications meanwhile; those stay.
    if (record_ && !recorded_.isEmpty() && record_->load() == recorded_) {
        record_->save({});
    }
    bus_.disconnect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                    SLOT(onActionInvoked(uint, QString)));
    bus_.disconnect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                    SLOT(onNotificationClosed(uint, uint)));
}

void FreedesktopNotificationCenter::takeOverRecord(const QString& directory) {
    // One record per bus: ids of a server on another bus (a nested session) are not ours to close.
    const QDBusMessage getId = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetId"));
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(getId, kQuestionTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, directory](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                const QDBusPendingReply<QString> reply = *finished;
                static const QRegularExpression hex(QStringLiteral("^[0-9a-f]{1,64}$"));
                if (reply.isError() || !hex.match(reply.value()).hasMatch()) {
                    return;  // without a bus nothing is shown
                }
                record_.emplace(QDir(directory).filePath(QStringLiteral("shown-notifications-") +
                                                         reply.value() + QStringLiteral(".json")));
                // Whatever the record lists was posted by an earlier process, whose Copy
                // button nobody answers now, expired or not.
                for (const ShownNotification& leftover : record_->load()) {
                    close(leftover.server, leftover.id);
                }
                record_->save({});
                recorded_.clear();
                saveRecord();
            });
}

QList<ShownNotification> FreedesktopNotificationCenter::shownNow() const {
    QList<ShownNotification> shown;
    for (const Entry& entry : entries_) {
        if (entry.serverId != 0) {
            shown.append({entry.server, entry.serverId});
        }
    }
    return shown;
}

void FreedesktopNotificationCenter::saveRecord() {
    if (!record_) {
        return;  // until the bus has answered; its answer writes the record
    }
    QList<ShownNotification> shown = shownNow();
    if (shown != recorded_) {
        record_->save(shown);
        recorded_ = std::move(shown);
    }
}

void FreedesktopNotificationCenter::setDelegate(Delegate* delegate) {
    delegate_ = delegate;
}

void FreedesktopNotificationCenter::setNotificationCategories(const QList<Category>& categories) {
    categories_.clear();
    for (const Category& category : categories) {
        categories_.insert(category.identifier, category);
    }
}

void FreedesktopNotificationCenter::requestAuthorization(
    std::function<void(bool granted, std::optional<QString> error)> answer) {
    askServer([answer = std::move(answer)](bool answers) { answer(answers, std::nullopt); });
}

void FreedesktopNotificationCenter::getAuthorizationStatus(
    std::function<void(AuthorizationStatus)> answer) {
    askServer([answer = std::move(answer)](bool answers) {
        answer(answers ? AuthorizationStatus::authorized : AuthorizationStatus::unavailable);
    });
}

void FreedesktopNotificationCenter::askServer(std::function<void(bool answers)> answer) {
    // A call that cannot even be sent still finishes through the event loop.
    auto* watcher = new QDBusPendingCallWatcher(
        bus_.asyncCall(call(QStringLiteral("GetCapabilities")), kQuestionTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, answer = std::move(answer)](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                const QDBusPendingReply<QStringList> reply = *finished;
                if (!reply.isError()) {
                    bodyMarkup_ = reply.value().contains(QStringLiteral("body-markup"));
                }
                answer(!finished->isError());
            });
}

void FreedesktopNotificationCenter::add(const Request& request) {
    Entry& entry = entries_[request.identifier];
    if (entry.notifying) {
        // The server's id for this identifier is not known yet; the newest request follows as
        // soon as it is, so that it replaces instead of showing a second notification.
        entry.next = request;
        return;
    }
    notify(request);
}

void FreedesktopNotificationCenter::notify(const Request& request) {
    Entry& entry = entries_[request.identifier];
    entry.notifying = true;
    if (!bodyMarkup_) {
        // How the body must be written depends on the server; ask it first, once.
        askServer([this, request](bool) { send(request); });
        return;
    }
    send(request);
}

void FreedesktopNotificationCenter::send(const Request& request) {
    Entry& entry = entries_[request.identifier];

    QStringList actions{QString::fromLatin1(defaultActionIdentifier), QString()};
    const auto category = categories_.constFind(request.content.categoryIdentifier);
    if (category != categories_.cend()) {
        for (const Action& action : category->actions) {
            actions << action.identifier << action.title;
        }
    }
    QVariantMap hints{
        {QStringLiteral("urgency"),
         QVariant::fromValue<quint8>(urgencyFor(request.content.interruptionLevel))},
        {QStringLiteral("desktop-entry"), QStringLiteral("net.brontal.zorvik")},
    };
    if (!request.content.categoryIdentifier.isEmpty()) {
        hints.insert(QStringLiteral("x-zorvik-category"), request.content.categoryIdentifier);
    }

    QDBusMessage message = call(QStringLiteral("Notify"));
    // A server that reads markup in the body would take "Tom & Jerry <3" for broken markup; the
    // summary is never markup.
    const QString body =
        bodyMarkup_.value_or(false) ? request.content.body.toHtmlEscaped() : request.content.body;
    message << QStringLiteral("Zorvik") << entry.serverId << QString() << request.content.title
            << body << actions << hints << expireTimeoutFor(request.content.lifetime);
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(message), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, request](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                const QDBusPendingReply<uint> reply = *finished;
                // Over a bus the sender is the server's unique name.
                const QString server = reply.reply().service();
                if (reply.isError() && log_ != nullptr) {
                    log_->write(LogLevel::error, QStringLiteral("net.brontal.zorvik"),
                                QStringLiteral("notifications"),
                                QStringLiteral("the notification could not be shown: %1 (%2)")
                                    .arg(reply.error().message(), reply.error().name()));
                }
                notified(request, server.isEmpty() ? kService : server,
                         reply.isError() ? std::nullopt : std::optional(reply.value()));
            });
}

void FreedesktopNotificationCenter::notified(const Request& request, const QString& server,
                                             std::optional<uint> serverId) {
    Entry& entry = entries_[request.identifier];
    entry.notifying = false;
    if (serverId) {
        if (entry.serverId != 0 && entry.serverId != *serverId) {
            shown_.remove(entry.serverId);
        }
        if (entry.closeWhenShown) {
            shown_.remove(*serverId);
            entry.serverId = 0;
            close(server, *serverId);
        } else {
            entry.serverId = *serverId;
            entry.server = server;
            shown_.insert(*serverId, request);
        }
        saveRecord();
    }
    entry.closeWhenShown = false;
    if (auto next = std::exchange(entry.next, std::nullopt)) {
        notify(*next);
    }
}

void FreedesktopNotificationCenter::removeDeliveredNotifications(const QStringList& identifiers) {
    for (const QString& identifier : identifiers) {
        const auto found = entries_.find(identifier);
        if (found == entries_.end()) {
            continue;
        }
        Entry& entry = *found;
        if (entry.notifying) {
            entry.next.reset();
            entry.closeWhenShown = true;
        } else if (entry.serverId != 0) {
            const uint serverId = std::exchange(entry.serverId, 0u);
            shown_.remove(serverId);
            close(entry.server, serverId);
        }
    }
    saveRecord();
}

void FreedesktopNotificationCenter::close(const QString& server, uint serverId) {
    // The server answers an id it no longer shows with an error, which changes nothing here.
    auto* watcher =
        new QDBusPendingCallWatcher(bus_.asyncCall(closeMessage(server, serverId)), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
            &QDBusPendingCallWatcher::deleteLater);
}

void FreedesktopNotificationCenter::onActionInvoked(uint id, const QString& actionKey) {
    const auto found = shown_.constFind(id);
    if (found == shown_.cend() || delegate_ == nullptr) {
        return;  // another application's notification, or nobody to tell
    }
    delegate_->didReceive(Response{actionKey, *found}, [] {});
}

void FreedesktopNotificationCenter::onNotificationClosed(uint id, uint /*reason*/) {
    shown_.remove(id);
    for (Entry& entry : entries_) {
        if (entry.serverId == id) {
            entry.serverId = 0;
        }
    }
    saveRecord();
}
