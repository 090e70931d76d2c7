// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <optional>

#include "platform/Instant.h"

// The snapshot behind the diagnostics report.
struct DiagnosticsInfo {
    QString appVersion = QStringLiteral("?");
    QString build = QStringLiteral("?");
    // The running system, like "Debian GNU/Linux 12 (bookworm), Linux 6.1.0-27-amd64" (the
    // name is the report's, which named the system's version alone on the Mac).
    QString macOSVersion = QStringLiteral("?");
    std::optional<Instant> checkedAt;
    std::optional<Instant> lastPushAt;
    std::optional<Instant> lastFetchAt;
    std::optional<QString> lastFetchResult;
    std::optional<QString> lastError;
    // The popover's last layout decision.
    std::optional<QString> layout;
    // Seconds between background fetches.
    double pollInterval = 5;

    bool operator==(const DiagnosticsInfo&) const = default;
};
