// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/JournalSystemLog.h"

#include <sys/stat.h>
#include <syslog.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <cstdio>

namespace {

const char* levelName(LogLevel level) {
    switch (level) {
        case LogLevel::debug:
            return "debug";
        case LogLevel::info:
            return "info";
        case LogLevel::warning:
            return "warning";
        case LogLevel::error:
            return "error";
    }
    return "info";
}

}  // namespace

JournalSystemLog::JournalSystemLog(QString identifier, bool alsoToStderr, Journal journal)
    : identifier_(identifier.toUtf8()), alsoToStderr_(alsoToStderr), journal_(std::move(journal)) {}

bool JournalSystemLog::journalIsThere() {
    struct stat status {};
    return ::stat(journalSocket, &status) == 0 && S_ISSOCK(status.st_mode);
}

bool JournalSystemLog::sendToJournal(const Entry& entry) {
    // sd_journal_send reports success when the journal's socket does not exist at all (no
    // systemd, a container, WSL), so that case is told apart first.
    if (!journalIsThere()) {
        return false;
    }
    const int priority = entry.level == LogLevel::error     ? LOG_ERR
                         : entry.level == LogLevel::warning ? LOG_WARNING
                         : entry.level == LogLevel::debug   ? LOG_DEBUG
                                                            : LOG_INFO;
    return sd_journal_send("MESSAGE=%s", entry.message.constData(), "PRIORITY=%i", priority,
                           "SYSLOG_IDENTIFIER=%s", entry.identifier.constData(),
                           "ZORVIK_SUBSYSTEM=%s", entry.subsystem.constData(), "ZORVIK_CATEGORY=%s",
                           entry.category.constData(), nullptr) >= 0;
}

bool JournalSystemLog::stderrIsTerminal() {
    return isatty(STDERR_FILENO) == 1;
}

void JournalSystemLog::write(LogLevel level, const QString& subsystem, const QString& category,
                             const QString& message) {
    const Entry entry{level, identifier_, subsystem.toUtf8(), category.toUtf8(), message.toUtf8()};
    const bool journaled = journal_(entry);
    if (!journaled || alsoToStderr_ || category == QLatin1String(shellLogCategory)) {
        std::fprintf(stderr, "%s [%s] %s:%s %s\n", identifier_.constData(), levelName(level),
                     entry.subsystem.constData(), entry.category.constData(),
                     entry.message.constData());
    }
}
