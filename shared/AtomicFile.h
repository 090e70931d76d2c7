// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QFileDevice>
#include <QString>
#include <functional>
#include <optional>

#include "platform/Error.h"

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

// Our files are never read or written through a symbolic link: a link in a file's place could
// lead a write to any file of the user's, or a read to a file that is not ours.
namespace AtomicFile {

constexpr auto ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
constexpr auto ownerOnlyFolder = ownerOnly | QFileDevice::ExeOwner;

// Replaces `path` in one step: the bytes go to a temporary file beside it, created with
// `permissions`, which is then renamed over the old file. A reader sees the whole old or the
// whole new file; on failure the old file is untouched. A symbolic link at `path` is replaced
// by the file, its target left as it is. Throws FileOperationError.
void write(const QString& path, const QByteArray& bytes,
           QFileDevice::Permissions permissions = ownerOnly);

// The contents of the regular file at `path`, at most `maxBytes` of them. Nothing when it is
// missing or unreadable, or is a symbolic link or anything else but a regular file.
std::optional<QByteArray> read(const QString& path, qint64 maxBytes = 1 << 20);

// Hears, once per text and process, of a file or folder of ours that was not what it should be
// (a symbolic link in a file's place, a folder of another user's).
void setFaultNotice(std::function<void(const QString& text)> notice);
// Tells the notice, unless it heard the same text before.
void noticeFault(const QString& text);

// Creates `directory` and any missing parents with `permissions`; existing ones are fine.
// Throws FileOperationError.
void makeDirectories(const QString& directory,
                     QFileDevice::Permissions permissions = ownerOnlyFolder);

}  // namespace AtomicFile
