#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>

#include "Instant.h"

class Keychain;

// The phone's side of Zorvik on the command line: it holds the sync key in the keychain and
// seals codes the way the phone does. `run` never exits the process, so tests drive it whole.
class PhoneTool {
public:
    struct Io {
        std::function<QByteArray()> readStdin;
        std::function<void(const QByteArray&)> writeStdout;
        std::function<void(const QString&)> writeStderr;
        bool stdoutIsTerminal = false;
    };

    enum ExitCode { ok = 0, failed = 1, badInput = 2 };

    PhoneTool(Keychain& keychain, std::function<Instant()> now, Io io)
        : keychain_(keychain), now_(std::move(now)), io_(std::move(io)) {}

    // `arguments` without the program name.
    int run(const QStringList& arguments);

private:
    int key(const QStringList& arguments);
    int seal(const QStringList& arguments);
    int open(const QStringList& arguments);

    int fail(int code, const QString& message);

    Keychain& keychain_;
    std::function<Instant()> now_;
    Io io_;
};
