#include "KernelBundleInfo.h"

#include <sys/utsname.h>

#include <QRegularExpression>

QString systemVersionFromKernelRelease(const QString& release) {
    static const QRegularExpression leadingVersion(QStringLiteral(R"(^(\d+)\.(\d+)(?:\.(\d+))?)"));
    const auto match = leadingVersion.match(release);
    if (!match.hasMatch()) {
        return QStringLiteral("?");
    }
    const QString patch = match.captured(3).isEmpty() ? QStringLiteral("0") : match.captured(3);
    return match.captured(1) + u'.' + match.captured(2) + u'.' + patch;
}

BundleInfo kernelBundleInfo(const QString& version, const QString& build) {
    utsname names{};
    const QString release = uname(&names) == 0 ? QString::fromLatin1(names.release) : QString();
    return BundleInfo{version, build, systemVersionFromKernelRelease(release),
                      QString::fromLatin1(BundleInfo::applicationIdentifier)};
}
