#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

#include "CommandLine.h"
#include "Instant.h"
#include "WebCloudWriter.h"

class CommandLine;
struct CloudRecord;
class Keychain;
struct PendingCode;

// The phone's side of Zorvik on the command line: it holds the sync key in the keychain, seals
// codes the way the phone does and writes them into the embedded cloud's private database, where
// the desktop finds them, and answers the desktop's pairing code with the sync key. `run` never
// exits the process, so tests drive it whole.
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
    int key(const QStringList& arguments);
    int seal(const QStringList& arguments);
    int open(const QStringList& arguments);
    int send(const QStringList& arguments);
    int clear(const QStringList& arguments);
    int account(const QStringList& arguments);
    int show(const QStringList& arguments);
    int pair(const QStringList& arguments);

    // The code the seal options describe; an exit code (after saying why) when they do not fit.
    int readPendingCode(const QString& command, const CommandLine& line, PendingCode& pending);
    // The cloud directory of --cloud-dir or the default; nothing (after saying why) when empty.
    std::optional<QString> cloudDirectory(const CommandLine& line);
    // The web service of --cloud-url, if given; `problem` is an exit code (after saying why)
    // when the options do not fit.
    std::optional<WebCloudWriter> webCloud(const CommandLine& line, int& problem);
    // Where a command's record goes: the web service of --cloud-url, else the cloud directory
    // (`where` names either for the user).
    struct RecordDestination {
        std::optional<WebCloudWriter> web;
        QString where;
    };
    // Nothing, with `problem` the exit code (after saying why), when the options do not fit.
    std::optional<RecordDestination> recordDestination(const CommandLine& line, int& problem);
    // Saves `record` there; ok, or the exit code after saying why not.
    int saveRecord(RecordDestination& destination, const CloudRecord& record);

    int fail(int code, const QString& message);
    // The options of a subcommand that takes no other arguments; reports bad input itself.
    std::optional<CommandLine> parseOptions(const QStringList& arguments,
                                            const QSet<QString>& valueOptions,
                                            const QSet<QString>& flags);

    Keychain& keychain_;
    std::function<Instant()> now_;
    Io io_;
};
