// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/XdgAutostartLoginItem.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include "shared/AtomicFile.h"

XdgAutostartLoginItem::XdgAutostartLoginItem(QString autostartDirectory, QString executablePath)
    : autostartDirectory_(std::move(autostartDirectory)),
      executablePath_(std::move(executablePath)) {}

QString XdgAutostartLoginItem::standardAutostartDirectory() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart");
}

QString XdgAutostartLoginItem::entryPath() const {
    return QDir(autostartDirectory_).filePath(QStringLiteral("net.brontal.zorvik.desktop"));
}

LoginItemService::Status XdgAutostartLoginItem::status() const {
    QFile entry(entryPath());
    if (!entry.open(QIODevice::ReadOnly)) {
        return Status::notRegistered;
    }
    bool inMainGroup = false;
    while (!entry.atEnd()) {
        const QByteArray line = entry.readLine().trimmed();
        if (line.startsWith('[')) {
            inMainGroup = line == "[Desktop Entry]";
        } else if (inMainGroup && line == "Hidden=true") {
            return Status::notRegistered;
        }
    }
    return Status::enabled;
}

void XdgAutostartLoginItem::registerApp() {
    // TryExec lets the session pass over the entry once the application is gone.
    const QString entry =
        QStringLiteral(
            "[Desktop Entry]\n"
            "Type=Application\n"
            "Name=Zorvik\n"
            "Comment=One-time codes from your phone, ready to paste\n"
            "Exec=%1\n"
            "TryExec=%2\n"
            "Icon=net.brontal.zorvik\n"
            "Terminal=false\n"
            "StartupNotify=false\n"
            "X-GNOME-Autostart-enabled=true\n")
            .arg(desktopEntryExec(executablePath_), desktopEntryString(executablePath_));
    try {
        AtomicFile::makeDirectories(autostartDirectory_, QFileDevice::ReadOwner |
                                                             QFileDevice::WriteOwner |
                                                             QFileDevice::ExeOwner);
        AtomicFile::write(entryPath(), entry.toUtf8(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                              QFileDevice::ReadGroup | QFileDevice::ReadOther);
    } catch (const Error& error) {
        throw LoginItemError(error.localizedDescription());
    }
}

void XdgAutostartLoginItem::unregisterApp() {
    QFile entry(entryPath());
    if (entry.exists() && !entry.remove()) {
        throw LoginItemError(entry.errorString() + QStringLiteral(": ") + entryPath());
    }
}

QString desktopEntryString(const QString& text) {
    QString escaped;
    for (const QChar c : text) {
        if (c == u'\\') {
            escaped += QStringLiteral("\\\\");
        } else if (c == u'\n') {
            escaped += QStringLiteral("\\n");
        } else if (c == u'\t') {
            escaped += QStringLiteral("\\t");
        } else if (c == u'\r') {
            escaped += QStringLiteral("\\r");
        } else {
            escaped += c;
        }
    }
    return escaped;
}

QString desktopEntryExec(const QString& path) {
    // Inside double quotes the Exec key escapes ", `, $ and \ with a backslash; the value as a
    // whole is a desktop-entry string, whose own escapes apply on top.
    QString quoted;
    for (const QChar c : path) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\') {
            quoted += u'\\';
        }
        quoted += c;
    }
    // A percent sign would be read as a field code.
    return u'"' + desktopEntryString(quoted).replace(u'%', QStringLiteral("%%")) + u'"';
}
