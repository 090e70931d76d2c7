// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QStringList>
#include <QVariantMap>
#include <functional>
#include <map>
#include <optional>
#include <utility>

#include "platform/Workspace.h"

class MainActor;

// The Linux desktop around the application.
//
// Events: the machine's sleep and wake come from logind's PrepareForSleep on the system bus;
// the screens' sleep and wake from the screensaver's ActiveChanged on the session bus, both the
// freedesktop and the GNOME interface, matched on interface and path whoever sends them (GNOME
// re-emits through a helper); the session's activity from the Active property of our logind
// session. Screens and session report changes only, even when two sources say the same. A bus
// that is not there gives no events. Nothing talks to a bus during construction: listening
// starts from the main queue, and every call on a bus is asynchronous.
//
// Opening: the settings panes the product asks for become the desktop's own settings programs
// (GNOME, Plasma, Xfce), the one of the running desktop first; other URLs go to the desktop's
// URL handler.
class LinuxWorkspace final : public QObject, public Workspace {
    Q_OBJECT

public:
    // Listens on the standard system and session buses.
    explicit LinuxWorkspace(MainActor& mainActor, QObject* parent = nullptr);
    // Listens on the given buses; a connection that is not connected gives no events.
    LinuxWorkspace(MainActor& mainActor, QDBusConnection systemBus, QDBusConnection sessionBus,
                   QObject* parent = nullptr);
    ~LinuxWorkspace() override;

    ObserverToken addObserver(Event event, std::function<void()> handler) override;
    void removeObserver(ObserverToken token) override;
    bool openURL(const QString& url) override;
    void openApplication(const QString& path) override;

private Q_SLOTS:
    void onPrepareForSleep(bool start);
    void onScreenSaverActiveChanged(bool active);
    void onSessionPropertiesChanged(const QString& interface, const QVariantMap& changed,
                                    const QStringList& invalidated);

private:
    void listen(QDBusConnection systemBus, QDBusConnection sessionBus);
    // Asks logind for our session object: by XDG_SESSION_ID, else (or when that fails) by pid.
    void findSession(bool byId);
    void followSession(const QString& path);
    void readSessionActive();
    void sessionActiveIs(bool active);
    // Runs the observers of `event` from the main queue.
    void post(Event event);

    MainActor& mainActor_;
    std::optional<QDBusConnection> systemBus_;
    QString sessionPath_;
    // The last state reported, to report changes only.
    std::optional<bool> screensAsleep_;
    std::optional<bool> sessionActive_;
    ObserverToken nextToken_ = 1;
    std::map<ObserverToken, std::pair<Event, std::function<void()>>> observers_;
};
