#pragma once

#include <QString>

enum class LogLevel { info, error };

// The system log: each line carries the subsystem and category of its writer. Lines are plain
// rendered text; nothing secret may ever be passed in.
class SystemLog {
public:
    virtual ~SystemLog() = default;
    virtual void write(LogLevel level, const QString& subsystem, const QString& category,
                       const QString& message) = 0;
};
