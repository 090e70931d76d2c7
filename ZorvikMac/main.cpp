// ZorvikMac: builds the Linux platform and hands it to the application.
#include <QApplication>
#include <QDBusConnection>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>

#include "AppDelegate.h"
#include "AtomicFile.h"
#include "BundleInfo.h"
#include "CloudSyncCrypto.h"
#include "CloudWebContainer.h"
#include "CloudWebSession.h"
#include "CodeReceiver.h"
#include "DBusDiagnosticsChannel.h"
#include "DBusDistributedNotificationCenter.h"
#include "DataControlPasteboard.h"
#include "FileCredentialIdentityStore.h"
#include "FreedesktopNotificationCenter.h"
#include "HeadlessApp.h"
#include "JournalSystemLog.h"
#include "KernelBundleInfo.h"
#include "KeyPairing.h"
#include "LinuxAutoFillSettings.h"
#include "LinuxStatusItem.h"
#include "LinuxWorkspace.h"
#include "LocalCloud.h"
#include "Logger.h"
#include "NativeMessagingHosts.h"
#include "PairingTerminal.h"
#include "Platform.h"
#include "ProcRunningApplications.h"
#include "QSettingsUserDefaults.h"
#include "QrCode.h"
#include "QtCloudWebTransport.h"
#include "QtMainActor.h"
#include "QtPasteboard.h"
#include "QtPopover.h"
#include "QtScreens.h"
#include "SecretServiceKeychain.h"
#include "SessionBusLoss.h"
#include "SessionSelfProbe.h"
#include "SwitchingCloud.h"
#include "TakeOver.h"
#include "TerminalQuestion.h"
#include "ToolkitPlatform.h"
#include "UnixSignalNotifier.h"
#include "WebCourierPush.h"
#include "XdgAppGroupContainers.h"
#include "XdgAutostartLoginItem.h"

namespace {

const char* const kUsage = R"(Usage: ZorvikMac [--headless] [--log-to-stderr] [--embedded-cloud]
                 [--sign-in | --sign-out]
       ZorvikMac --pair [--log-to-stderr] [--embedded-cloud]
       ZorvikMac --diagnostics

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

// The developer's options that take a value, taken out of `arguments`. Answers false (after
// saying why) when one is given without a value or with a bad one.
struct CloudOptions {
    std::optional<QString> url;
    std::optional<QString> apiToken;
    std::optional<quint16> signInPort;
};

bool takeCloudOptions(QStringList& arguments, CloudOptions& options) {
    for (qsizetype index = 0; index < arguments.size();) {
        const QString name = arguments[index];
        if (name != u"--cloud-url" && name != u"--cloud-api-token" && name != u"--sign-in-port") {
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
            options.url = value;
        } else if (name == u"--cloud-api-token") {
            options.apiToken = value;
        } else {
            bool isNumber = false;
            const uint port = value.toUInt(&isNumber);
            if (!isNumber || port > 65535) {
                std::fputs("ZorvikMac: --sign-in-port needs a port number\n", stderr);
                return false;
            }
            options.signInPort = quint16(port);
        }
    }
    return true;
}

// The web service's address, token and sign-in port: the build's, or the developer's options.
CloudWebConfiguration webConfiguration(const CloudOptions& options) {
    CloudWebConfiguration configuration = CloudWebConfiguration::fromBuild();
    if (options.url) {
        configuration.baseURL = QUrl(*options.url);
        configuration.allowsPlainHttp = true;
    }
    if (options.apiToken) {
        configuration.apiToken = *options.apiToken;
    }
    if (options.signInPort) {
        configuration.signInPort = *options.signInPort;
    }
    return configuration;
}

// The cloud as the app and --pair both use it: the web service once a session is stored, the
// embedded cloud otherwise (or always, with --embedded-cloud).
struct Clouds {
    Clouds(MainActor& mainActor, SystemLog& systemLog, Keychain& keychain,
           UserDefaults& userDefaults, CloudWebConfiguration configuration,
           SwitchingCloud::Options options)
        : embedded(mainActor, LocalCloud::standardRootDirectory()),
          workspace(mainActor),
          webSession(mainActor, webTransport, keychain, systemLog, std::move(configuration)),
          webCloud(webSession, CloudWebDatabase::standardStateFile()),
          webPush(mainActor, webSession, webTransport, systemLog),
          cloud(mainActor, workspace, systemLog, userDefaults, embedded,
                webSession.configuration().isUsable() ? &webCloud : nullptr,
                webSession.configuration().isUsable() ? &webPush : nullptr, options) {}

