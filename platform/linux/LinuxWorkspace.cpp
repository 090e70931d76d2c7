// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/LinuxWorkspace.h"

#include <unistd.h>

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QDesktopServices>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>
#include <vector>

#include "platform/MainActor.h"

namespace {

const auto kLogin1Service = QStringLiteral("org.freedesktop.login1");
const auto kLogin1Path = QStringLiteral("/org/freedesktop/login1");
const auto kLogin1Manager = QStringLiteral("org.freedesktop.login1.Manager");
const auto kLogin1Session = QStringLiteral("org.freedesktop.login1.Session");
const auto kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
const auto kActive = QStringLiteral("Active");

// The screensavers whose ActiveChanged(b) tells that the screens went dark or came back.
struct ScreenSaver {
    const char* path;
    const char* interface;
};
constexpr ScreenSaver kScreenSavers[] = {
    {"/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver"},
    {"/org/gnome/ScreenSaver", "org.gnome.ScreenSaver"},
};

// The desktops' settings programs, with the desktop (as in XDG_CURRENT_DESKTOP) each belongs to
// and the arguments that open the panes the product asks for; null where it has no such pane.
struct SettingsProgram {
    const char* program;
    const char* desktop;
    const char* onlineAccounts;
    const char* notifications;
};
constexpr SettingsProgram kSettingsPrograms[] = {
    {"gnome-control-center", "GNOME", "online-accounts", "notifications"},
    {"systemsettings", "KDE", "kcm_kaccounts", "kcm_notifications"},
    {"xfce4-settings-manager", "XFCE", nullptr, nullptr},
};

// The settings programs, those of the running desktop first, otherwise in table order.
std::vector<SettingsProgram> settingsProgramsByPreference() {
    const QStringList desktops =
        qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(u':', Qt::SkipEmptyParts);
    std::vector<SettingsProgram> ordered;
    std::vector<SettingsProgram> others;
    for (const SettingsProgram& candidate : kSettingsPrograms) {
        const bool ours = desktops.contains(QLatin1String(candidate.desktop), Qt::CaseInsensitive);
        (ours ? ordered : others).push_back(candidate);
    }
    ordered.insert(ordered.end(), others.begin(), others.end());
    return ordered;
}

// Starts `program`, found in PATH, on its own; false when it is not there or does not start.
bool startDetached(const QString& program, const QStringList& arguments) {
    const QString path = QStandardPaths::findExecutable(program);
    return !path.isEmpty() && QProcess::startDetached(path, arguments);
}

// Opens a pane with the first settings program that has it; `pane` picks its argument.
bool openSettingsPane(const char* SettingsProgram::*pane) {
    for (const SettingsProgram& candidate : settingsProgramsByPreference()) {
        if (candidate.*pane != nullptr &&
            startDetached(QLatin1String(candidate.program), {QLatin1String(candidate.*pane)})) {
            return true;
        }
    }
    return false;
}

}  // namespace

LinuxWorkspace::LinuxWorkspace(MainActor& mainActor, QObject* parent)
    : QObject(parent), mainActor_(mainActor) {
    // Even making the standard connections talks to the buses, so that waits for the queue too.
    mainActor_.post([self = QPointer(this)] {
        if (self) {
            self->listen(QDBusConnection::systemBus(), QDBusConnection::sessionBus());
        }
    });
}

LinuxWorkspace::LinuxWorkspace(MainActor& mainActor, QDBusConnection systemBus,
                               QDBusConnection sessionBus, QObject* parent)
    : QObject(parent), mainActor_(mainActor) {
    mainActor_.post([self = QPointer(this), systemBus, sessionBus] {
        if (self) {
            self->listen(systemBus, sessionBus);
        }
    });
}

// QtDBus drops the signal connections of a receiver that is destroyed, and the calls on their
// way are children of this object.
LinuxWorkspace::~LinuxWorkspace() = default;

void LinuxWorkspace::listen(QDBusConnection systemBus, QDBusConnection sessionBus) {
    // An empty service matches any sender, so no name owner is looked up (which would block).
    if (systemBus.isConnected()) {
        systemBus_ = systemBus;
        systemBus.connect(QString(), kLogin1Path, kLogin1Manager, QStringLiteral("PrepareForSleep"),
                          this, SLOT(onPrepareForSleep(bool)));
        findSession(true);
    }
    if (sessionBus.isConnected()) {
        for (const ScreenSaver& screenSaver : kScreenSavers) {
            sessionBus.connect(
                QString(), QLatin1String(screenSaver.path), QLatin1String(screenSaver.interface),
                QStringLiteral("ActiveChanged"), this, SLOT(onScreenSaverActiveChanged(bool)));
        }
    }
}

