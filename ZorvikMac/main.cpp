// SPDX-License-Identifier: GPL-3.0-or-later
// ZorvikMac: reads the command line, builds the Linux platform and hands it to the application.
#include <QApplication>
#include <csignal>
#include <cstdio>

#include "ZorvikMac/Clouds.h"
#include "ZorvikMac/LaunchOptions.h"
#include "ZorvikMac/LinuxPlatform.h"
#include "ZorvikMac/Shell/AppDelegate.h"
#include "ZorvikMac/Shell/HeadlessApp.h"
#include "ZorvikMac/Shell/PairingTerminal.h"
#include "ZorvikMac/Shell/TakeOver.h"
#include "ZorvikMac/TerminalCommands.h"
#include "platform/BundleInfo.h"
#include "platform/Logger.h"
#include "platform/linux/DBusDistributedNotificationCenter.h"
#include "platform/linux/JournalSystemLog.h"
#include "platform/linux/KernelBundleInfo.h"
#include "platform/linux/ProcRunningApplications.h"
#include "platform/linux/QSettingsUserDefaults.h"
#include "platform/linux/QtMainActor.h"
#include "platform/linux/SchedulerSlice.h"
#include "platform/linux/SessionBusLoss.h"
#include "platform/linux/TerminalQuestion.h"
#include "platform/linux/UnixSignalNotifier.h"
#include "platform/linux/desktop/AccessibleApplication.h"
#include "platform/linux/desktop/LinuxStatusItem.h"
#include "platform/linux/desktop/QtPopover.h"
#include "platform/linux/desktop/QtScreens.h"
#include "platform/linux/desktop/ToolkitPlatform.h"
#include "platform/linux/keyring/SecretServiceKeychain.h"
#include "shared/AppTranslations.h"

