// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <memory>
#include <optional>

class LoginItemService;
class UserDefaults;

// The user's choices for the tray application. Every choice but the login item lives in the
// user-defaults store under a fixed key; the login item mirrors the system's registration of
// the application. Each field announces a change of its value through its signal.
class MacSettings : public QObject {
    Q_OBJECT

public:
    static constexpr auto copyToClipboardKey = "copyToClipboard";
    static constexpr auto notifyKey = "notify";
    static constexpr auto showCodeInMenuBarKey = "showCodeInMenuBar";
    static constexpr auto pollIntervalKey = "pollInterval";
    static constexpr auto setupCollapsedKey = "setupCollapsed";

    // The poll intervals the user can pick, in seconds.
    static const QList<double>& pollIntervalChoices();

    MacSettings(UserDefaults& defaults, LoginItemService& loginItem, QObject* parent = nullptr);

    // The process-wide settings, made on first use from the standard store.
    static MacSettings& shared(UserDefaults& defaults, LoginItemService& loginItem);

    bool copyToClipboard() const { return copyToClipboard_; }
    bool notify() const { return notify_; }
    double pollInterval() const { return pollInterval_; }
    bool setupCollapsed() const { return setupCollapsed_; }
    bool showCodeInMenuBar() const { return showCodeInMenuBar_; }
    bool launchAtLogin() const { return launchAtLogin_; }
    // The text of the last failed login-item change; absent when the last change succeeded.
    const std::optional<QString>& launchAtLoginError() const { return launchAtLoginError_; }

    // Each setter writes its key on every call, even with an unchanged value.
    void setCopyToClipboard(bool value);
    void setNotify(bool value);
    void setPollInterval(double seconds);
    void setSetupCollapsed(bool value);
    void setShowCodeInMenuBar(bool value);
    // Registers or unregisters the login item; on failure the error text is kept and the value
    // falls back to what the system reports.
    void setLaunchAtLogin(bool value);

    // Brings launchAtLogin in line with the system, without changing the registration.
    void refreshLaunchAtLogin();

Q_SIGNALS:
    void copyToClipboardChanged(bool value);
    void notifyChanged(bool value);
    void pollIntervalChanged(double seconds);
    void setupCollapsedChanged(bool value);
    void showCodeInMenuBarChanged(bool value);
    void launchAtLoginChanged(bool value);
    void launchAtLoginErrorChanged(const std::optional<QString>& error);

private:
    void storeBool(bool& field, bool value, const char* key, void (MacSettings::*changed)(bool));
    void changeLoginItem(bool previous);
    void setLaunchAtLoginError(std::optional<QString> error);
    bool systemSaysEnabled() const;

    UserDefaults& defaults_;
    LoginItemService& loginItem_;
    bool copyToClipboard_ = true;
    bool notify_ = true;
    double pollInterval_ = 5;
    bool setupCollapsed_ = false;
    bool showCodeInMenuBar_ = true;
    bool launchAtLogin_ = false;
    std::optional<QString> launchAtLoginError_;
    // True while launchAtLogin is being brought in line with the system, so that assignment
    // does not change the registration again.
    bool syncingLoginItem_ = false;
};
