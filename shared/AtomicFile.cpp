// SPDX-License-Identifier: GPL-3.0-or-later
#include "shared/AtomicFile.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>
#include <algorithm>

namespace AtomicFile {

namespace {

std::function<void(const QString&)>& faultNotice() {
    static std::function<void(const QString&)> notice;
    return notice;
}

}  // namespace

void noticeFault(const QString& text) {
    static QSet<QString> told;
    if (faultNotice() && !told.contains(text)) {
        told.insert(text);
        faultNotice()(text);
    }
}

void setFaultNotice(std::function<void(const QString& text)> notice) {
    faultNotice() = std::move(notice);
}

void write(const QString& path, const QByteArray& bytes, QFileDevice::Permissions permissions) {
    // QSaveFile would write to the link's target; the link itself goes instead.
    if (QFileInfo(path).isSymLink()) {
        noticeFault(path +
                    QStringLiteral(" was a symbolic link: it is replaced by a file, and what it "
                                   "pointed to is left as it was"));
        if (!QFile::remove(path)) {
            throw FileOperationError(path, QStringLiteral("Could not remove a symbolic link"));
        }
    }
    QSaveFile file(path);
    // Unbuffered, so a short write (a full disk, a file size limit) shows in write()'s count;
    // through Qt's buffer it could go unnoticed and commit a truncated file.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        throw FileOperationError(path, file.errorString());
    }
    // Applies to the temporary file, so the data is never readable by others, not even for a
    // moment before the rename.
    if (!file.setPermissions(permissions)) {
        throw FileOperationError(path, file.errorString());
    }
    if (file.write(bytes) != bytes.size() || !file.commit()) {
        throw FileOperationError(path, file.errorString());
    }
}

std::optional<QByteArray> read(const QString& path, qint64 maxBytes) {
    const QFileInfo info(path);
    if (info.isSymLink()) {
        noticeFault(path + QStringLiteral(" is a symbolic link: not read"));
        return std::nullopt;
    }
    if (!info.isFile()) {
        return std::nullopt;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    // QIODevice::read(n) makes a buffer of n bytes first: for a file of a few hundred bytes read
    // on every request, a buffer of its size (and a little for a writer still adding to it).
    const qint64 expected = std::min(maxBytes, file.size() + 4096);
    QByteArray bytes = file.read(expected);
    if (bytes.size() == expected && expected < maxBytes) {
        bytes += file.read(maxBytes - expected);
    }
    return bytes;
}

void makeDirectories(const QString& directory, QFileDevice::Permissions permissions) {
    const QString absolute = QDir::cleanPath(QDir(directory).absolutePath());
    if (QFileInfo(absolute).isDir()) {
        return;
    }
    const QString parent = QFileInfo(absolute).path();
    if (parent != absolute) {
        makeDirectories(parent, permissions);
    }
    if (!QDir().mkdir(absolute, permissions) && !QFileInfo(absolute).isDir()) {
        // The system's own words for why (errno of the failed mkdir).
        throw FileOperationError(absolute, qt_error_string(-1));
    }
}

}  // namespace AtomicFile
