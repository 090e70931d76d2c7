#pragma once

#include <QByteArray>
#include <QFileDevice>
#include <QString>

#include "Error.h"

// A failed file operation, described with the system's message.
class FileOperationError : public Error {
public:
    FileOperationError(QString path, QString message)
        : path_(std::move(path)), message_(std::move(message)) {}
    const QString& path() const { return path_; }
    QString localizedDescription() const override {
        return message_ + QStringLiteral(": ") + path_;
    }

private:
    QString path_;
    QString message_;
};

namespace AtomicFile {

constexpr auto ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

// Replaces `path` in one step: the bytes go to a temporary file beside it, created with
// `permissions`, which is then renamed over the old file. A reader sees the whole old or the
// whole new file; on failure the old file is untouched. Throws FileOperationError.
void write(const QString& path, const QByteArray& bytes,
           QFileDevice::Permissions permissions = ownerOnly);

// Creates `directory` and any missing parents with `permissions`; existing ones are fine.
// Throws FileOperationError.
void makeDirectories(const QString& directory,
                     QFileDevice::Permissions permissions = QFileDevice::ReadOwner |
                                                            QFileDevice::WriteOwner |
                                                            QFileDevice::ExeOwner);

}  // namespace AtomicFile
