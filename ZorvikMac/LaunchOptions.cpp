// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZorvikMac/LaunchOptions.h"

#include <cstdio>

namespace {

// The forms after the first start with "or:", which is how help2man tells them apart.
const char* const kUsage =
    R"(Usage: ZorvikMac [--headless] [--log-to-stderr] [--embedded-cloud] [--sign-in | --sign-out]
  or:  ZorvikMac --pair [--log-to-stderr] [--embedded-cloud]
  or:  ZorvikMac --diagnostics

Receives one-time codes from your phone through your cloud database and publishes each one:
the tray item's title and popover, latest-code.json for the AutoFill helper, the clipboard
(marked concealed, cleared at expiry), a notification with a Copy button, and the credential
identities of the code's service. A copy started later takes over from one already running.

  --headless        run without a tray item or popover
  --log-to-stderr   also write every log line to stderr
  --embedded-cloud  take codes from the embedded cloud on this computer (zorvik-phone) even
                    when signed in to iCloud
  --sign-in         start signing in to iCloud at once: the sign-in page opens in the browser
                    (its address is also logged) and comes back to this computer
  --sign-out        forget the iCloud session first; codes come through the embedded cloud
  --pair            take the sync key from your iPhone: prints a code to scan in Zorvik on the
                    iPhone and waits (10 minutes at most, Ctrl+C ends it sooner) until the key
                    has come through the cloud and is stored in the keychain; exits 0 then, 1
                    otherwise. Needs no display and leaves a running copy alone, which uses the
                    new key from its next fetch on
  --diagnostics     print the diagnostics report of the copy running in this desktop session
                    (what the popover's "Copy diagnostics" copies) and exit 0. With no copy
                    running, say so on stderr, print what can be told without one (version,
                    system, cloud, keyring, notification server, tray, AutoFill helper,
                    latest-code.json) and exit 3. Neither ever holds a code or a key
  --version         print the version
  -h, --help        show this text

Codes come through iCloud on the web once you sign in (the checklist's iCloud row), and
through the embedded cloud otherwise.

For developers (users never need these):
  --cloud-url URL         the web service's base URL, like a local test double's
  --cloud-api-token TOK   the container's API token instead of the build's
  --sign-in-port PORT     the loopback port the sign-in page returns to

The toolkit's own options (-platform NAME, -display DISPLAY, …) are taken as well.

Log lines go to the journal (and to stderr when it is a terminal, with --headless or with
--log-to-stderr).
Without a display, --headless still runs; the clipboard is then the process's own.
)";

const QStringList& flags() {
    static const QStringList names{
        QStringLiteral("--headless"),       QStringLiteral("--log-to-stderr"),
        QStringLiteral("--embedded-cloud"), QStringLiteral("--sign-in"),
        QStringLiteral("--sign-out"),       QStringLiteral("--pair")};
    return names;
}

const QStringList& valueOptions() {
    static const QStringList names{QStringLiteral("--cloud-url"),
                                   QStringLiteral("--cloud-api-token"),
                                   QStringLiteral("--sign-in-port")};
    return names;
}

// Takes the options with a value out of `arguments`; false (after saying why) when one has no
// value or a bad one.
bool takeValueOptions(QStringList& arguments, LaunchOptions& line) {
    for (qsizetype index = 0; index < arguments.size();) {
        const QString name = arguments[index];
        if (!valueOptions().contains(name)) {
            ++index;
            continue;
        }
        if (index + 1 >= arguments.size()) {
            std::fprintf(stderr, "ZorvikMac: %s needs a value\n", name.toLocal8Bit().constData());
            return false;
        }
        const QString value = arguments[index + 1];
        arguments.remove(index, 2);
        if (name == u"--cloud-url") {
            const QUrl url(value, QUrl::StrictMode);
            if (!CloudWebConfiguration::isServiceURL(url)) {
                std::fputs("ZorvikMac: --cloud-url needs an http or https URL\n", stderr);
                return false;
            }
            line.cloudURL = value;
        } else if (name == u"--cloud-api-token") {
            line.cloudAPIToken = value;
        } else {
            bool isNumber = false;
            const uint port = value.toUInt(&isNumber);
            if (!isNumber || port > 65535) {
                std::fputs("ZorvikMac: --sign-in-port needs a port number\n", stderr);
                return false;
            }
            line.signInPort = quint16(port);
        }
    }
    return true;
}

}  // namespace

const char* LaunchOptions::usage() {
    return kUsage;
}

std::variant<LaunchOptions, int> LaunchOptions::read(QStringList arguments) {
    LaunchOptions line;
    if (!takeValueOptions(arguments, line)) {
        return 2;
    }
    line.headless = arguments.contains(flags()[0]);
    line.logToStderr = arguments.contains(flags()[1]);
    line.embeddedOnly = arguments.contains(flags()[2]);
    line.signIn = arguments.contains(flags()[3]);
    line.signOut = arguments.contains(flags()[4]);
    line.pair = arguments.contains(flags()[5]);
    if (line.signIn && (line.signOut || line.embeddedOnly)) {
        std::fputs("ZorvikMac: --sign-in goes with neither --sign-out nor --embedded-cloud\n",
                   stderr);
        return 2;
    }
    if (line.pair && (line.signIn || line.signOut)) {
        std::fputs("ZorvikMac: --pair goes with neither --sign-in nor --sign-out\n", stderr);
        return 2;
    }
    return line;
}

std::optional<int> LaunchOptions::refuseUnknown(int argc, char** argv) {
    for (int index = 1; index < argc; ++index) {
        const QString argument = QString::fromLocal8Bit(argv[index]);
        if (valueOptions().contains(argument)) {
            ++index;  // its value was checked by read()
            continue;
        }
        if (!flags().contains(argument)) {
            std::fprintf(stderr, "ZorvikMac: unknown argument %s\n\n",
                         argument.toLocal8Bit().constData());
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    return std::nullopt;
}

CloudWebConfiguration LaunchOptions::webConfiguration() const {
    CloudWebConfiguration configuration = CloudWebConfiguration::fromBuild();
    if (cloudURL) {
        configuration.baseURL = QUrl(*cloudURL);
        configuration.allowsPlainHttp = true;
    }
    if (cloudAPIToken) {
        configuration.apiToken = *cloudAPIToken;
    }
    if (signInPort) {
        configuration.signInPort = *signInPort;
    }
    return configuration;
}
