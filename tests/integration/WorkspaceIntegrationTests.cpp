#include <gtest/gtest.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>

#include "LinuxWorkspace.h"
#include "QtMainActor.h"
#include "SessionEnvironment.h"

// Readable failures: gtest finds this next to QString.
static void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

// logind's manager as far as the workspace asks it: which session a process or an id is in.
class FakeLogin1Manager : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")

public:
    static constexpr auto sessionPath = "/org/freedesktop/login1/session/_3fake";

    QStringList calls;
    QString sessionId = QStringLiteral("c7");

public Q_SLOTS:
    QDBusObjectPath GetSession(const QString& id) {
        calls << QStringLiteral("GetSession ") + id;
        if (id != sessionId) {
            sendErrorReply(QStringLiteral("org.freedesktop.login1.NoSuchSession"),
                           QStringLiteral("No session '%1' known").arg(id));
            return {};
        }
        return QDBusObjectPath(QString::fromLatin1(sessionPath));
    }
    QDBusObjectPath GetSessionByPID(uint pid) {
        calls << QStringLiteral("GetSessionByPID %1").arg(pid);
        return QDBusObjectPath(QString::fromLatin1(sessionPath));
    }
};

// A logind session object; QtDBus answers Properties.Get for it.
class FakeLogin1Session : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Session")
    Q_PROPERTY(bool Active READ active)

public:
    bool active() const { return isActive; }
    bool isActive = true;
};

