#include "AtomicFile.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

namespace AtomicFile {

void write(const QString& path, const QByteArray& bytes, QFileDevice::Permissions permissions) {
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
