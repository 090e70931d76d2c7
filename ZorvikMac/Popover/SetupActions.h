#pragma once

#include "SetupRow.h"

class AutoFillSettings;
class CloudAccountSignIn;
class Logger;
class MacSettings;
class Workspace;

// Carries out the action behind a checklist row's button: opens the matching settings, where a
// settings pane cannot be opened the settings application itself, or flips the login item. The
// outcome is only logged; nothing is reported to the user. `cloudSignIn` is absent where the
// desktop has its own cloud account.
void performSetupAction(SetupRow::Action action, MacSettings& settings, Workspace& workspace,
                        AutoFillSettings& autoFillSettings, CloudAccountSignIn* cloudSignIn,
                        const Logger& logger);
