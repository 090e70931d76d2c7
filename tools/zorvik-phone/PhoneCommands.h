// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>
#include <span>

class PhoneCommandContext;

// A row of the tool's command list: the dispatcher runs the first row whose name is the
// command, and the usage lists every row, so a command with several forms (key) has a row for
// each form.
struct PhoneCommand {
    const char* name;
    // What follows the name in the usage, such as "URI"; empty for a command without arguments.
    const char* form;
    const char* help;
    int (*run)(PhoneCommandContext& context, const QStringList& arguments);
};

namespace PhoneCommands {

std::span<const PhoneCommand> all();

// Each takes the words after the command's name and lives in commands/, in a file of its name.
int key(PhoneCommandContext& context, const QStringList& arguments);
int seal(PhoneCommandContext& context, const QStringList& arguments);
int open(PhoneCommandContext& context, const QStringList& arguments);
int send(PhoneCommandContext& context, const QStringList& arguments);
int clear(PhoneCommandContext& context, const QStringList& arguments);
int account(PhoneCommandContext& context, const QStringList& arguments);
int show(PhoneCommandContext& context, const QStringList& arguments);
int pair(PhoneCommandContext& context, const QStringList& arguments);

}  // namespace PhoneCommands