    LocalCloud embedded;
    LinuxWorkspace workspace;
    QtCloudWebTransport webTransport;
    CloudWebSession webSession;
    CloudWebContainer webCloud;
    WebCourierPush webPush;
    SwitchingCloud cloud;
};

// --pair: one offer, shown as a code to scan and as its text, until the phone's hand-off is
// stored (exit 0), the offer ends or a signal cancels it (exit 1). The running copy, if any,
// is left alone: it reads the keychain at every fetch, so it opens codes with the new key
// without being told.
int pairAtTerminal(MainActor& mainActor, SystemLog& systemLog, Keychain& keychain, Clouds& clouds) {
    KeyPairing pairing(mainActor, &clouds.cloud.privateCloudDatabase(), keychain, systemLog);
    bool stored = false;
    pairing.keyStored = [&stored] { stored = true; };
    QObject::connect(&pairing, &KeyPairing::stateChanged, [&pairing, &stored] {
        switch (pairing.state()) {
            case KeyPairing::State::paired:
                if (stored) {
                    std::puts("The sync key from your iPhone is stored.");
                    std::fflush(stdout);
                    QCoreApplication::exit(0);
                } else {
                    std::fputs("ZorvikMac: pairing ended without storing a key\n", stderr);
                    QCoreApplication::exit(1);
                }
                break;
            case KeyPairing::State::expired:
                std::fprintf(stderr,
                             "ZorvikMac: the pairing code was not answered within %ld minutes "
                             "and has ended; the sync key is unchanged\n",
                             static_cast<long>(PairingOffer::lifetime / 60));
                QCoreApplication::exit(1);
                break;
            case KeyPairing::State::cancelled:
                QCoreApplication::exit(1);
                break;
            case KeyPairing::State::idle:
            case KeyPairing::State::offering:
                break;
        }
    });
    // Ctrl+C, `kill` or the terminal closing: the offer ends and its private key is scrubbed.
    UnixSignalNotifier quitSignals({SIGTERM, SIGINT, SIGHUP}, [&pairing](int signal) {
        if (pairing.state() != KeyPairing::State::offering) {
            return;  // already ending, perhaps with the key stored
        }
        std::fprintf(stderr, "ZorvikMac: pairing cancelled by %s; the sync key is unchanged\n",
                     signalName(signal).toLatin1().constData());
        pairing.cancel();
    });
    try {
        pairing.start();
    } catch (const Error& error) {
        std::fprintf(stderr, "ZorvikMac: no pairing code could be made: %s\n",
                     error.localizedDescription().toUtf8().constData());
        return 1;
    }

    // The code is shown once the keychain has said which cloud the key comes through.
    const auto alive = std::make_shared<bool>(true);
    clouds.cloud.whenChosen([&pairing, &clouds, weak = std::weak_ptr<bool>(alive)] {
        if (weak.expired()) {
            return;
        }
        const QByteArray uri = pairing.offerText().toUtf8();
        const QrCode code = QrCode::encode(uri);
        if (code.size > 0) {
            std::fputs(PairingTerminal::picture(code).constData(), stdout);
        } else {
            std::fputs("ZorvikMac: the code could not be drawn; the iPhone can take its text\n",
                       stderr);
        }
        const CloudBackendInfo backend = clouds.cloud.backendInfo();
        std::printf(
            "\n%s\n\nScan this code in Zorvik on your iPhone to send this computer your sync key.\n"
            "It stays open for %ld minutes; Ctrl+C ends it sooner.\nWaiting for the key through "
            "%s%s.\n",
            uri.constData(), std::lround(pairing.secondsLeft() / 60),
            backend.kind == CloudBackendInfo::Kind::embedded ? "the " : "",
            backend.description.toUtf8().constData());
        std::fflush(stdout);

        // A cloud that cannot answer would leave the user waiting for nothing: say so at once. The
        // lookups go on all the same, as the cloud may come back.
        clouds.cloud.accountStatus([weak](std::variant<int, CloudError> answer) {
            if (weak.expired()) {
                return;
            }
            if (const auto* error = std::get_if<CloudError>(&answer)) {
                std::fprintf(stderr, "ZorvikMac: the cloud did not answer: %s\n",
                             error->localizedDescription().toUtf8().constData());
            } else if (std::get<int>(answer) == CloudContainer::noAccount) {
                std::fputs(
                    "ZorvikMac: the cloud says no one is signed in, so the key cannot come through "
                    "it; sign in with ZorvikMac --sign-in and pair again\n",
                    stderr);
            } else if (std::get<int>(answer) != CloudContainer::available) {
                std::fprintf(stderr, "ZorvikMac: the cloud account is not available (status %d)\n",
                             std::get<int>(answer));
            }
        });
    });

    const int status = QCoreApplication::exec();
    // The last lookup's answer holds the web session's next token.
    clouds.webSession.finishCallsUnderWay(2);
    return status;
}

// --diagnostics: the running copy's report, or what this command can tell by itself.
int printDiagnostics(int& argc, char** argv) {
    // Needs no display: the session bus is all it asks.
    const QCoreApplication application(argc, argv);
    const QDBusConnection bus = DBusDiagnosticsChannel::existingSessionBus();
    DBusDiagnosticsChannel channel(bus);
    if (const std::optional<QString> report = channel.askRunningCopy(5)) {
        std::puts(report->toUtf8().constData());
        return 0;
    }
    std::fputs(bus.isConnected()
                   ? "No copy of Zorvik is running in this session; what this command can tell "
                     "by itself:\n"
                   : "No session bus is reachable, so no running copy of Zorvik can be asked; "
                     "what this command can tell by itself:\n",
               stderr);
    Keychain::Query syncKey;
    syncKey.service = QString::fromLatin1(CloudSyncCrypto::keychainService);
    syncKey.account = QString::fromLatin1(CloudSyncCrypto::keychainAccount);
    const SessionSelfProbe probe(
        bus, kernelBundleInfo(QStringLiteral(ZORVIK_VERSION), QStringLiteral(ZORVIK_BUILD)),
        SessionSelfProbe::standard(syncKey));
    std::puts(probe.text().toUtf8().constData());
    return 3;
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
    if (arguments.contains(QStringLiteral("--diagnostics"))) {
        if (arguments.size() != 1) {
            std::fputs("ZorvikMac: --diagnostics goes with no other option\n", stderr);
            return 2;
        }
        return printDiagnostics(argc, argv);
    }
    CloudOptions cloudOptions;
    if (!takeCloudOptions(arguments, cloudOptions)) {
        return 2;
    }
    const QStringList ours{QStringLiteral("--headless"),       QStringLiteral("--log-to-stderr"),
                           QStringLiteral("--embedded-cloud"), QStringLiteral("--sign-in"),
                           QStringLiteral("--sign-out"),       QStringLiteral("--pair")};
    const bool headless = arguments.contains(ours[0]);
    const bool logToStderr = arguments.contains(ours[1]);
    const bool embeddedOnly = arguments.contains(ours[2]);
    const bool signIn = arguments.contains(ours[3]);
    const bool signOut = arguments.contains(ours[4]);
    const bool pair = arguments.contains(ours[5]);
    if (signIn && (signOut || embeddedOnly)) {
        std::fputs("ZorvikMac: --sign-in goes with neither --sign-out nor --embedded-cloud\n",
                   stderr);
        return 2;
    }
    if (pair && (signIn || signOut)) {
        std::fputs("ZorvikMac: --pair goes with neither --sign-in nor --sign-out\n", stderr);
        return 2;
    }
    const auto refuse = [](const QString& argument) {
        std::fprintf(stderr, "ZorvikMac: unknown argument %s\n\n",
                     argument.toLocal8Bit().constData());
        std::fputs(kUsage, stderr);
        return 2;
    };
    const bool platformWasSet = qEnvironmentVariableIsSet("QT_QPA_PLATFORM");
    const QByteArray platformAsked = qgetenv("QT_QPA_PLATFORM");
    const ToolkitPlatform toolkitPlatform = ToolkitPlatform::choose(
        ToolkitPlatform::Environment::current(arguments.contains(QStringLiteral("-platform"))),
        pair       ? ToolkitPlatform::Use::terminal
        : headless ? ToolkitPlatform::Use::headless
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
    // Programs we start (the browser, the AutoFill helper) choose their own platform.
    if (platformWasSet) {
        qputenv("QT_QPA_PLATFORM", platformAsked);
    } else {
        qunsetenv("QT_QPA_PLATFORM");
    }
    // Anything else is checked once the toolkit has taken its own options (-platform, -display,
    // …) out of argv.
    const QStringList cloudValueOptions{QStringLiteral("--cloud-url"),
                                        QStringLiteral("--cloud-api-token"),
                                        QStringLiteral("--sign-in-port")};
    for (int index = 1; index < argc; ++index) {
        const QString argument = QString::fromLocal8Bit(argv[index]);
        if (cloudValueOptions.contains(argument)) {
            ++index;  // its value was checked above
            continue;
        }
        if (!ours.contains(argument)) {
            return refuse(argument);
        }
    }
    if (toolkitPlatform.mayFallBack && !headless &&
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

    if (pair) {
        // Only what the pairing needs: no clipboard, receiver, take-over or tray.
        QtMainActor mainActor;
        JournalSystemLog journal(QStringLiteral("ZorvikMac"), logToStderr);
        PairingTerminal::Log systemLog(journal, logToStderr);
        SecretServiceKeychain keychain;
        QSettingsUserDefaults userDefaults(QSettingsUserDefaults::standardFilePath());
        SwitchingCloud::Options options;
        options.embeddedOnly = embeddedOnly;
        Clouds clouds(mainActor, systemLog, keychain, userDefaults, webConfiguration(cloudOptions),
                      options);
        return pairAtTerminal(mainActor, systemLog, keychain, clouds);
    }

    // The clipboard before the main actor, so the actor and its pending clear go first.
    // Where the Wayland compositor offers data control (wlroots, KWin), the clipboard goes through
    // it alone, whichever platform Qt runs on: the compositor hands the entry on to X11 programs
    // itself, and an X11 entry of ours beside it would only fight it for the selection. Elsewhere
    // (mutter, X11 alone, no display) the toolkit's clipboard.
    const std::unique_ptr<DataControlPasteboard> dataControl = DataControlPasteboard::connect();
    std::optional<QtPasteboard> toolkitPasteboard;
    if (!dataControl) {
        toolkitPasteboard.emplace();
    }
    Pasteboard& pasteboard =
        dataControl ? static_cast<Pasteboard&>(*dataControl) : *toolkitPasteboard;
    JournalSystemLog systemLog(QStringLiteral("ZorvikMac"),
                               headless || logToStderr || JournalSystemLog::stderrIsTerminal());
    QtMainActor mainActor(&systemLog);
    AtomicFile::setFaultNotice([&systemLog](const QString& text) {
        systemLog.write(LogLevel::error, QStringLiteral("net.brontal.zorvik"),
                        QStringLiteral("files"), text);
    });
    SecretServiceKeychain keychain;
    XdgAppGroupContainers containers;
    QSettingsUserDefaults userDefaults(QSettingsUserDefaults::standardFilePath());
    XdgAutostartLoginItem loginItem(XdgAutostartLoginItem::standardAutostartDirectory(),
                                    QCoreApplication::applicationFilePath());
    FreedesktopNotificationCenter notificationCenter(QDBusConnection::sessionBus(),
                                                     ShownNotificationsFile::standardDirectory(),
                                                     nullptr, &systemLog);
    FileCredentialIdentityStore identityStore(
        mainActor,
        containers.containerDirectory(QString::fromLatin1(LatestCodeStore::groupIdentifier)),
        NativeMessagingHosts::perUserDirectories());
    // Signing in from a terminal: the account the browser brings back is confirmed there too.
    std::optional<TerminalQuestion> terminal;
    if (signIn && TerminalQuestion::standardStreamsAreTerminal()) {
        terminal.emplace();
    }
    SwitchingCloud::Options cloudChoice;
    cloudChoice.embeddedOnly = embeddedOnly;
    cloudChoice.terminal = terminal ? &*terminal : nullptr;
    Clouds clouds(mainActor, systemLog, keychain, userDefaults, webConfiguration(cloudOptions),
                  cloudChoice);
    SwitchingCloud& cloud = clouds.cloud;
    CloudWebSession& webSession = clouds.webSession;
    // After the launch, so that an older copy has been asked to quit first.
    const auto changeAccount = [&cloud, signIn, signOut] {
        if (signOut) {
            cloud.signOut();
        }
        if (signIn) {
            cloud.signIn();
        }
    };
    const QString applicationDirectory = QCoreApplication::applicationDirPath();
    LinuxAutoFillSettings autoFillSettings(
        clouds.workspace, systemLog,
        LinuxAutoFillSettings::locateHost(applicationDirectory,
                                          QStringLiteral(ZORVIK_AUTOFILL_HOST_PATH)),
        LinuxAutoFillSettings::locateExtension(applicationDirectory,
                                               QStringLiteral(ZORVIK_EXTENSION_SOURCE_DIR)),
        NativeMessagingHosts::perUserDirectories());

    // The newest copy answers `ZorvikMac --diagnostics` once it has launched.
    DBusDiagnosticsChannel diagnostics(QDBusConnection::sessionBus());
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
                            clouds.workspace,
                            autoFillSettings,
                            &cloud,
                            &diagnostics};
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
        shellLog.info("Zorvik: quitting on %{public}s", signalName(signal));
        QCoreApplication::quit();
    });
    SessionBusLoss busLoss([&shellLog] {
        shellLog.error(
            "Zorvik: lost the connection to the session bus (the desktop session ended or its bus "
            "stopped); quitting");
        QCoreApplication::quit();
    });
    if (dataControl) {
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

    DBusDistributedNotificationCenter notices(mainActor, QDBusConnection::sessionBus());
    // The commands that answer and end are no copies to take over from or step back for.
    ProcRunningApplications runningApplications(
        {QStringLiteral("--pair"), QStringLiteral("--diagnostics"), QStringLiteral("--version"),
         QStringLiteral("--help"), QStringLiteral("-h")});
    // Queued, so that a quit asked for before the event loop runs is not lost.
    const auto quitOnceRunning = [] {
        QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                                  Qt::QueuedConnection);
    };
    if (headless) {
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
        webSession.finishCallsUnderWay(2);
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
    webSession.finishCallsUnderWay(2);
    return status;
}
