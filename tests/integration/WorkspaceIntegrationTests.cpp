// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusObjectPath>
#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QTemporaryDir>
#include <QTest>
#include <map>
#include <memory>
#include <optional>

#include "platform/linux/LinuxWorkspace.h"
#include "platform/linux/QtMainActor.h"
#include "tests/support/QStringPrinter.h"
#include "tests/support/SessionEnvironment.h"
#include "tests/support/SessionProcess.h"

// logind's manager as far as the workspace asks it: which session a process or an id is in.
class FakeLogin1Manager : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")

public:
    static constexpr auto sessionPath = "/org/freedesktop/login1/session/_3fake";

    QStringList calls;

public Q_SLOTS:
    QDBusObjectPath GetSession(const QString& id) {
        calls << QStringLiteral("GetSession ") + id;
        if (id != QLatin1String("c7")) {
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

// Every event the workspace reports, by name, in order.
class EventRecorder {
public:
    explicit EventRecorder(Workspace& workspace) {
        const auto names = QString(
                               "willSleep didWake screensDidSleep screensDidWake "
                               "sessionDidResignActive sessionDidBecomeActive")
                               .split(' ');
        for (int event = 0; event <= int(Event::sessionDidBecomeActive); ++event) {
            workspace.addObserver(Event(event), [this, name = names[event]] { events << name; });
        }
    }
    bool waitFor(qsizetype count, int timeoutMs = 5000) {
        return QTest::qWaitFor([&] { return events.size() >= count; }, timeoutMs);
    }

    QStringList events;
};

// Emits a signal on the session bus from another process, as a desktop component would.
void emitSignal(const QString& path, const QString& signal, const QStringList& arguments) {
    const ProcessRun gdbus = runProcess(
        "gdbus",
        QStringList{"emit", "--session", "--object-path", path, "--signal", signal} + arguments);
    ASSERT_EQ(gdbus.exitCode, 0) << signal.toStdString() << ": " << gdbus.errors.toStdString();
}

// ActiveChanged from the screensaver of `desktop` ("gnome" or "freedesktop").
void screenSaver(const QString& desktop, const char* active) {
    emitSignal("/org/" + desktop + "/ScreenSaver", "org." + desktop + ".ScreenSaver.ActiveChanged",
               {active});
}

class WorkspaceIntegrationTest : public testing::Test {
protected:
    void SetUp() override {
        REQUIRE_DESKTOP_SESSION();
        ASSERT_TRUE(QDBusConnection::sessionBus().isConnected());
    }
    ~WorkspaceIntegrationTest() override {
        for (const auto& [name, value] : savedEnvironment_) {
            value ? qputenv(name.constData(), *value) : qunsetenv(name.constData());
        }
    }

    void setEnvironment(const char* name, const std::optional<QByteArray>& value) {
        savedEnvironment_.try_emplace(
            name, qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt);
        value ? qputenv(name, *value) : qunsetenv(name);
    }

    // Lets the workspace start listening (from the main queue), then makes one round trip on the
    // session bus, so that the bus has its match rules before anything is emitted.
    void settle() {
        bool ran = false;
        mainActor.post([&] { ran = true; });
        ASSERT_TRUE(QTest::qWaitFor([&] { return ran; }));
        ASSERT_TRUE(QDBusConnection::sessionBus()
                        .interface()
                        ->isServiceRegistered(QStringLiteral("org.freedesktop.DBus"))
                        .value());
    }

    QtMainActor mainActor;

private:
    std::map<QByteArray, std::optional<QByteArray>> savedEnvironment_;
};

TEST_F(WorkspaceIntegrationTest, BothScreenSaversTellScreenChangesOnceAndNothingElseCounts) {
    QElapsedTimer elapsed;
    elapsed.start();
    LinuxWorkspace workspace(mainActor);
    EXPECT_LT(elapsed.elapsed(), 100) << "construction must not wait for a bus";
    EventRecorder recorder(workspace);
    settle();
    EXPECT_LT(elapsed.elapsed(), 2000) << "starting to listen must not wait either";
    // The same member on another interface or path counts for nothing; taken, it would show as a
    // wake before the first sleep.
    emitSignal("/org/gnome/ScreenSaver", "org.example.ScreenSaver.ActiveChanged", {"false"});
    emitSignal("/org/gnome/Other", "org.gnome.ScreenSaver.ActiveChanged", {"false"});
    emitSignal("/ScreenSaver", "org.freedesktop.ScreenSaver.ActiveChanged", {"false"});
    emitSignal("/org/freedesktop/ScreenSaver", "org.gnome.ScreenSaver.ActiveChanged", {"false"});
    screenSaver("gnome", "true");
    screenSaver("freedesktop", "true");
    screenSaver("freedesktop", "false");
    screenSaver("gnome", "true");
    ASSERT_TRUE(recorder.waitFor(3)) << recorder.events.join(' ').toStdString();
    EXPECT_EQ(recorder.events,
              (QStringList{"screensDidSleep", "screensDidWake", "screensDidSleep"}));
}

TEST_F(WorkspaceIntegrationTest, MissingBusesGiveNoEventsAndDoNotHoldUpTheOthers) {
    QTemporaryDir directory;
    const QString address = QStringLiteral("unix:path=") + directory.filePath("no-bus");
    const QDBusConnection missing = QDBusConnection::connectToBus(address, "zorvik-missing-bus");
    ASSERT_FALSE(missing.isConnected());
    for (const bool withSessionBus : {true, false}) {
        QElapsedTimer elapsed;
        elapsed.start();
        LinuxWorkspace workspace(mainActor, missing,
                                 withSessionBus ? QDBusConnection::sessionBus() : missing);
        EventRecorder recorder(workspace);
        settle();
        EXPECT_LT(elapsed.elapsed(), 2000);
        screenSaver("gnome", "true");
        (void)recorder.waitFor(1, withSessionBus ? 5000 : 200);  // or long enough to see none
        EXPECT_EQ(recorder.events, withSessionBus ? QStringList{"screensDidSleep"} : QStringList());
    }
    QDBusConnection::disconnectFromBus("zorvik-missing-bus");
}

TEST_F(WorkspaceIntegrationTest, AWorkspaceGoneBeforeItListensDoesNothing) {
    std::make_unique<LinuxWorkspace>(mainActor).reset();
    settle();
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
            QDBusConnection::disconnectFromBus(kLogindBusName);
        }
    }

    std::unique_ptr<LinuxWorkspace> makeWorkspace() {
        return std::make_unique<LinuxWorkspace>(mainActor, QDBusConnection::sessionBus(),
                                                QDBusConnection::sessionBus());
    }

    static void emitActive(const QString& changed, const QString& invalidated = "@as []",
                           const QString& interface = "'org.freedesktop.login1.Session'",
                           const QString& path = FakeLogin1Manager::sessionPath) {
        emitSignal(path, "org.freedesktop.DBus.Properties.PropertiesChanged",
                   {interface, changed, invalidated});
    }

    // Emits the change until the workspace, once logind has told it its session, reports it.
    static bool emitUntilReported(EventRecorder& recorder, const QString& changed) {
        const qsizetype before = recorder.events.size();
        return QTest::qWaitFor([&] {
            emitActive(changed);
            return recorder.waitFor(before + 1, 100);
        });
    }

    static constexpr auto kLogindBusName = "zorvik-fake-login1";
    // Its own connection, so that the workspace's calls go through the bus daemon.
    QDBusConnection logindBus{QString()};
    FakeLogin1Manager manager;
    FakeLogin1Session session;
};

