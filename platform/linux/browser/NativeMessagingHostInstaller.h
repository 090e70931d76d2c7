// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>

#include "platform/linux/browser/NativeMessagingHosts.h"

// Registers the AutoFill helper with the browsers: one host manifest in the per-user directory
// of every supported browser the user has.
namespace NativeMessagingHostInstaller {

struct Outcome {
    QString browser;
    QString manifestPath;
    // Empty on success.
    QString error;
};

// The manifest naming `hostPath` and allowing only our extension.
QByteArray manifest(const QString& hostPath, bool firefoxFamily);

// Writes the manifest for each browser whose own directory exists; the others are left out.
QList<Outcome> install(const QString& hostPath,
                       const QList<NativeMessagingHosts::BrowserDirectory>& browsers);
// Removes our manifest wherever it is; browsers without one are left out.
QList<Outcome> uninstall(const QList<NativeMessagingHosts::BrowserDirectory>& browsers);

}  // namespace NativeMessagingHostInstaller
