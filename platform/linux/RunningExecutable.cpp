// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/RunningExecutable.h"

#include <QFileInfo>

QString runningExecutable() {
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
}
