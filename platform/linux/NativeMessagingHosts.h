#pragma once

#include <QList>
#include <QString>

// Where each browser looks for the per-user manifests of native-messaging hosts. The AutoFill
// helper is installed there; AutoFill counts as enabled while one browser has its manifest.
namespace NativeMessagingHosts {

constexpr auto hostName = "net.brontal.zorvik.autofill";

struct BrowserDirectory {
    QString browser;
    QString directory;
    // Firefox's manifests allow extensions by id, the Chromium family's by origin.
    bool firefoxFamily = false;
};

// Under $XDG_CONFIG_HOME for the Chromium family, under $HOME/.mozilla for Firefox.
QList<BrowserDirectory> perUserDirectories(const QString& configHome, const QString& home);
QList<BrowserDirectory> perUserDirectories();

// The manifest file of our host in `directory`.
QString manifestPath(const QString& directory);

}  // namespace NativeMessagingHosts
