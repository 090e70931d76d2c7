// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ZorvikMac/Popover/PopoverEnvironment.h"
#include "ZorvikMac/Readiness/SetupRow.h"

class Logger;
class MacSettings;

// Carries out the action behind a checklist row's button: opens the matching settings, where a
// settings pane cannot be opened the settings application itself, or flips the login item. The
// outcome is only logged; nothing is reported to the user. Signing in and pairing use the
// environment's services where the desktop has them, else the settings. `account` is the
// account the row showed, which a confirmation names.
void performSetupAction(SetupRow::Action action, MacSettings& settings,
                        const PopoverEnvironment& environment, const Logger& logger,
                        const std::optional<QString>& account = std::nullopt);
