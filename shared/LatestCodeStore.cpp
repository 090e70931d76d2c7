// SPDX-License-Identifier: GPL-3.0-or-later
#include "shared/LatestCodeStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <charconv>

#include "platform/AppGroupContainers.h"
#include "shared/AtomicFile.h"

std::optional<LatestCodeStore> LatestCodeStore::make(const AppGroupContainers& containers) {
    const auto directory = containers.containerDirectory(QString::fromLatin1(groupIdentifier));
    if (!directory) {
        return std::nullopt;
    }
    return LatestCodeStore(QDir(*directory).filePath(QStringLiteral("latest-code.json")));
}

QString LatestCodeStore::filledURL() const {
    const QFileInfo info(url_);
    return info.dir().filePath(info.completeBaseName() + QStringLiteral(".filled"));
}

void LatestCodeStore::save(const LatestCode& code) const {
    const auto encoded = code.encode();
    if (!encoded) {
        throw FileOperationError(url_, QStringLiteral("The code could not be encoded"));
    }
    AtomicFile::makeDirectories(QFileInfo(url_).path());
    AtomicFile::write(url_, *encoded);
    // The write created the file owner-only already; this keeps that true for a file that an
    // older writer left with other permissions.
    if (!QFile::setPermissions(url_, AtomicFile::ownerOnly)) {
        throw FileOperationError(url_, QStringLiteral("Could not set the file's permissions"));
    }
}

std::optional<LatestCode> LatestCodeStore::load() const {
    const auto bytes = AtomicFile::read(url_);
    return bytes ? LatestCode::decode(*bytes) : std::nullopt;
}

void LatestCodeStore::clear() const {
    if (!QFile::remove(url_) && QFileInfo(url_).isFile() && !QFileInfo(url_).isSymLink()) {
        // A folder that no longer lets us remove the file (its permissions changed) may still
        // let us empty it, which offers no code either.
        QFile file(url_);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            file.close();
        }
    }
    QFile::remove(filledURL());
}

void LatestCodeStore::markFilled(Instant now) const {
    try {
        AtomicFile::write(filledURL(), formatFilledMarker(now));
    } catch (const FileOperationError&) {
        // The marker only shortens how long the title shows; nothing to do about it here.
    }
}

std::optional<Instant> LatestCodeStore::filledAt() const {
    const auto bytes = AtomicFile::read(filledURL(), 64);
    return bytes ? parseFilledMarker(*bytes) : std::nullopt;
}

QByteArray formatFilledMarker(Instant instant) {
    char buffer[64];
    const auto result =
        std::to_chars(std::begin(buffer), std::end(buffer), secondsSince1970(instant));
    QByteArray text(buffer, result.ptr - buffer);
    if (!text.contains('.') && !text.contains('e')) {
        text += ".0";
    }
    return text;
}

std::optional<Instant> parseFilledMarker(QByteArrayView text) {
    // C-locale notation, consumed to its end, with no leading white space; an optional plus
    // sign is accepted as the C library would.
    if (text.isEmpty()) {
        return std::nullopt;
    }
    const char* begin = text.data();
    const char* end = begin + text.size();
    if (*begin == '+') {
        ++begin;
        if (begin == end || *begin == '-' || *begin == '+') {
            return std::nullopt;
        }
    }
    double seconds = 0;
    const auto [stop, error] = std::from_chars(begin, end, seconds);
    if (error != std::errc() || stop != end) {
        return std::nullopt;
    }
    return instantFromSecondsSince1970(seconds);
}