int main(int argc, char** argv) {
    // The arguments are read before the toolkit starts, so --help and a refusal work anywhere.
    QStringList arguments;
    for (int index = 1; index < argc; ++index) {
        arguments.append(QString::fromLocal8Bit(argv[index]));
    }
    if (arguments.contains(QStringLiteral("-h")) || arguments.contains(QStringLiteral("--help"))) {
        std::fputs(LaunchOptions::usage(), stdout);
        return 0;
    }
    if (arguments.contains(QStringLiteral("--version"))) {
        std::printf("ZorvikMac %s (%s)\n", ZORVIK_VERSION, ZORVIK_BUILD);
        return 0;
    }
    if (arguments.contains(QStringLiteral("--diagnostics"))) {
        if (arguments.size() != 1) {
            std::fputs("ZorvikMac: --diagnostics goes with no other option\n", stderr);
            return 2;
        }
        return printDiagnostics(argc, argv);
    }
    const std::variant<LaunchOptions, int> read = LaunchOptions::read(arguments);
    if (const int* refused = std::get_if<int>(&read)) {
        return *refused;
    }
    const LaunchOptions& line = std::get<LaunchOptions>(read);
    // Before the toolkit starts its threads, which take it over.
    SchedulerSlice::request();

    const bool platformWasSet = qEnvironmentVariableIsSet("QT_QPA_PLATFORM");
    const QByteArray platformAsked = qgetenv("QT_QPA_PLATFORM");
    const ToolkitPlatform toolkitPlatform = ToolkitPlatform::choose(
        ToolkitPlatform::Environment::current(arguments.contains(QStringLiteral("-platform"))),
        line.pair       ? ToolkitPlatform::Use::terminal
        : line.headless ? ToolkitPlatform::Use::headless
                        : ToolkitPlatform::Use::tray);
    if (toolkitPlatform.noDisplay) {
        std::fputs(
            "ZorvikMac: no display for the tray item (DISPLAY and WAYLAND_DISPLAY are "
            "unset); run ZorvikMac --headless to receive codes without one\n",
            stderr);
        return 1;
    }
    if (!toolkitPlatform.platforms.isEmpty()) {
        qputenv("QT_QPA_PLATFORM", toolkitPlatform.platforms);
    }

    QApplication application(argc, argv);
    installTranslations(application);
    AccessibleApplication::install();
    // Programs we start (the browser, the AutoFill helper) choose their own platform.
    if (platformWasSet) {
        qputenv("QT_QPA_PLATFORM", platformAsked);
    } else {
        qunsetenv("QT_QPA_PLATFORM");
    }
    if (const std::optional<int> refused = LaunchOptions::refuseUnknown(argc, argv)) {
        return *refused;
    }
    if (toolkitPlatform.mayFallBack && !line.headless &&
        ToolkitPlatform::isOffscreen(QGuiApplication::platformName().toUtf8())) {
        std::fputs(
            "ZorvikMac: the display cannot be opened for the tray item; run ZorvikMac "
            "--headless to receive codes without one\n",
            stderr);
        return 1;
    }
    application.setOrganizationName(QStringLiteral("net.brontal.zorvik"));
    application.setApplicationName(QStringLiteral("ZorvikMac"));
    application.setApplicationVersion(QStringLiteral(ZORVIK_VERSION));
    application.setQuitOnLastWindowClosed(false);
    // Lets the desktop match our windows to the installed menu entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("net.brontal.zorvik"));

    if (line.pair) {
        // Only what the pairing needs: no clipboard, receiver, take-over or tray.
        QtMainActor mainActor;
        JournalSystemLog journal(QStringLiteral("ZorvikMac"), line.logToStderr);
        PairingTerminal::Log systemLog(journal, line.logToStderr);
        SecretServiceKeychain keychain;
        QSettingsUserDefaults userDefaults(QSettingsUserDefaults::standardFilePath());
        SwitchingCloud::Options options;
        options.embeddedOnly = line.embeddedOnly;
        Clouds clouds(mainActor, systemLog, keychain, userDefaults, line.webConfiguration(),
                      options);
        return pairAtTerminal(mainActor, systemLog, keychain, clouds);
    }

    LinuxPlatform desktop(
        {line.headless || line.logToStderr || JournalSystemLog::stderrIsTerminal(),
         line.embeddedOnly, line.signIn && TerminalQuestion::standardStreamsAreTerminal(),
         line.webConfiguration()});
    const Platform& platform = desktop.platform();
    SystemLog& systemLog = desktop.systemLog();
    SwitchingCloud& cloud = desktop.clouds().cloud;
    // After the launch, so that an older copy has been asked to quit first.
    const auto changeAccount = [&cloud, &line] {
        if (line.signOut) {
            cloud.signOut();
        }
        if (line.signIn) {
            cloud.signIn();
        }
    };
    const BundleInfo bundle =
        kernelBundleInfo(QStringLiteral(ZORVIK_VERSION), QStringLiteral(ZORVIK_BUILD));
    // A quit from the session, a terminal or `kill` ends the event loop normally, so the
    // clipboard is tidied exactly once whichever way the application goes.
    // The line tells a quit by signal (a newer copy's, the session's) from a crash in the log.
    Logger shellLog(systemLog, QStringLiteral("net.brontal.zorvik"),
                    QString::fromLatin1(shellLogCategory));
    // A write past the file size limit then fails like one on a full disk, which the app
    // survives and reports, rather than ending it.
    std::signal(SIGXFSZ, SIG_IGN);
    UnixSignalNotifier quitSignals({SIGTERM, SIGINT, SIGHUP}, [&shellLog](int signal) {
        shellLog.info("Zorvik: quitting on %{public}s", UnixSignalNotifier::name(signal));
        QCoreApplication::quit();
    });
    SessionBusLoss busLoss([&shellLog] {
        shellLog.error(
            "Zorvik: lost the connection to the session bus (the desktop session ended or its bus "
            "stopped); quitting");
        QCoreApplication::quit();
    });
    if (desktop.usesDataControl()) {
        shellLog.info(
            "Zorvik: the clipboard goes through the data control of the Wayland display "
            "%{public}s, for Wayland and X11 programs alike",
            qEnvironmentVariable("WAYLAND_DISPLAY"));
    }
    if (toolkitPlatform.xwayland && QGuiApplication::platformName() == u"xcb") {
        shellLog.info(
            "Zorvik: running on XWayland (DISPLAY %{public}s) beside the Wayland display "
            "%{public}s, where the clipboard and the popover work; QT_QPA_PLATFORM=wayland "
            "overrides this",
            qEnvironmentVariable("DISPLAY"), qEnvironmentVariable("WAYLAND_DISPLAY"));
    }

    DBusDistributedNotificationCenter notices(desktop.mainActor(), QDBusConnection::sessionBus());
    // The commands that answer and end are no copies to take over from or step back for.
    ProcRunningApplications runningApplications(
        {QStringLiteral("--pair"), QStringLiteral("--diagnostics"), QStringLiteral("--version"),
         QStringLiteral("--help"), QStringLiteral("-h")});
    // Queued, so that a quit asked for before the event loop runs is not lost.
    const auto quitOnceRunning = [] {
        QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                                  Qt::QueuedConnection);
    };
    if (line.headless) {
        // One copy publishes codes, with or without its tray item.
        TakeOver takeOver(notices, runningApplications, bundle, systemLog, quitOnceRunning);
        if (!takeOver.askOlderCopiesToQuit()) {
            return 0;
        }
        HeadlessApp app(platform, bundle);
        QObject::connect(&application, &QCoreApplication::aboutToQuit,
                         [&app] { app.applicationWillTerminate(); });
        app.launch();
        changeAccount();
        const int status = application.exec();
        app.applicationWillTerminate();
        desktop.clouds().webSession.finishCallsUnderWay(2);
        return status;
    }

    QtPopover popover;
    QtScreens screens;
    LinuxStatusItem statusItem;
    AppDelegate delegate(
        platform, {statusItem, popover, screens, notices, runningApplications, quitOnceRunning},
        bundle);
    QObject::connect(&application, &QCoreApplication::aboutToQuit,
                     [&delegate] { delegate.applicationWillTerminate(); });
    if (!delegate.applicationDidFinishLaunching()) {
        return 0;  // a newer copy runs instead; nothing to sign in or out of here
    }
    changeAccount();
    const int status = application.exec();
    delegate.applicationWillTerminate();
    desktop.clouds().webSession.finishCallsUnderWay(2);
    return status;
}
