// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QTemporaryDir>

#include "platform/AppGroupContainers.h"

// Group containers inside a temporary directory that disappears with the object.
class TemporaryAppGroupContainers final : public AppGroupContainers {
public:
    std::optional<QString> containerDirectory(const QString& groupIdentifier) const override {
        if (unavailable) {
            return std::nullopt;
        }
        return directory.filePath(QStringLiteral("app/") + groupIdentifier);
    }
    QTemporaryDir directory;
    // As on a system that gives the application no group container.
    bool unavailable = false;
};
