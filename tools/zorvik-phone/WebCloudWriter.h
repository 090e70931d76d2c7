// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QUrl>
#include <memory>
#include <optional>

#include "platform/CloudRecord.h"

// Writes the phone's record through the cloud's web service, as a test double of it serves it
// on this computer. The phone signs in by following the service's sign-in page to its
// callback address without visiting it, and keeps that session in memory only: the desktop's
// stored session is never touched. It signs in at the first write and keeps the session for the
// later ones.
class WebCloudWriter {
public:
    WebCloudWriter(QUrl baseURL, QString apiToken);
    ~WebCloudWriter();
    WebCloudWriter(WebCloudWriter&&) noexcept;
    WebCloudWriter& operator=(WebCloudWriter&&) noexcept;

    // Signs in now unless signed in already. Nothing on success, else what went wrong.
    std::optional<QString> signIn();
    // Creates or replaces the record. Nothing on success, else what went wrong.
    std::optional<QString> save(const CloudRecord& record);
    // Deletes the record; `existed` tells whether there was one.
    std::optional<QString> remove(const QString& recordName, bool& existed);

private:
    struct Connection;

    QUrl baseURL_;
    QString apiToken_;
    std::unique_ptr<Connection> connection_;
};
