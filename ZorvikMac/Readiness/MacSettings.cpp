// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZorvikMac/Readiness/MacSettings.h"

#include "platform/LoginItemService.h"
#include "platform/UserDefaults.h"

namespace {

QString key(const char* name) {
    return QString::fromLatin1(name);
}

}  // namespace

const QList<double>& MacSettings::pollIntervalChoices() {
    static const QList<double> choices{3, 5, 10, 30, 60};
    return choices;
}

MacSettings::MacSettings(UserDefaults& defaults, LoginItemService& loginItem, QObject* parent)
    : QObject(parent), defaults_(defaults), loginItem_(loginItem) {
    defaults_.registerDefaults({
        {key(copyToClipboardKey), true},
        {key(notifyKey), true},
        {key(showCodeInMenuBarKey), true},
        {key(pollIntervalKey), 5.0},
    });
    copyToClipboard_ = defaults_.boolForKey(key(copyToClipboardKey));
    notify_ = defaults_.boolForKey(key(notifyKey));
    showCodeInMenuBar_ = defaults_.boolForKey(key(showCodeInMenuBarKey));
    setupCollapsed_ = defaults_.boolForKey(key(setupCollapsedKey));
    const double storedInterval = defaults_.doubleForKey(key(pollIntervalKey));
    pollInterval_ = pollIntervalChoices().contains(storedInterval) ? storedInterval : 5.0;
    launchAtLogin_ = systemSaysEnabled();
}

MacSettings& MacSettings::shared(UserDefaults& defaults, LoginItemService& loginItem) {
    static MacSettings* const instance = new MacSettings(defaults, loginItem);
    return *instance;
}

void MacSettings::storeBool(bool& field, bool value, const char* name,
                            void (MacSettings::*changed)(bool)) {
    const bool differs = field != value;
    field = value;
    defaults_.setBool(value, key(name));
    if (differs) {
        Q_EMIT(this->*changed)(value);
    }
}

void MacSettings::setCopyToClipboard(bool value) {
    storeBool(copyToClipboard_, value, copyToClipboardKey, &MacSettings::copyToClipboardChanged);
}

void MacSettings::setNotify(bool value) {
    storeBool(notify_, value, notifyKey, &MacSettings::notifyChanged);
}

void MacSettings::setSetupCollapsed(bool value) {
    storeBool(setupCollapsed_, value, setupCollapsedKey, &MacSettings::setupCollapsedChanged);
}

void MacSettings::setShowCodeInMenuBar(bool value) {
    storeBool(showCodeInMenuBar_, value, showCodeInMenuBarKey,
              &MacSettings::showCodeInMenuBarChanged);
}

void MacSettings::setPollInterval(double seconds) {
    const bool differs = pollInterval_ != seconds;
    pollInterval_ = seconds;
    defaults_.setDouble(seconds, key(pollIntervalKey));
    if (differs) {
        Q_EMIT pollIntervalChanged(seconds);
    }
}

void MacSettings::setLaunchAtLogin(bool value) {
    const bool previous = launchAtLogin_;
    launchAtLogin_ = value;
    if (previous != value) {
        Q_EMIT launchAtLoginChanged(value);
    }
    changeLoginItem(previous);
}

void MacSettings::changeLoginItem(bool previous) {
    if (launchAtLogin_ == previous || syncingLoginItem_) {
        return;
    }
    try {
        if (launchAtLogin_) {
            loginItem_.registerApp();
        } else {
            loginItem_.unregisterApp();
        }
        // The value stays as the user chose it even if the system now wants approval; the
        // next refresh corrects it.
        setLaunchAtLoginError(std::nullopt);
    } catch (const Error& error) {
        setLaunchAtLoginError(error.localizedDescription());
        syncingLoginItem_ = true;
        setLaunchAtLogin(systemSaysEnabled());
        syncingLoginItem_ = false;
    }
}

void MacSettings::refreshLaunchAtLogin() {
    const bool enabled = systemSaysEnabled();
    if (enabled == launchAtLogin_) {
        return;
    }
    syncingLoginItem_ = true;
    setLaunchAtLogin(enabled);
    syncingLoginItem_ = false;
}

void MacSettings::setLaunchAtLoginError(std::optional<QString> error) {
    if (launchAtLoginError_ == error) {
        return;
    }
    launchAtLoginError_ = std::move(error);
    Q_EMIT launchAtLoginErrorChanged(launchAtLoginError_);
}

bool MacSettings::systemSaysEnabled() const {
    return loginItem_.status() == LoginItemService::Status::enabled;
}
