// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QTimeZone>

#include "ZorvikMac/Readiness/DiagnosticsInfo.h"
#include "ZorvikMac/Readiness/SetupProbe.h"
#include "platform/Instant.h"

// The plain-text report "Copy diagnostics" puts on the clipboard for a support message: the
// versions, the checklist and the receiver's last events, one fact per line, joined by line
// feeds with none after the last. `now` and `timeZone` go to the checklist rows.
QString diagnosticsText(const SetupProbe& probe, const DiagnosticsInfo& info, Instant now,
                        const QTimeZone& timeZone);
