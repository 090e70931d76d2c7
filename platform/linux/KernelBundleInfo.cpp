// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/KernelBundleInfo.h"

#include <sys/utsname.h>

#include <QFile>
#include <QStringList>

namespace {

QString distributionName(const QString& osRelease) {
    const QStringList lines = osRelease.split(QLatin1Char('\n'));
    for (const QString& key : {QStringLiteral("PRETTY_NAME="), QStringLiteral("NAME=")}) {
        for (const QString& line : lines) {
            if (!line.startsWith(key)) {
                continue;
            }
            QString value = line.mid(key.size()).trimmed();
            if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
                value.back() == value.front()) {
                value = value.mid(1, value.size() - 2);
            }
            if (!value.isEmpty()) {
                return value;
            }
        }
    }
    return QStringLiteral("Linux distribution unknown");
}

}  // namespace

QString systemDescription(const QString& osRelease, const QString& kernelRelease) {
    return distributionName(osRelease) + QStringLiteral(", Linux ") +
           (kernelRelease.isEmpty() ? QStringLiteral("?") : kernelRelease);
}

BundleInfo kernelBundleInfo(const QString& version, const QString& build,
                            const QStringList& osReleaseFiles) {
    utsname names{};
    const QString release = uname(&names) == 0 ? QString::fromLatin1(names.release) : QString();
    QString osRelease;
    for (const QString& path : osReleaseFiles) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly)) {
            osRelease = QString::fromUtf8(file.read(64 * 1024));
            break;
        }
    }
    return BundleInfo{version, build, systemDescription(osRelease, release),
                      QString::fromLatin1(BundleInfo::applicationIdentifier)};
}
