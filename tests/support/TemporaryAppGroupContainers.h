#pragma once

#include <QTemporaryDir>

#include "AppGroupContainers.h"

// Group containers inside a temporary directory that disappears with the object.
class TemporaryAppGroupContainers final : public AppGroupContainers {
public:
    std::optional<QString> containerDirectory(const QString& groupIdentifier) const override {
        return directory.filePath(QStringLiteral("app/") + groupIdentifier);
    }
    QTemporaryDir directory;
};