namespace {

using Event = Workspace::Event;

// Runs the event loop until `condition` holds, checking every `pollMs`; false after `timeoutMs`.
bool runUntil(const std::function<bool()>& condition, int timeoutMs, int pollMs = 10) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (!condition()) {
        if (elapsed.elapsed() > timeoutMs) {
            return false;
        }
        QEventLoop loop;
        QTimer::singleShot(pollMs, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

QString nameOf(Event event) {
    switch (event) {
        case Event::willSleep:
            return QStringLiteral("willSleep");
        case Event::didWake:
            return QStringLiteral("didWake");
        case Event::screensDidSleep:
            return QStringLiteral("screensDidSleep");
        case Event::screensDidWake:
            return QStringLiteral("screensDidWake");
        case Event::sessionDidResignActive:
            return QStringLiteral("sessionDidResignActive");
        case Event::sessionDidBecomeActive:
            return QStringLiteral("sessionDidBecomeActive");
    }
    return QStringLiteral("?");
}

// Every event the workspace reports, by name, in order.
class EventRecorder {
public:
    explicit EventRecorder(Workspace& workspace) {
        for (const Event event :
             {Event::willSleep, Event::didWake, Event::screensDidSleep, Event::screensDidWake,
              Event::sessionDidResignActive, Event::sessionDidBecomeActive}) {
            workspace.addObserver(event, [this, event] { events << nameOf(event); });
        }
    }
    // Waits (bounded) until `count` events have come.
    bool waitFor(qsizetype count) {
        return runUntil([&] { return events.size() >= count; }, 5000);
    }

    QStringList events;
};

// Emits a signal on the session bus from another process, as a desktop component would.
void emitSignal(const QString& path, const QString& signal, const QStringList& arguments) {
    QProcess gdbus;
    gdbus.setProcessChannelMode(QProcess::MergedChannels);
    gdbus.start(
        QStringLiteral("gdbus"),
        QStringList{"emit", "--session", "--object-path", path, "--signal", signal} + arguments);
    ASSERT_TRUE(gdbus.waitForFinished(5000)) << signal.toStdString();
    ASSERT_EQ(gdbus.exitCode(), 0) << gdbus.readAll().toStdString();
}

// Sets environment variables for one test and puts the previous values back.
class EnvironmentOverride {
public:
    ~EnvironmentOverride() {
        for (auto saved = saved_.crbegin(); saved != saved_.crend(); ++saved) {
            if (saved->second) {
                qputenv(saved->first, *saved->second);
            } else {
                qunsetenv(saved->first);
            }
        }
    }
    void set(const char* name, const QByteArray& value) {
        remember(name);
        qputenv(name, value);
    }
    void unset(const char* name) {
        remember(name);
        qunsetenv(name);
    }

private:
    void remember(const char* name) {
        saved_.emplace_back(
            name, qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt);
    }
    std::vector<std::pair<const char*, std::optional<QByteArray>>> saved_;
};

class WorkspaceIntegrationTest : public testing::Test {
protected:
    void SetUp() override {
        REQUIRE_DESKTOP_SESSION();
        ASSERT_TRUE(QDBusConnection::sessionBus().isConnected());
    }

    // Lets the workspace start listening (from the main queue), then makes one round trip on the
    // session bus, so that the bus has its match rules before anything is emitted.
    void settle() {
        bool ran = false;
        mainActor.post([&] { ran = true; });
        ASSERT_TRUE(runUntil([&] { return ran; }, 5000));
        const QDBusMessage reply = QDBusConnection::sessionBus().call(
            QDBusMessage::createMethodCall("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                           "org.freedesktop.DBus", "GetId"),
            QDBus::Block, 5000);
        ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    }

    QtMainActor mainActor;
};

TEST_F(WorkspaceIntegrationTest, GnomeScreenSaverTellsScreensSleepAndWake) {
    LinuxWorkspace workspace(mainActor);
    EventRecorder recorder(workspace);
    settle();
    emitSignal("/org/gnome/ScreenSaver", "org.gnome.ScreenSaver.ActiveChanged", {"true"});
    ASSERT_TRUE(recorder.waitFor(1));
    emitSignal("/org/gnome/ScreenSaver", "org.gnome.ScreenSaver.ActiveChanged", {"false"});
    ASSERT_TRUE(recorder.waitFor(2));
    EXPECT_EQ(recorder.events, (QStringList{"screensDidSleep", "screensDidWake"}));
}

TEST_F(WorkspaceIntegrationTest, FreedesktopScreenSaverTellsScreensSleepAndWake) {
    LinuxWorkspace workspace(mainActor);
    EventRecorder recorder(workspace);
    settle();
    emitSignal("/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver.ActiveChanged",
               {"true"});
    ASSERT_TRUE(recorder.waitFor(1));
    emitSignal("/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver.ActiveChanged",
               {"false"});
    ASSERT_TRUE(recorder.waitFor(2));
    EXPECT_EQ(recorder.events, (QStringList{"screensDidSleep", "screensDidWake"}));
}

TEST_F(WorkspaceIntegrationTest, BothScreenSaversSayingTheSameCountOnce) {
    LinuxWorkspace workspace(mainActor);
    EventRecorder recorder(workspace);
    settle();
    emitSignal("/org/gnome/ScreenSaver", "org.gnome.ScreenSaver.ActiveChanged", {"true"});
    emitSignal("/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver.ActiveChanged",
               {"true"});
    emitSignal("/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver.ActiveChanged",
               {"false"});
    emitSignal("/org/gnome/ScreenSaver", "org.gnome.ScreenSaver.ActiveChanged", {"false"});
    // The next change marks the end: everything before it has been delivered by then.
    emitSignal("/org/gnome/ScreenSaver", "org.gnome.ScreenSaver.ActiveChanged", {"true"});
    ASSERT_TRUE(recorder.waitFor(3)) << recorder.events.join(' ').toStdString();
    EXPECT_EQ(recorder.events,
              (QStringList{"screensDidSleep", "screensDidWake", "screensDidSleep"}));
}

TEST_F(WorkspaceIntegrationTest, SameMemberOnAnotherInterfaceOrPathIsIgnored) {
    LinuxWorkspace workspace(mainActor);
    EventRecorder recorder(workspace);
    settle();
    emitSignal("/org/gnome/ScreenSaver", "org.example.ScreenSaver.ActiveChanged", {"true"});
    emitSignal("/org/gnome/Other", "org.gnome.ScreenSaver.ActiveChanged", {"true"});
    emitSignal("/ScreenSaver", "org.freedesktop.ScreenSaver.ActiveChanged", {"true"});
    emitSignal("/org/freedesktop/ScreenSaver", "org.gnome.ScreenSaver.ActiveChanged", {"true"});
    emitSignal("/org/freedesktop/login1", "org.example.Manager.PrepareForSleep", {"true"});
    // A real one last: the signals before it have reached the workspace by the time it does.
    emitSignal("/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver.ActiveChanged",
               {"false"});
    ASSERT_TRUE(recorder.waitFor(1));
    EXPECT_EQ(recorder.events, QStringList{"screensDidWake"});
}

TEST_F(WorkspaceIntegrationTest, WithoutASystemBusConstructionIsQuickAndQuiet) {
    if (!qEnvironmentVariableIsEmpty("DBUS_SYSTEM_BUS_ADDRESS") ||
        QFile::exists(QStringLiteral("/run/dbus/system_bus_socket"))) {
        GTEST_SKIP() << "a system bus is reachable here";
    }
    QElapsedTimer elapsed;
    elapsed.start();
    auto workspace = std::make_unique<LinuxWorkspace>(mainActor);
    EXPECT_LT(elapsed.elapsed(), 100) << "construction must not wait for a bus";
    EventRecorder recorder(*workspace);
    settle();
    EXPECT_LT(elapsed.elapsed(), 2000) << "starting to listen must not wait either";
    // The session bus still works.
    emitSignal("/org/gnome/ScreenSaver", "org.gnome.ScreenSaver.ActiveChanged", {"true"});
    ASSERT_TRUE(recorder.waitFor(1));
    EXPECT_EQ(recorder.events, QStringList{"screensDidSleep"});
    workspace.reset();
}

TEST_F(WorkspaceIntegrationTest, BusesThatAreNotThereGiveNoEvents) {
    QTemporaryDir directory;
    const QString address = QStringLiteral("unix:path=") + directory.filePath("no-bus");
    QElapsedTimer elapsed;
    elapsed.start();
    const QDBusConnection missing = QDBusConnection::connectToBus(address, "zorvik-missing-bus");
    ASSERT_FALSE(missing.isConnected());
    {
        LinuxWorkspace workspace(mainActor, missing, missing);
        EventRecorder recorder(workspace);
        settle();
        EXPECT_LT(elapsed.elapsed(), 2000);
        emitSignal("/org/gnome/ScreenSaver", "org.gnome.ScreenSaver.ActiveChanged", {"true"});
        runUntil([] { return false; }, 200);
        EXPECT_TRUE(recorder.events.isEmpty());
    }
    QDBusConnection::disconnectFromBus("zorvik-missing-bus");
}

TEST_F(WorkspaceIntegrationTest, AWorkspaceGoneBeforeItListensDoesNothing) {
    auto workspace = std::make_unique<LinuxWorkspace>(mainActor);
    workspace.reset();
    bool ran = false;
    mainActor.post([&] { ran = true; });
    EXPECT_TRUE(runUntil([&] { return ran; }, 5000));
}

// logind played on the session bus: the workspace is handed the session bus as its system bus.
class LogindWorkspaceTest : public WorkspaceIntegrationTest {
protected:
    void SetUp() override {
        WorkspaceIntegrationTest::SetUp();
        if (IsSkipped()) {
            return;
        }
        logindBus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, kLogindBusName);
        ASSERT_TRUE(logindBus.isConnected());
        ASSERT_TRUE(logindBus.registerObject("/org/freedesktop/login1", &manager,
                                             QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(logindBus.registerObject(FakeLogin1Manager::sessionPath, &session,
                                             QDBusConnection::ExportAllProperties));
        ASSERT_TRUE(logindBus.registerService("org.freedesktop.login1"))
            << logindBus.lastError().message().toStdString();
    }
    void TearDown() override {
        if (logindBus.isConnected()) {
            logindBus.unregisterService("org.freedesktop.login1");
            logindBus.unregisterObject(FakeLogin1Manager::sessionPath);
            logindBus.unregisterObject("/org/freedesktop/login1");
            QDBusConnection::disconnectFromBus(kLogindBusName);
        }
    }

    static void emitActive(const QString& changed, const QString& invalidated = "@as []",
                           const QString& interface = "'org.freedesktop.login1.Session'") {
        emitSignal(FakeLogin1Manager::sessionPath,
                   "org.freedesktop.DBus.Properties.PropertiesChanged",
                   {interface, changed, invalidated});
    }

    // Emits the change until the workspace, once logind has told it its session, reports it.
    static bool emitUntilReported(EventRecorder& recorder, const QString& changed) {
        const qsizetype before = recorder.events.size();
        QElapsedTimer elapsed;
        elapsed.start();
        while (elapsed.elapsed() < 5000) {
            emitActive(changed);
            if (runUntil([&] { return recorder.events.size() > before; }, 100)) {
                return true;
            }
        }
        return false;
    }

    static constexpr auto kLogindBusName = "zorvik-fake-login1";
    // Its own connection, so that the workspace's calls go through the bus daemon.
    QDBusConnection logindBus{QString()};
    FakeLogin1Manager manager;
    FakeLogin1Session session;
    EnvironmentOverride environment;
};

TEST_F(LogindWorkspaceTest, PrepareForSleepTellsSleepAndWake) {
    LinuxWorkspace workspace(mainActor, QDBusConnection::sessionBus(),
                             QDBusConnection::sessionBus());
    EventRecorder recorder(workspace);
    settle();
    emitSignal("/org/freedesktop/login1", "org.freedesktop.login1.Manager.PrepareForSleep",
               {"true"});
    ASSERT_TRUE(recorder.waitFor(1));
    emitSignal("/org/freedesktop/login1", "org.freedesktop.login1.Manager.PrepareForSleep",
               {"false"});
    ASSERT_TRUE(recorder.waitFor(2));
    EXPECT_EQ(recorder.events, (QStringList{"willSleep", "didWake"}));
}

TEST_F(LogindWorkspaceTest, TheSessionIsFoundByItsIdAndItsActivityReported) {
    environment.set("XDG_SESSION_ID", "c7");
    LinuxWorkspace workspace(mainActor, QDBusConnection::sessionBus(),
                             QDBusConnection::sessionBus());
    EventRecorder recorder(workspace);
    ASSERT_TRUE(emitUntilReported(recorder, "{'Active': <false>}"));
    EXPECT_EQ(manager.calls, QStringList{"GetSession c7"});
    emitActive("{'Active': <true>}");
    ASSERT_TRUE(recorder.waitFor(2));
    EXPECT_EQ(recorder.events, (QStringList{"sessionDidResignActive", "sessionDidBecomeActive"}));
}

TEST_F(LogindWorkspaceTest, AnUnknownIdFallsBackToOurProcess) {
    environment.set("XDG_SESSION_ID", "gone");
    LinuxWorkspace workspace(mainActor, QDBusConnection::sessionBus(),
                             QDBusConnection::sessionBus());
    EventRecorder recorder(workspace);
    ASSERT_TRUE(emitUntilReported(recorder, "{'Active': <false>}"));
    EXPECT_EQ(manager.calls, (QStringList{"GetSession gone",
                                          QStringLiteral("GetSessionByPID %1").arg(::getpid())}));
}

TEST_F(LogindWorkspaceTest, OtherInterfacesAndUnchangedActivityReportNothing) {
    environment.unset("XDG_SESSION_ID");
    LinuxWorkspace workspace(mainActor, QDBusConnection::sessionBus(),
                             QDBusConnection::sessionBus());
    EventRecorder recorder(workspace);
    ASSERT_TRUE(emitUntilReported(recorder, "{'Active': <false>}"));
    EXPECT_EQ(manager.calls, QStringList{QStringLiteral("GetSessionByPID %1").arg(::getpid())});
    emitActive("{'Active': <true>}", "@as []", "'org.freedesktop.login1.User'");
    emitActive("{'Active': <false>}");
    emitActive("{'IdleHint': <true>}");
    emitActive("{'Active': <'yes'>}");
    // The end marker.
    emitActive("{'Active': <true>}");
    ASSERT_TRUE(recorder.waitFor(2));
    EXPECT_EQ(recorder.events, (QStringList{"sessionDidResignActive", "sessionDidBecomeActive"}));
}

TEST_F(LogindWorkspaceTest, AnInvalidatedActivityIsReadBack) {
    LinuxWorkspace workspace(mainActor, QDBusConnection::sessionBus(),
                             QDBusConnection::sessionBus());
    EventRecorder recorder(workspace);
    ASSERT_TRUE(emitUntilReported(recorder, "{'Active': <true>}"));
    session.isActive = false;
    emitActive("@a{sv} {}", "['Active']");
    ASSERT_TRUE(recorder.waitFor(2));
    EXPECT_EQ(recorder.events, (QStringList{"sessionDidBecomeActive", "sessionDidResignActive"}));
}

// Settings programs that only write down how they were started.
class SettingsProgramsTest : public WorkspaceIntegrationTest {
protected:
    void SetUp() override {
        WorkspaceIntegrationTest::SetUp();
        if (IsSkipped()) {
            return;
        }
        ASSERT_TRUE(directory.isValid());
        ASSERT_TRUE(QDir(directory.path()).mkdir("bin"));
        environment.set("PATH", QFile::encodeName(directory.filePath("bin")));
        environment.unset("XDG_CURRENT_DESKTOP");
    }

    void install(const QString& program) {
        QFile script(directory.filePath("bin/" + program));
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\nprintf '%s %s\\n' \"${0##*/}\" \"$*\" >>'" +
                     QFile::encodeName(directory.filePath("started")) + "'\n");
        script.close();
        ASSERT_TRUE(script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }

    // The programs started so far, as "name arguments"; waits (bounded) for `count` of them.
    QStringList started(qsizetype count) {
        QStringList lines;
        runUntil(
            [&] {
                QFile file(directory.filePath("started"));
                lines = file.open(QIODevice::ReadOnly)
                            ? QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts)
                            : QStringList();
                return lines.size() >= count;
            },
            5000);
        return lines;
    }

    QTemporaryDir directory;
    EnvironmentOverride environment;
};

TEST_F(SettingsProgramsTest, NoSettingsProgramMeansNothingOpens) {
    LinuxWorkspace workspace(mainActor);
    EXPECT_FALSE(workspace.openURL(Workspace::iCloudSettingsURL));
    EXPECT_FALSE(workspace.openURL(Workspace::notificationSettingsURL));
    EXPECT_FALSE(workspace.openURL("x-apple.systempreferences:com.apple.Displays-Settings"));
    EXPECT_NO_THROW(workspace.openApplication(Workspace::systemSettingsApplication));
    EXPECT_NO_THROW(workspace.openApplication(directory.filePath("bin/nothing-here")));
}

TEST_F(SettingsProgramsTest, PanesOpenInTheFirstProgramThatHasThem) {
    install("gnome-control-center");
    install("systemsettings");
    install("xfce4-settings-manager");
    LinuxWorkspace workspace(mainActor);
    EXPECT_TRUE(workspace.openURL(Workspace::iCloudSettingsURL));
    EXPECT_EQ(started(1), QStringList{"gnome-control-center online-accounts"});
    EXPECT_TRUE(workspace.openURL(Workspace::notificationSettingsURL));
    EXPECT_EQ(started(2), (QStringList{"gnome-control-center online-accounts",
                                       "gnome-control-center notifications"}));
}

TEST_F(SettingsProgramsTest, TheRunningDesktopsProgramComesFirst) {
    install("gnome-control-center");
    install("systemsettings");
    environment.set("XDG_CURRENT_DESKTOP", "KDE");
    LinuxWorkspace workspace(mainActor);
    // Each program is waited for before the next, as they run side by side.
    EXPECT_TRUE(workspace.openURL(Workspace::notificationSettingsURL));
    EXPECT_EQ(started(1), QStringList{"systemsettings kcm_notifications"});
    EXPECT_TRUE(workspace.openURL(Workspace::iCloudSettingsURL));
    EXPECT_EQ(started(2).value(1), "systemsettings kcm_kaccounts");
    workspace.openApplication(Workspace::systemSettingsApplication);
    EXPECT_EQ(started(3).value(2), "systemsettings ");
}

TEST_F(SettingsProgramsTest, AProgramWithoutThePaneOnlyOpensAsTheApplication) {
    install("xfce4-settings-manager");
    environment.set("XDG_CURRENT_DESKTOP", "XFCE");
    LinuxWorkspace workspace(mainActor);
    EXPECT_FALSE(workspace.openURL(Workspace::iCloudSettingsURL));
    EXPECT_FALSE(workspace.openURL(Workspace::notificationSettingsURL));
    workspace.openApplication(Workspace::systemSettingsApplication);
    EXPECT_EQ(started(1), QStringList{"xfce4-settings-manager "});
}

}  // namespace

#include "WorkspaceIntegrationTests.moc"