TEST_F(LogindWorkspaceTest, TheSessionIsFoundByItsIdElseByOurProcess) {
    const QString byPid = QStringLiteral("GetSessionByPID %1").arg(::getpid());
    const struct {
        std::optional<QByteArray> sessionId;
        QStringList calls;
    } cases[] = {
        {"c7", {"GetSession c7"}},
        {"gone", {"GetSession gone", byPid}},
        {std::nullopt, {byPid}},
    };
    for (const auto& c : cases) {
        setEnvironment("XDG_SESSION_ID", c.sessionId);
        manager.calls.clear();
        const auto workspace = makeWorkspace();
        EventRecorder recorder(*workspace);
        ASSERT_TRUE(emitUntilReported(recorder, "{'Active': <false>}"));
        EXPECT_EQ(manager.calls, c.calls);
        EXPECT_EQ(recorder.events, QStringList{"sessionDidResignActive"});
    }
}

// PrepareForSleep from the manager tells sleep and wake; our session's activity is reported on
// change and read back when invalidated; the same members elsewhere count for nothing.
TEST_F(LogindWorkspaceTest, SleepAndOurSessionsActivityAreReported) {
    const auto workspace = makeWorkspace();
    EventRecorder recorder(*workspace);
    ASSERT_TRUE(emitUntilReported(recorder, "{'Active': <false>}"));
    emitActive("{'Active': <true>}", "@as []", "'org.freedesktop.login1.User'");
    emitActive("{'Active': <true>}", "@as []", "'org.freedesktop.login1.Session'",
               "/org/freedesktop/login1/session/other");
    emitActive("{'Active': <'yes'>}");
    emitActive("{'IdleHint': <true>}");
    emitActive("{'Active': <false>}");
    emitSignal("/org/freedesktop/login1", "org.example.Manager.PrepareForSleep", {"true"});
    emitSignal("/org/freedesktop/login2", "org.freedesktop.login1.Manager.PrepareForSleep",
               {"true"});
    // Marks the end: an event from any signal before it would come first.
    screenSaver("gnome", "true");
    for (const char* start : {"true", "false"}) {
        emitSignal("/org/freedesktop/login1", "org.freedesktop.login1.Manager.PrepareForSleep",
                   {start});
    }
    emitActive("{'Active': <true>}");
    ASSERT_TRUE(recorder.waitFor(5));
    session.isActive = false;
    emitActive("@a{sv} {}", "['Active']");
    ASSERT_TRUE(recorder.waitFor(6));
    EXPECT_EQ(recorder.events,
              (QStringList{"sessionDidResignActive", "screensDidSleep", "willSleep", "didWake",
                           "sessionDidBecomeActive", "sessionDidResignActive"}));
}

