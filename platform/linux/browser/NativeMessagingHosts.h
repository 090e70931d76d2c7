// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>

#include "platform/linux/browser/ConnectedBrowsers.h"

// Where each browser looks for the per-user manifests of native-messaging hosts. The AutoFill
// helper is installed there; AutoFill counts as enabled while one browser has its manifest.
namespace NativeMessagingHosts {

constexpr auto hostName = "net.brontal.zorvik.autofill";
// Our extension, by its fixed ID in the Chromium family and its add-on ID in Firefox.
constexpr auto chromiumExtensionOrigin = "chrome-extension://pefndcdalefolcllbmhdfnidbfjfjkgc/";
constexpr auto firefoxExtensionID = "autofill@zorvik.brontal.net";

struct BrowserDirectory {
    QString browser;
    QString directory;
    // Firefox's manifests allow extensions by id, the Chromium family's by origin.
    bool firefoxFamily = false;

    ConnectedBrowsers::Family family() const {
        return firefoxFamily ? ConnectedBrowsers::Family::firefox
                             : ConnectedBrowsers::Family::chromium;
    }
    // The browser's own directory, whose presence means the browser is installed for this user.
    QString browserDirectory() const;
};

// Under $XDG_CONFIG_HOME for the Chromium family, under $HOME/.mozilla for Firefox.
QList<BrowserDirectory> perUserDirectories(const QString& configHome, const QString& home);
QList<BrowserDirectory> perUserDirectories();

// The manifest file of our host in `directory`.
QString manifestPath(const QString& directory);

}  // namespace NativeMessagingHosts
