// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include "platform/LoginItemService.h"

// The application's login item as an XDG autostart entry,
// $XDG_CONFIG_HOME/autostart/net.brontal.zorvik.desktop. It is enabled while our file exists
// and does not say Hidden=true.
class XdgAutostartLoginItem final : public LoginItemService {
public:
    XdgAutostartLoginItem(QString autostartDirectory, QString executablePath);

    static QString standardAutostartDirectory();

    Status status() const override;
    void registerApp() override;
    void unregisterApp() override;

    QString entryPath() const;

private:
    QString autostartDirectory_;
    QString executablePath_;
};

// An Exec value that starts `path` whatever characters it holds.
QString desktopEntryExec(const QString& path);

// `text` as the value of a desktop-entry string key: backslash, newline, tab and carriage return
// escaped.
QString desktopEntryString(const QString& text);
