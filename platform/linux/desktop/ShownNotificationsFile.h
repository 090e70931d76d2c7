// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>
#include <optional>

// One notification on show: the unique bus name of the server that shows it and the id that
// server gave it. Ids are counted per server process, so the pair names exactly one notification.
struct ShownNotification {
    QString server;
    uint id = 0;
    bool operator==(const ShownNotification&) const = default;
};

// The notifications a process has on show, kept beside the shared files so that the next
// process can close those whose buttons nobody answers any more: the process that posted them
// crashed or was killed. Never holds a code. Owner-only (0600) in an owner-only directory.
class ShownNotificationsFile {
public:
    // The application group's container, where the latest code is shared; nothing without one.
    static std::optional<QString> standardDirectory();

    explicit ShownNotificationsFile(QString path) : path_(std::move(path)) {}

    const QString& path() const { return path_; }
    // Nothing for a missing, unreadable or malformed file.
    QList<ShownNotification> load() const;
    // Replaces the file; an empty list deletes it. Failures are dropped: the server's own
    // expiry still takes the notifications away.
    void save(const QList<ShownNotification>& shown) const;

private:
    QString path_;
};
