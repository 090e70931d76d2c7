#pragma once

#include <QString>
#include <optional>

#include "Instant.h"

// The snapshot behind the diagnostics report.
struct DiagnosticsInfo {
    QString appVersion = QStringLiteral("?");
    QString build = QStringLiteral("?");
    // Major, minor and patch of the running system, like 6.1.0.
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
