#include "JournalSystemLog.h"

#include <syslog.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <cstdio>

JournalSystemLog::JournalSystemLog(QString identifier, bool alsoToStderr)
    : identifier_(identifier.toUtf8()), alsoToStderr_(alsoToStderr) {}

bool JournalSystemLog::stderrIsTerminal() {
    return isatty(STDERR_FILENO) == 1;
}

void JournalSystemLog::write(LogLevel level, const QString& subsystem, const QString& category,
                             const QString& message) {
    const QByteArray text = message.toUtf8();
    const QByteArray subsystemText = subsystem.toUtf8();
    const QByteArray categoryText = category.toUtf8();
    const int priority = level == LogLevel::error ? LOG_ERR : LOG_INFO;
    sd_journal_send("MESSAGE=%s", text.constData(), "PRIORITY=%i", priority, "SYSLOG_IDENTIFIER=%s",
                    identifier_.constData(), "ZORVIK_SUBSYSTEM=%s", subsystemText.constData(),
                    "ZORVIK_CATEGORY=%s", categoryText.constData(), nullptr);
    if (alsoToStderr_ || category == QLatin1String(shellLogCategory)) {
        std::fprintf(stderr, "%s [%s] %s:%s %s\n", identifier_.constData(),
                     level == LogLevel::error ? "error" : "info", subsystemText.constData(),
                     categoryText.constData(), text.constData());
    }
}
