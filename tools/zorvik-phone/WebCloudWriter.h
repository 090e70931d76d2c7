#pragma once

#include <QString>
#include <QUrl>
#include <optional>

#include "CloudRecord.h"

// Writes the phone's record through the cloud's web service, as a test double of it serves it
// on this computer. The phone signs in by following the service's sign-in page to its
// callback address without visiting it, and keeps that session in memory only: the desktop's
// stored session is never touched.
class WebCloudWriter {
public:
    WebCloudWriter(QUrl baseURL, QString apiToken);

    // Creates or replaces the record. Nothing on success, else what went wrong.
    std::optional<QString> save(const CloudRecord& record);
    // Deletes the record; `existed` tells whether there was one.
    std::optional<QString> remove(const QString& recordName, bool& existed);

private:
    QUrl baseURL_;
    QString apiToken_;
};