void LinuxWorkspace::findSession(bool byId) {
    const QString sessionId = qEnvironmentVariable("XDG_SESSION_ID");
    const bool askById = byId && !sessionId.isEmpty();
    QDBusMessage message = QDBusMessage::createMethodCall(
        kLogin1Service, kLogin1Path, kLogin1Manager,
        askById ? QStringLiteral("GetSession") : QStringLiteral("GetSessionByPID"));
    if (askById) {
        message << sessionId;
    } else {
        message << static_cast<uint>(::getpid());
    }
    auto* watcher = new QDBusPendingCallWatcher(systemBus_->asyncCall(message), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, askById](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                const QDBusPendingReply<QDBusObjectPath> reply = *finished;
                if (!reply.isError()) {
                    followSession(reply.value().path());
                } else if (askById) {
                    findSession(false);
                }
                // No logind, or not in a logind session: no session events.
            });
}

void LinuxWorkspace::followSession(const QString& path) {
    sessionPath_ = path;
    systemBus_->connect(QString(), path, kProperties, QStringLiteral("PropertiesChanged"),
                        {kLogin1Session}, QString(), this,
                        SLOT(onSessionPropertiesChanged(QString, QVariantMap, QStringList)));
}

void LinuxWorkspace::readSessionActive() {
    QDBusMessage message = QDBusMessage::createMethodCall(kLogin1Service, sessionPath_, kProperties,
                                                          QStringLiteral("Get"));
    message << kLogin1Session << kActive;
    auto* watcher = new QDBusPendingCallWatcher(systemBus_->asyncCall(message), this);
    connect(
        watcher, &QDBusPendingCallWatcher::finished, this,
        [this](QDBusPendingCallWatcher* finished) {
            finished->deleteLater();
            const QDBusPendingReply<QDBusVariant> reply = *finished;
            if (!reply.isError() && reply.value().variant().metaType().id() == QMetaType::Bool) {
                sessionActiveIs(reply.value().variant().toBool());
            }
        });
}

void LinuxWorkspace::onPrepareForSleep(bool start) {
    post(start ? Event::willSleep : Event::didWake);
}

void LinuxWorkspace::onScreenSaverActiveChanged(bool active) {
    if (screensAsleep_ == active) {
        return;
    }
    screensAsleep_ = active;
    post(active ? Event::screensDidSleep : Event::screensDidWake);
}

void LinuxWorkspace::onSessionPropertiesChanged(const QString& interface,
                                                const QVariantMap& changed,
                                                const QStringList& invalidated) {
    if (interface != kLogin1Session) {
        return;
    }
    const auto active = changed.constFind(kActive);
    if (active != changed.cend()) {
        if (active->metaType().id() == QMetaType::Bool) {
            sessionActiveIs(active->toBool());
        }
    } else if (invalidated.contains(kActive)) {
        readSessionActive();
    }
}

void LinuxWorkspace::sessionActiveIs(bool active) {
    if (sessionActive_ == active) {
        return;
    }
    sessionActive_ = active;
    post(active ? Event::sessionDidBecomeActive : Event::sessionDidResignActive);
}

void LinuxWorkspace::post(Event event) {
    mainActor_.post([self = QPointer(this), event] {
        if (!self) {
            return;
        }
        std::vector<ObserverToken> tokens;
        for (const auto& [token, observer] : self->observers_) {
            if (observer.first == event) {
                tokens.push_back(token);
            }
        }
        for (const ObserverToken token : tokens) {
            // An observer may remove others, or itself, or end the workspace.
            if (!self) {
                return;
            }
            const auto found = self->observers_.find(token);
            if (found != self->observers_.end()) {
                const std::function<void()> handler = found->second.second;
                handler();
            }
        }
    });
}

Workspace::ObserverToken LinuxWorkspace::addObserver(Event event, std::function<void()> handler) {
    const ObserverToken token = nextToken_++;
    observers_.emplace(token, std::make_pair(event, std::move(handler)));
    return token;
}

void LinuxWorkspace::removeObserver(ObserverToken token) {
    observers_.erase(token);
}

bool LinuxWorkspace::openURL(const QString& url) {
    if (url == QLatin1String(iCloudSettingsURL)) {
        return openSettingsPane(&SettingsProgram::onlineAccounts);
    }
    if (url == QLatin1String(notificationSettingsURL)) {
        return openSettingsPane(&SettingsProgram::notifications);
    }
    // A settings pane this desktop has nothing for: the caller falls back to the settings.
    if (url.startsWith(QLatin1String("x-apple.systempreferences:"))) {
        return false;
    }
    const QUrl parsed(url, QUrl::StrictMode);
    return parsed.isValid() && QDesktopServices::openUrl(parsed);
}

void LinuxWorkspace::openApplication(const QString& path) {
    if (path == QLatin1String(systemSettingsApplication)) {
        for (const SettingsProgram& candidate : settingsProgramsByPreference()) {
            if (startDetached(QLatin1String(candidate.program), {})) {
                return;
            }
        }
        return;
    }
    startDetached(path, {});
}
