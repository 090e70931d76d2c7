// ZorvikMac: builds the Linux platform and hands it to the application.
#include <QApplication>
#include <QDBusConnection>
#include <csignal>
#include <cstdio>

#include "AppDelegate.h"
#include "BundleInfo.h"
#include "DBusDistributedNotificationCenter.h"
#include "FileCredentialIdentityStore.h"
#include "FreedesktopNotificationCenter.h"
#include "HeadlessApp.h"
#include "JournalSystemLog.h"
#include "KernelBundleInfo.h"
#include "LinuxAutoFillSettings.h"
#include "LinuxStatusItem.h"
#include "LinuxWorkspace.h"
#include "LocalCloud.h"
#include "Logger.h"
#include "NativeMessagingHosts.h"
#include "Platform.h"
#include "ProcRunningApplications.h"
#include "QSettingsUserDefaults.h"
#include "QtMainActor.h"
#include "QtPasteboard.h"
#include "QtPopover.h"
#include "QtScreens.h"
#include "SecretServiceKeychain.h"
#include "TakeOver.h"
#include "UnixSignalNotifier.h"
#include "XdgAppGroupContainers.h"
#include "XdgAutostartLoginItem.h"

namespace {

const char* const kUsage = R"(Usage: ZorvikMac [--headless] [--log-to-stderr]

Receives one-time codes from your phone through your cloud database and publishes each one:
the tray item's title and popover, latest-code.json for the AutoFill helper, the clipboard
(marked concealed, cleared at expiry), a notification with a Copy button, and the credential
identities of the code's service. A copy started later takes over from one already running.

  --headless        run without a tray item or popover
  --log-to-stderr   also write every log line to stderr
  --version         print the version
  -h, --help        show this text

Log lines go to the journal (and to stderr when it is a terminal, with --headless or with
--log-to-stderr).
Without a display, --headless still runs; the clipboard is then the process's own.
)";

// True when a windowing system is reachable through the environment the toolkit reads.
bool hasDisplay() {
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (platform.startsWith("offscreen") || platform.startsWith("minimal")) {
        return true;
    }
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

QString signalName(int signal) {
    switch (signal) {
        case SIGTERM:
            return QStringLiteral("SIGTERM");
        case SIGINT:
            return QStringLiteral("SIGINT");
        case SIGHUP:
            return QStringLiteral("SIGHUP");
        default:
            return QString::number(signal);
    }
}

}  // namespace

