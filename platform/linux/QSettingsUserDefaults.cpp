// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/QSettingsUserDefaults.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <charconv>

#include "shared/AtomicFile.h"

namespace {

QString dateText(Instant instant) {
    const auto milliseconds =
        std::chrono::floor<std::chrono::milliseconds>(instant).time_since_epoch().count();
    return QDateTime::fromMSecsSinceEpoch(milliseconds, Qt::UTC).toString(Qt::ISODateWithMs);
}

QString doubleText(double value) {
    char buffer[64];
    const auto result = std::to_chars(std::begin(buffer), std::end(buffer), value);
    return QString::fromLatin1(buffer, result.ptr - buffer);
}

std::optional<double> parseDouble(const QString& text) {
    const QByteArray bytes = text.toLatin1();
    double value = 0;
    const auto [end, error] = std::from_chars(bytes.constBegin(), bytes.constEnd(), value);
    if (bytes.isEmpty() || error != std::errc() || end != bytes.constEnd()) {
        return std::nullopt;
    }
    return value;
}

QString textOf(const UserDefaults::Value& value) {
    return std::visit(
        [](const auto& v) -> QString {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, bool>) {
                return v ? QStringLiteral("true") : QStringLiteral("false");
            } else if constexpr (std::is_same_v<T, double>) {
                return doubleText(v);
            } else if constexpr (std::is_same_v<T, Instant>) {
                return dateText(v);
            } else {
                return v;
            }
        },
        value);
}

}  // namespace

namespace {

// QSettings reads and writes through a link; the link goes first, its target stays as it is.
const QString& withoutLink(const QString& filePath) {
    if (QFileInfo(filePath).isSymLink()) {
        AtomicFile::noticeFault(filePath +
                                QStringLiteral(" was a symbolic link: it is replaced by a file, "
                                               "and what it pointed to is left as it was"));
        QFile::remove(filePath);
    }
    return filePath;
}

}  // namespace

QSettingsUserDefaults::QSettingsUserDefaults(const QString& filePath)
    : settings_(withoutLink(filePath), QSettings::IniFormat) {}

QString QSettingsUserDefaults::standardFilePath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/net.brontal.zorvik/ZorvikMac.conf");
}

void QSettingsUserDefaults::registerDefaults(const QHash<QString, Value>& defaults) {
    for (auto it = defaults.cbegin(); it != defaults.cend(); ++it) {
        registered_.insert(it.key(), textOf(it.value()));
    }
}

std::optional<QString> QSettingsUserDefaults::text(const QString& key) const {
    const QVariant stored = settings_.value(key);
    if (stored.isValid()) {
        return stored.toString();
    }
    const auto registered = registered_.constFind(key);
    if (registered != registered_.cend()) {
        return *registered;
    }
    return std::nullopt;
}

bool QSettingsUserDefaults::boolForKey(const QString& key) const {
    const auto value = text(key);
    if (!value) {
        return false;
    }
    if (value->compare(QLatin1String("true"), Qt::CaseInsensitive) == 0 ||
        value->compare(QLatin1String("yes"), Qt::CaseInsensitive) == 0) {
        return true;
    }
    const auto number = parseDouble(*value);
    return number && *number != 0;
}

double QSettingsUserDefaults::doubleForKey(const QString& key) const {
    const auto value = text(key);
    if (!value) {
        return 0;
    }
    if (*value == QLatin1String("true")) {
        return 1;
    }
    return parseDouble(*value).value_or(0);
}

std::optional<QString> QSettingsUserDefaults::stringForKey(const QString& key) const {
    return text(key);
}

std::optional<Instant> QSettingsUserDefaults::dateForKey(const QString& key) const {
    const auto value = text(key);
    if (!value) {
        return std::nullopt;
    }
    const QDateTime date = QDateTime::fromString(*value, Qt::ISODateWithMs);
    // Only what setDate writes counts as a date: UTC, marked with Z.
    if (!date.isValid() || !value->endsWith(u'Z')) {
        return std::nullopt;
    }
    return Instant(std::chrono::milliseconds(date.toMSecsSinceEpoch()));
}

void QSettingsUserDefaults::setBool(bool value, const QString& key) {
    write(key, textOf(value));
}

void QSettingsUserDefaults::setDouble(double value, const QString& key) {
    write(key, textOf(value));
}

void QSettingsUserDefaults::setString(const QString& value, const QString& key) {
    write(key, value);
}

void QSettingsUserDefaults::setDate(Instant value, const QString& key) {
    write(key, textOf(value));
}

void QSettingsUserDefaults::write(const QString& key, const QString& text) {
    // The file names the signed-in account: it is the user's alone, and so is its folder, also
    // one an older version made open to all.
    const QString file = settings_.fileName();
    const QString folder = QFileInfo(file).path();
    try {
        AtomicFile::makeDirectories(folder);
        QFile::setPermissions(folder, AtomicFile::ownerOnlyFolder);
    } catch (const FileOperationError&) {
        // QSettings meets the same problem and keeps the value in memory.
    }
    settings_.setValue(key, text);
    settings_.sync();
    QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}
