// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/zorvik-phone/PhoneTool.h"

#include "tools/zorvik-phone/PhoneCommands.h"
#include "tools/zorvik-phone/PhoneToolSupport.h"

namespace {

const char* const kUsageHead = R"(Usage: zorvik-phone COMMAND [OPTIONS]

Plays the companion phone: holds the sync key and seals one-time codes for the desktop.

Commands:
)";

const char* const kUsageTail = R"(
Options:
  --version                print the version
  -h, --help               show this text

Run 'zorvik-phone COMMAND --help' for the options of a command. The cloud is the embedded
one, a directory (default: $XDG_DATA_HOME/net.brontal.zorvik/cloud/iCloud.net.brontal.zorvik).
Exit status: 0 done, 1 the operation failed, 2 bad input.
)";

// Wide enough for the longest form, so that the help texts start in one column.
constexpr qsizetype kFormWidth = 25;

// Made from the command table, so that a new command shows up in it by being added there.
QByteArray usage() {
    QByteArray text = kUsageHead;
    for (const PhoneCommand& command : PhoneCommands::all()) {
        QByteArray form = command.name;
        if (*command.form != '\0') {
            form += ' ';
            form += command.form;
        }
        text += "  " + form.leftJustified(kFormWidth) + command.help + '\n';
    }
    return text + kUsageTail;
}

}  // namespace

int PhoneTool::run(const QStringList& arguments) {
    if (arguments.isEmpty()) {
        io_.writeStderr(QString::fromUtf8(usage()));
        return badInput;
    }
    const QString command = arguments.first();
    if (command == u"--help" || command == u"-h" || command == u"help") {
        io_.writeStdout(usage());
        return ok;
    }
    if (command == u"--version") {
        io_.writeStdout("zorvik-phone " ZORVIK_VERSION "\n");
        return ok;
    }
    PhoneCommandContext context(keychain_, now_, io_);
    for (const PhoneCommand& known : PhoneCommands::all()) {
        if (command == QLatin1String(known.name)) {
            return known.run(context, arguments.mid(1));
        }
    }
    return context.fail(badInput, QStringLiteral("unknown command '%1' (see --help)").arg(command));
}
