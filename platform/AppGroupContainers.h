// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <optional>

// Where the deliverables of one application group share files.
class AppGroupContainers {
public:
    virtual ~AppGroupContainers() = default;
    // The group's shared directory (it may not exist yet), or nothing when the platform gives
    // none.
    virtual std::optional<QString> containerDirectory(const QString& groupIdentifier) const = 0;
};
