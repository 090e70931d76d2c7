// SPDX-License-Identifier: GPL-3.0-or-later
// ZorvikMacAutoFill: the browser's native-messaging host for one-time codes, and its installer.
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <chrono>
#include <cstdio>
#include <memory>

#include "ZorvikMacAutoFill/Host/AutoFillHost.h"
#include "ZorvikMacAutoFill/Host/HeldCodeIdentities.h"
#include "ZorvikMacAutoFill/Host/PanelModuleLoader.h"
#include "platform/linux/RunningExecutable.h"
#include "platform/linux/SchedulerSlice.h"
#include "platform/linux/XdgAppGroupContainers.h"
#include "platform/linux/browser/ConnectedBrowsers.h"
#include "platform/linux/browser/NativeMessagingHostInstaller.h"
#include "platform/linux/browser/NativeMessagingHosts.h"
#include "platform/linux/browser/StdioChannel.h"
#include "shared/CredentialIdentitiesFile.h"
#include "shared/LatestCodeStore.h"

namespace {

// The forms after the first start with "or:", which is how help2man tells them apart.
const char* const kUsage = R"(Usage: ZorvikMacAutoFill --install | --uninstall
  or:  ZorvikMacAutoFill chrome-extension://ID/
  or:  ZorvikMacAutoFill MANIFEST-PATH ADD-ON-ID

Fills one-time codes from your phone into web pages, through the Zorvik AutoFill browser
extension. The browser starts this program for the extension (a Chromium-family browser names
the extension's origin, Firefox the path of the host's manifest and the add-on's id); people run
it only to register it.

  --install     register with every installed browser (Chromium, Google Chrome, Brave, Microsoft
                Edge, Vivaldi, Firefox) and print where the extension to load is
  --uninstall   remove the registration from every browser
  --version     print the version
  -h, --help    show this text
)";

Instant wallClock() {
    return std::chrono::time_point_cast<std::chrono::microseconds>(
        std::chrono::system_clock::now());
}

QString extensionDirectory() {
    const QString installed = QDir(QCoreApplication::applicationDirPath())
                                  .filePath(QStringLiteral("../share/zorvik/browser-extension"));
    if (QFileInfo(installed).isDir()) {
        return QDir::cleanPath(installed);
    }
    return QStringLiteral(ZORVIK_EXTENSION_SOURCE_DIR);
}

int installOrUninstall(int argc, char** argv, bool install) {
    QCoreApplication application(argc, argv);
    const auto browsers = NativeMessagingHosts::perUserDirectories();
    const auto outcomes = install ? NativeMessagingHostInstaller::install(
                                        QCoreApplication::applicationFilePath(), browsers)
                                  : NativeMessagingHostInstaller::uninstall(browsers);
    int failures = 0;
    for (const auto& outcome : outcomes) {
        if (outcome.error.isEmpty()) {
            std::printf("%s: %s %s\n", qPrintable(outcome.browser), install ? "wrote" : "removed",
                        qPrintable(outcome.manifestPath));
        } else {
            ++failures;
            std::fprintf(stderr, "%s: %s\n", qPrintable(outcome.browser),
                         qPrintable(outcome.error));
        }
    }
    if (!install) {
        if (outcomes.isEmpty()) {
            std::printf("No browser had Zorvik AutoFill registered.\n");
        }
        return failures == 0 ? 0 : 1;
    }
    if (outcomes.isEmpty()) {
        std::fprintf(stderr,
                     "No supported browser was found for this user; start one once, then run "
                     "ZorvikMacAutoFill --install again.\n");
        return 1;
    }
    std::printf(
        "\nNow load the extension in your browser: %s\n"
        "  Chromium family: open chrome://extensions, turn on Developer mode, choose "
        "\"Load unpacked\" and pick that folder.\n"
        "  Firefox: open about:debugging#/runtime/this-firefox, choose \"Load Temporary "
        "Add-on\" and pick manifest.json in that folder.\n",
        qPrintable(extensionDirectory()));
    return failures == 0 ? 0 : 1;
}

// Which of our extensions started the host, from the arguments the browser passes.
std::optional<ConnectedBrowsers::Family> startingExtension(int argc, char** argv) {
    if (argc >= 2 && QByteArray(argv[1]) == NativeMessagingHosts::chromiumExtensionOrigin) {
        return ConnectedBrowsers::Family::chromium;
    }
    if (argc == 3 && QByteArray(argv[2]) == NativeMessagingHosts::firefoxExtensionID) {
        return ConnectedBrowsers::Family::firefox;
    }
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
    const QByteArray first = argc >= 2 ? QByteArray(argv[1]) : QByteArray();
    if (first == "-h" || first == "--help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (first == "--version") {
        std::printf("ZorvikMacAutoFill %s\n", ZORVIK_VERSION);
        return 0;
    }
    if (first == "--install" || first == "--uninstall") {
        return installOrUninstall(argc, argv, first == "--install");
    }
    // The browser waits for the answer, also on a busy computer.
    SchedulerSlice::request();
    const std::optional<ConnectedBrowsers::Family> family = startingExtension(argc, argv);
    if (!family) {
        std::fprintf(stderr,
                     "ZorvikMacAutoFill: only the Zorvik AutoFill extension may start this host "
                     "(see --help)\n");
        return 2;
    }

    // The group container, checked once: the store is in it, and the identities beside it.
    const std::optional<LatestCodeStore> store = LatestCodeStore::make(XdgAppGroupContainers());
    std::optional<QString> container;
    std::optional<QString> identitiesPath;
    if (store) {
        container = QFileInfo(store->url()).path();
        identitiesPath =
            QDir(*container).filePath(QString::fromLatin1(CredentialIdentitiesFile::fileName));
    }

    // The panel needs the graphical interface, from a module of its own; answering without it
    // must not load it. Without the module the panel cannot be shown, as without a display,
    // which standard error (the browser's log) hears once.
    std::unique_ptr<AutoFillInterface> interface;
    bool interfaceUnavailable = false;
    auto startInterface = [&]() -> AutoFillInterface* {
        if (!interface && !interfaceUnavailable) {
            if (qEnvironmentVariableIsEmpty("DISPLAY") &&
                qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
                return nullptr;
            }
            const PanelModuleLoader::Result module =
                PanelModuleLoader::load(PanelModuleLoader::candidates(
                    runningExecutable(), QStringLiteral(ZORVIK_PANEL_MODULE_DIRECTORY)));
            if (module.entry) {
                interface.reset(module.entry(argc, argv));
            }
            if (!interface) {
                interfaceUnavailable = true;
                std::fprintf(
                    stderr, "ZorvikMacAutoFill: the panel cannot be shown: %s\n",
                    module.entry ? "its interface did not start" : qPrintable(module.problem));
            }
        }
        return interface.get();
    };

    // The extension counts as connected once it has sent a real request, not when merely
    // started. This runs before the request is answered, so a browser's very first request
    // already finds the identities of a code that arrived before it.
    const auto connected = [&] {
        const QString records = ConnectedBrowsers::standardDirectory();
        if (container) {
            ConnectedBrowsers::adoptEarlierRecord(*container, records);
        }
        if (ConnectedBrowsers::record(records, *family, wallClock()) && store && identitiesPath) {
            HeldCodeIdentities::publish([&] { return store->load(); }, *identitiesPath,
                                        wallClock());
        }
    };
    StdioChannel channel;
    AutoFillHost host({channel, store, identitiesPath, wallClock, startInterface, connected});
    const int status = host.run();
    interface.reset();
    return status;
}
