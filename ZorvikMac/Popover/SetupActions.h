#pragma once

#include "SetupRow.h"

class AutoFillSettings;
class Logger;
class MacSettings;
class Workspace;

// Carries out the action behind a checklist row's button: opens the matching settings, where a
// settings pane cannot be opened the settings application itself, or flips the login item. The
// outcome is only logged; nothing is reported to the user.
void performSetupAction(SetupRow::Action action, MacSettings& settings, Workspace& workspace,
                        AutoFillSettings& autoFillSettings, const Logger& logger);
