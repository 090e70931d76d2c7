// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/AppGroupContainers.h"

// Application-group containers under $XDG_RUNTIME_DIR/app/: a per-user tmpfs that only the
// user can enter, gone at logout. Without a usable XDG_RUNTIME_DIR there is no container.
class XdgAppGroupContainers final : public AppGroupContainers {
public:
    std::optional<QString> containerDirectory(const QString& groupIdentifier) const override;
};
