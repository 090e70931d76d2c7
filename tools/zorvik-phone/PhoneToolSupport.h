// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

#include "ZorvikMac/CodeIntake/SymmetricKey.h"
#include "platform/CloudContainer.h"
#include "platform/Instant.h"
#include "tools/zorvik-phone/CommandLine.h"
#include "tools/zorvik-phone/PhoneTool.h"
#include "tools/zorvik-phone/WebCloudWriter.h"

class Keychain;
struct CloudRecord;

// The record the desktop watches for codes: send writes it, clear deletes it, show prints it.
inline const QString kPendingCodeRecordName = QStringLiteral("pending-code");
inline const QString kPendingCodeRecordType = QStringLiteral("PendingCode");

// The account statuses by the words account takes and show prints.
struct AccountStatusName {
    const char* name;
    int status;
};
inline constexpr AccountStatusName kAccountStatusNames[] = {
    {"unknown", CloudContainer::couldNotDetermine},
    {"available", CloudContainer::available},
    {"restricted", CloudContainer::restricted},
    {"no-account", CloudContainer::noAccount},
    {"temporarily-unavailable", CloudContainer::temporarilyUnavailable},
};

// "1 (available)" for a status with a name, the bare number for any other.
QString accountStatusText(int status);

// The key from --key-file, or from the keychain the way the desktop reads it. Without a usable
// key, the exit code and the problem to report.
struct KeySource {
    std::optional<SymmetricKey> key;
    int exitCode = 0;
    QString problem;
};

// Where a command's record goes: the web service of --cloud-url, else the cloud directory
// (`where` names either for the user).
struct RecordDestination {
    std::optional<WebCloudWriter> web;
    QString where;
};

// What every command works with in one run of the tool: the keychain, the clock and the
// streams, and the checks and reports the commands share, so that they all word them alike.
// Whatever fails says why on stderr itself, so a command only passes the exit code on.
class PhoneCommandContext {
public:
    PhoneCommandContext(Keychain& keychain, const std::function<Instant()>& now,
                        const PhoneTool::Io& io)
        : keychain_(keychain), now_(now), io_(io) {}

    Keychain& keychain() const { return keychain_; }
    Instant now() const { return now_(); }
    const PhoneTool::Io& io() const { return io_; }

    // Writes `usage` to stdout when the arguments ask for help, which then is all there is to do.
    bool answeredHelp(const QStringList& arguments, const char* usage) const;
    // Says `message` on stderr and answers `code`.
    int fail(int code, const QString& message) const;
    // The options of a command that takes no other arguments; reports bad input itself.
    std::optional<CommandLine> parseOptions(const QStringList& arguments,
                                            const QSet<QString>& valueOptions,
                                            const QSet<QString>& flags) const;

    KeySource readKey(const std::optional<QString>& keyFile) const;

    // The cloud directory of --cloud-dir or the default; nothing (after saying why) when empty.
    std::optional<QString> cloudDirectory(const CommandLine& line) const;
    // The web service of --cloud-url, if given; `problem` is an exit code (after saying why)
    // when the options do not fit.
    std::optional<WebCloudWriter> webCloud(const CommandLine& line, int& problem) const;
    // Nothing, with `problem` the exit code (after saying why), when the options do not fit.
    std::optional<RecordDestination> recordDestination(const CommandLine& line, int& problem) const;
    // Saves `record` there; ok, or the exit code after saying why not.
    int saveRecord(RecordDestination& destination, const CloudRecord& record) const;

private:
    Keychain& keychain_;
    const std::function<Instant()>& now_;
    const PhoneTool::Io& io_;
};
