// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Debug is for routine lines (each fetch, each check), kept out of what `journalctl -p info`
// shows; info for events and changes of state; warning for something missing on the desktop
// that the user can put right; error for failures.
enum class LogLevel { debug, info, warning, error };

// The system log: each line carries the subsystem and category of its writer. Lines are plain
// rendered text; nothing secret may ever be passed in.
class SystemLog {
public:
    virtual ~SystemLog() = default;
    virtual void write(LogLevel level, const QString& subsystem, const QString& category,
                       const QString& message) = 0;
};
