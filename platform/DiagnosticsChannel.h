// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <functional>
#include <optional>

// The running copy's diagnostics report, offered to other processes of the same user (as
// `ZorvikMac --diagnostics`) and asked for by one. The report holds neither a code nor a key.
class DiagnosticsChannel {
public:
    virtual ~DiagnosticsChannel() = default;
    // From now on every request is answered with `report()` as of that moment. A copy that
    // offers later takes the channel over from one that offered before.
    virtual void offer(std::function<QString()> report) = 0;
    // The report of the copy that offers it; absent when none answers within `timeout` seconds.
    virtual std::optional<QString> askRunningCopy(double timeout) = 0;
};