int main(int argc, char** argv) {
    // The arguments are read before the toolkit starts, so --help and a refusal work anywhere.
    QStringList arguments;
    for (int index = 1; index < argc; ++index) {
        arguments.append(QString::fromLocal8Bit(argv[index]));
    }
    if (arguments.contains(QStringLiteral("-h")) || arguments.contains(QStringLiteral("--help"))) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (arguments.contains(QStringLiteral("--version"))) {
        std::printf("ZorvikMac %s (%s)\n", ZORVIK_VERSION, ZORVIK_BUILD);
        return 0;
    }
    const bool headless = arguments.removeAll(QStringLiteral("--headless")) > 0;
    const bool logToStderr = arguments.removeAll(QStringLiteral("--log-to-stderr")) > 0;
    if (!arguments.isEmpty()) {
        std::fprintf(stderr, "ZorvikMac: unknown argument %s\n\n",
                     arguments.front().toLocal8Bit().constData());
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (!hasDisplay()) {
        if (!headless) {
            std::fputs(
                "ZorvikMac: no display for the tray item (DISPLAY and WAYLAND_DISPLAY are "
                "unset); run ZorvikMac --headless to receive codes without one\n",
                stderr);
            return 1;
        }
        // A server without a desktop: codes still reach the shared file, the notifications
        // and this process's own clipboard.
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }

    QApplication application(argc, argv);
    application.setOrganizationName(QStringLiteral("net.brontal.zorvik"));
    application.setApplicationName(QStringLiteral("ZorvikMac"));
    application.setApplicationVersion(QStringLiteral(ZORVIK_VERSION));
    application.setQuitOnLastWindowClosed(false);
    // Lets the desktop match our windows to the installed menu entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("net.brontal.zorvik"));

    // The clipboard before the main actor, so the actor and its pending clear go first.
    QtPasteboard pasteboard;
    QtMainActor mainActor;
    JournalSystemLog systemLog(QStringLiteral("ZorvikMac"),
                               headless || logToStderr || JournalSystemLog::stderrIsTerminal());
    SecretServiceKeychain keychain;
    XdgAppGroupContainers containers;
    QSettingsUserDefaults userDefaults(QSettingsUserDefaults::standardFilePath());
    XdgAutostartLoginItem loginItem(XdgAutostartLoginItem::standardAutostartDirectory(),
                                    QCoreApplication::applicationFilePath());
    FreedesktopNotificationCenter notificationCenter;
    FileCredentialIdentityStore identityStore(
        mainActor,
        containers.containerDirectory(QString::fromLatin1(LatestCodeStore::groupIdentifier)),
        NativeMessagingHosts::perUserDirectories());
    LocalCloud cloud(mainActor, LocalCloud::standardRootDirectory());
    LinuxWorkspace workspace(mainActor);
    const QString applicationDirectory = QCoreApplication::applicationDirPath();
    LinuxAutoFillSettings autoFillSettings(
        workspace, systemLog,
        LinuxAutoFillSettings::locateHost(applicationDirectory,
                                          QStringLiteral(ZORVIK_AUTOFILL_HOST_PATH)),
        LinuxAutoFillSettings::locateExtension(applicationDirectory,
                                               QStringLiteral(ZORVIK_EXTENSION_SOURCE_DIR)),
        NativeMessagingHosts::perUserDirectories());

    const Platform platform{mainActor,
                            systemLog,
                            keychain,
                            containers,
                            userDefaults,
                            loginItem,
                            pasteboard,
                            notificationCenter,
                            identityStore,
                            cloud,
                            cloud.remoteNotifications(),
                            workspace,
                            autoFillSettings};
    const BundleInfo bundle =
        kernelBundleInfo(QStringLiteral(ZORVIK_VERSION), QStringLiteral(ZORVIK_BUILD));
    // A quit from the session, a terminal or `kill` ends the event loop normally, so the
    // clipboard is tidied exactly once whichever way the application goes.
    // The line tells a quit by signal (a newer copy's, the session's) from a crash in the log.
    Logger shellLog(systemLog, QStringLiteral("net.brontal.zorvik"),
                    QString::fromLatin1(shellLogCategory));
    UnixSignalNotifier quitSignals({SIGTERM, SIGINT, SIGHUP}, [&shellLog](int signal) {
        shellLog.info("Zorvik: quitting on %{public}s", signalName(signal));
        QCoreApplication::quit();
    });

    DBusDistributedNotificationCenter notices(mainActor, QDBusConnection::sessionBus());
    ProcRunningApplications runningApplications;
    if (headless) {
        // One copy publishes codes, with or without its tray item.
        TakeOver takeOver(notices, runningApplications, bundle, systemLog,
                          [] { QCoreApplication::quit(); });
        takeOver.askOlderCopiesToQuit();
        HeadlessApp app(platform, bundle);
        QObject::connect(&application, &QCoreApplication::aboutToQuit,
                         [&app] { app.applicationWillTerminate(); });
        app.launch();
        const int status = application.exec();
        app.applicationWillTerminate();
        return status;
    }

    QtPopover popover;
    QtScreens screens;
    LinuxStatusItem statusItem;
    AppDelegate delegate(platform,
                         {statusItem, popover, screens, notices, runningApplications,
                          [] { QCoreApplication::quit(); }},
                         bundle);
    QObject::connect(&application, &QCoreApplication::aboutToQuit,
                     [&delegate] { delegate.applicationWillTerminate(); });
    delegate.applicationDidFinishLaunching();
    const int status = application.exec();
    delegate.applicationWillTerminate();
    return status;
}
