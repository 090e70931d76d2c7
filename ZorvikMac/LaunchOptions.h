// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <variant>

#include "platform/linux/cloud/CloudWebConfiguration.h"

// What ZorvikMac is asked to do, read from its arguments before the toolkit starts, so that a
// refusal works anywhere. --help, --version and --diagnostics are answered before this is read.
struct LaunchOptions {
    bool headless = false;
    bool logToStderr = false;
    bool embeddedOnly = false;
    bool signIn = false;
    bool signOut = false;
    bool pair = false;
    // The developer's options that take a value.
    std::optional<QString> cloudURL;
    std::optional<QString> cloudAPIToken;
    std::optional<quint16> signInPort;

    // The text of --help.
    static const char* usage();
    // Reads the arguments (without the program's name): the command line, or the exit status
    // after saying on stderr why they are refused.
    static std::variant<LaunchOptions, int> read(QStringList arguments);
    // Checks what the toolkit left of argv once it took its own options (-platform, -display,
    // …): anything but ours is refused with the usage, and 2 is the exit status.
    static std::optional<int> refuseUnknown(int argc, char** argv);

    // The web service's address, token and sign-in port: the build's, or the developer's.
    CloudWebConfiguration webConfiguration() const;
};
