#include "FreedesktopNotificationCenter.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>
#include <utility>

namespace {

const auto kService = QStringLiteral("org.freedesktop.Notifications");
const auto kPath = QStringLiteral("/org/freedesktop/Notifications");
const auto kInterface = QStringLiteral("org.freedesktop.Notifications");

// How long a question to the server may take; activating a server can take a moment.
constexpr int kQuestionTimeoutMs = 10000;

QDBusMessage call(const QString& method) {
    return QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
}

// The server's urgency levels: 0 low, 1 normal, 2 critical. Critical lets the notification through
// do-not-disturb; the product takes it away at expiry itself.
quint8 urgencyFor(UserNotificationCenter::InterruptionLevel level) {
    using Level = UserNotificationCenter::InterruptionLevel;
    switch (level) {
        case Level::passive:
            return 0;
        case Level::timeSensitive:
        case Level::critical:
            return 2;
        case Level::active:
            break;
    }
    return 1;
}

}  // namespace

FreedesktopNotificationCenter::FreedesktopNotificationCenter(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {
    // Servers may send both signals to the connection that asked for the notification only.
    bus_.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                 SLOT(onActionInvoked(uint, QString)));
    bus_.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                 SLOT(onNotificationClosed(uint, uint)));
}

FreedesktopNotificationCenter::~FreedesktopNotificationCenter() {
    bus_.disconnect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                    SLOT(onActionInvoked(uint, QString)));
    bus_.disconnect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                    SLOT(onNotificationClosed(uint, uint)));
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
        answer(answers ? AuthorizationStatus::authorized : AuthorizationStatus::denied);
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
            << body << actions << hints << -1;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(message), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, request](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                const QDBusPendingReply<uint> reply = *finished;
                notified(request, reply.isError() ? std::nullopt : std::optional(reply.value()));
            });
}

void FreedesktopNotificationCenter::notified(const Request& request, std::optional<uint> serverId) {
    Entry& entry = entries_[request.identifier];
    entry.notifying = false;
    if (serverId) {
        if (entry.serverId != 0 && entry.serverId != *serverId) {
            shown_.remove(entry.serverId);
        }
        if (entry.closeWhenShown) {
            shown_.remove(*serverId);
            entry.serverId = 0;
            close(*serverId);
        } else {
            entry.serverId = *serverId;
            shown_.insert(*serverId, request);
        }
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
            close(serverId);
        }
    }
}

void FreedesktopNotificationCenter::close(uint serverId) {
    // The server answers an id it no longer shows with an error, which changes nothing here.
    QDBusMessage message = call(QStringLiteral("CloseNotification"));
    message << serverId;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(message), this);
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
}
