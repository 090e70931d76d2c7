// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>

#include "platform/Instant.h"

class Keychain;

// The phone's side of Zorvik on the command line: it holds the sync key in the keychain, seals
// codes the way the phone does and writes them into the embedded cloud's private database, where
// the desktop finds them, and answers the desktop's pairing code with the sync key. `run` never
// exits the process, so tests drive it whole. The commands themselves are the rows of
// PhoneCommands.h.
class PhoneTool {
public:
    struct Io {
        std::function<QByteArray()> readStdin;
        std::function<void(const QByteArray&)> writeStdout;
        std::function<void(const QString&)> writeStderr;
        bool stdoutIsTerminal = false;
        // The cloud directory for commands given no --cloud-dir; empty: LocalCloud's standard one.
        QString cloudDirectory;
    };

    enum ExitCode { ok = 0, failed = 1, badInput = 2 };

    PhoneTool(Keychain& keychain, std::function<Instant()> now, Io io)
        : keychain_(keychain), now_(std::move(now)), io_(std::move(io)) {}

    // `arguments` without the program name.
    int run(const QStringList& arguments);

private:
    Keychain& keychain_;
    std::function<Instant()> now_;
    Io io_;
};
