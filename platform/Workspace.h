// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <functional>

// The desktop around the application: sleep and wake of the machine, its screens and the
// user's session, and opening settings.
class Workspace {
public:
    enum class Event {
        willSleep,
        didWake,
        screensDidSleep,
        screensDidWake,
        sessionDidResignActive,
        sessionDidBecomeActive,
    };
    using ObserverToken = int;

    // Deep links into the system settings, and the settings application itself.
    static constexpr auto iCloudSettingsURL =
        "x-apple.systempreferences:com.apple.systempreferences.AppleIDSettings*iCloud";
    static constexpr auto notificationSettingsURL =
        "x-apple.systempreferences:com.apple.Notifications-Settings.extension";
    static constexpr auto systemSettingsApplication = "/System/Applications/System Settings.app";

    virtual ~Workspace() = default;
    // `handler` runs on the main queue each time `event` happens; a desktop that cannot tell
    // simply never calls it.
    virtual ObserverToken addObserver(Event event, std::function<void()> handler) = 0;
    virtual void removeObserver(ObserverToken token) = 0;
    // False when nothing could open `url`.
    virtual bool openURL(const QString& url) = 0;
    virtual void openApplication(const QString& path) = 0;
};

// Opens the settings where the user turns our AutoFill provider on.
class AutoFillSettings {
public:
    virtual ~AutoFillSettings() = default;
    virtual void openCredentialProviderAppSettings() = 0;
};
