// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QSet>
#include <QString>

class CommandLine;
class PhoneCommandContext;
struct PendingCode;

// seal and send describe the code to seal with the same options and read them alike.
namespace PendingCodeOptions {

// The value options that describe the code, with --key-file for the key that seals it.
QSet<QString> names();

// The code `line` describes, for the command named `command`; an exit code (after saying why)
// when the options do not fit.
int read(PhoneCommandContext& context, const QString& command, const CommandLine& line,
         PendingCode& pending);

}  // namespace PendingCodeOptions
