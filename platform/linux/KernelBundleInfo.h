// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

#include "platform/BundleInfo.h"

// The bundle information on Linux: the version and build compiled in, and as the system the
// distribution that os-release names and the kernel's release.
BundleInfo kernelBundleInfo(const QString& version, const QString& build,
                            const QStringList& osReleaseFiles = {
                                QStringLiteral("/etc/os-release"),
                                QStringLiteral("/usr/lib/os-release")});

// "Debian GNU/Linux 12 (bookworm), Linux 6.1.0-27-amd64" from an os-release text (its
// PRETTY_NAME, else its NAME, else "Linux distribution unknown") and a kernel release.
QString systemDescription(const QString& osRelease, const QString& kernelRelease);
