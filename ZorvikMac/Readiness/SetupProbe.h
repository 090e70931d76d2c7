// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <optional>

#include "ZorvikMac/CodeIntake/CloudAccountState.h"
#include "ZorvikMac/CodeIntake/NotificationState.h"
#include "ZorvikMac/CodeIntake/SyncKeyState.h"
#include "platform/CloudBackendInfo.h"
#include "platform/Instant.h"

// The readiness snapshot behind the setup checklist. Absent optionals are "not yet known".
struct SetupProbe {
    CloudAccountState cloud;
    // Which cloud the account check asked, and what it added about the account.
    CloudBackendInfo cloudBackend;
    SyncKeyState syncKey;
    std::optional<bool> pushRegistered;
    std::optional<QString> pushError;
    std::optional<bool> subscriptionSaved;
    std::optional<QString> subscriptionError;
    std::optional<bool> autoFillEnabled;
    NotificationState notifications = NotificationState::checking;
    bool launchAtLogin = false;
    std::optional<QString> lastReceivedName;
    std::optional<Instant> lastReceivedAt;
    // Seconds this computer's clock is ahead of the phone's (negative: behind), when that is
    // more than the minute a code's journey may take.
    std::optional<double> clockOffset;

    bool operator==(const SetupProbe&) const = default;
};