// Settings programs that only write down how they were started; the running desktop's come first.
TEST_F(WorkspaceIntegrationTest, PanesOpenInTheFirstSettingsProgramThatHasThem) {
    const struct {
        const char* desktop;
        QStringList installed;
        bool panesOpen;
        QStringList started;
    } cases[] = {
        {"", {}, false, {}},
        {"",
         {"gnome-control-center", "systemsettings", "xfce4-settings-manager"},
         true,
         {"gnome-control-center online-accounts", "gnome-control-center notifications",
          "gnome-control-center "}},
        {"KDE",
         {"gnome-control-center", "systemsettings"},
         true,
         {"systemsettings kcm_kaccounts", "systemsettings kcm_notifications", "systemsettings "}},
        {"XFCE", {"xfce4-settings-manager"}, false, {"xfce4-settings-manager "}},
    };
    for (const auto& c : cases) {
        QTemporaryDir directory;
        setEnvironment("PATH", QFile::encodeName(directory.path()));
        setEnvironment("XDG_CURRENT_DESKTOP", c.desktop);
        for (const QString& program : c.installed) {
            QFile script(directory.filePath(program));
            ASSERT_TRUE(script.open(QIODevice::WriteOnly));
            script.write("#!/bin/sh\nprintf '%s %s\\n' \"${0##*/}\" \"$*\" >>'" +
                         QFile::encodeName(directory.filePath("started")) + "'\n");
            ASSERT_TRUE(
                script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        }
        // The programs started so far; waits (bounded) for `count` of them, as they run side by
        // side and so must be started one at a time.
        const auto started = [&](qsizetype count) {
            QStringList lines;
            (void)QTest::qWaitFor([&] {
                QFile file(directory.filePath("started"));
                lines = file.open(QIODevice::ReadOnly)
                            ? QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts)
                            : QStringList();
                return lines.size() >= count;
            });
            return lines;
        };
        LinuxWorkspace workspace(mainActor);
        EXPECT_EQ(workspace.openURL(Workspace::iCloudSettingsURL), c.panesOpen) << c.desktop;
        started(c.panesOpen ? 1 : 0);
        EXPECT_EQ(workspace.openURL(Workspace::notificationSettingsURL), c.panesOpen) << c.desktop;
        started(c.panesOpen ? 2 : 0);
        EXPECT_FALSE(workspace.openURL("x-apple.systempreferences:com.apple.Displays-Settings"));
        workspace.openApplication(directory.filePath("nothing-here"));
        workspace.openApplication(Workspace::systemSettingsApplication);
        EXPECT_EQ(started(c.started.size()), c.started) << c.desktop;
    }
}

}  // namespace

#include "WorkspaceIntegrationTests.moc"
