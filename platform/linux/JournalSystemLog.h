#pragma once

#include "SystemLog.h"

// The system log on journald, with the subsystem and category as their own fields. Lines also
// go to stderr when asked (a terminal, or a headless run); the shell's own lines ("Zorvik: …",
// category "shell") always do, as a program's messages to whoever started it.
class JournalSystemLog final : public SystemLog {
public:
    JournalSystemLog(QString identifier, bool alsoToStderr);

    // Whether stderr is a terminal, the usual reason to echo lines there.
    static bool stderrIsTerminal();

    void write(LogLevel level, const QString& subsystem, const QString& category,
               const QString& message) override;

private:
    QByteArray identifier_;
    bool alsoToStderr_;
};

// The category whose lines always reach stderr.
constexpr auto shellLogCategory = "shell";
