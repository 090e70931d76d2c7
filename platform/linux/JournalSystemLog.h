// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <functional>

#include "platform/SystemLog.h"

// The system log on journald, with the subsystem and category as their own fields. Lines also
// go to stderr when asked (a terminal, or a headless run); the shell's own lines ("Zorvik: …",
// category "shell") always do, as a program's messages to whoever started it. Where no journal
// takes them (no systemd, a container), every line goes to stderr rather than nowhere.
class JournalSystemLog final : public SystemLog {
public:
    // One line as the journal gets it; false when no journal took it.
    struct Entry {
        LogLevel level;
        QByteArray identifier;
        QByteArray subsystem;
        QByteArray category;
        QByteArray message;
    };
    using Journal = std::function<bool(const Entry&)>;

    JournalSystemLog(QString identifier, bool alsoToStderr, Journal journal = sendToJournal);

    // Where journald listens; libsystemd sends there and nowhere else.
    static constexpr auto journalSocket = "/run/systemd/journal/socket";

    // The system's journal through its socket; false when it is not there or refuses the line.
    static bool sendToJournal(const Entry& entry);
    // Whether journald's socket is there.
    static bool journalIsThere();

    // Whether stderr is a terminal, the usual reason to echo lines there.
    static bool stderrIsTerminal();

    void write(LogLevel level, const QString& subsystem, const QString& category,
               const QString& message) override;

private:
    QByteArray identifier_;
    bool alsoToStderr_;
    Journal journal_;
};

// The category whose lines always reach stderr.
constexpr auto shellLogCategory = "shell";
