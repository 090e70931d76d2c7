// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <tuple>

#include "ZorvikMac/CodeDelivery/ClipboardPublisher.h"
#include "ZorvikMac/CodeDelivery/Notifier.h"
#include "platform/linux/QtMainActor.h"
#include "platform/linux/desktop/FreedesktopNotificationCenter.h"
#include "tests/support/FakePasteboard.h"
#include "tests/support/RecordingSystemLog.h"
#include "tests/support/SessionEnvironment.h"
#include "tests/support/SessionProcess.h"

namespace {

// dunst's own command-line client: what the notification server shows, and the user's clicks.
QByteArray dunstctl(const QStringList& arguments) {
    const ProcessRun run = runProcess(QStringLiteral("dunstctl"), arguments);
    if (!run.finished || run.exitCode != 0) {
        ADD_FAILURE() << "dunstctl " << arguments.join(' ').toStdString()
                      << " failed: " << run.errors.toStdString();
    }
    return run.output;
}

int displayedCount() {
    return dunstctl({"count", "displayed"}).trimmed().toInt();
}

bool untilDisplayed(int count, int timeoutMs = 5000, int pollMs = 50) {
    return runEventsUntil([count] { return displayedCount() == count; }, timeoutMs, pollMs);
}

// Watches the session bus with dbus-monitor and reads back the Notify calls it saw.
class NotifyMonitor {
public:
    NotifyMonitor() {
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.start("dbus-monitor",
                       {"--session", "interface='org.freedesktop.Notifications',member='Notify'"});
        // It reports its own name going away once it has become a monitor.
        ready = runEventsUntil([this] { return output().contains("member=NameLost"); }, 5000);
    }
    ~NotifyMonitor() {
        process_.terminate();
        process_.waitForFinished(2000);
    }

    QString output() { return buffer_ += QString::fromUtf8(process_.readAllStandardOutput()); }

    bool ready = false;

    // Each call's arguments as dbus-monitor prints them, on one line.
    QStringList calls() {
        QStringList found;
        for (const QString& message : output().split(QRegularExpression("\n(?! )"))) {
            if (message.startsWith("method call") && message.contains("member=Notify")) {
                found.append(message.section('\n', 1).simplified());
            }
        }
        return found;
    }

private:
    QProcess process_;
    QString buffer_;
};

std::optional<NotificationState> askNotificationState(Notifier& notifier, MainActor& actor) {
    std::optional<NotificationState> state;
    auto ask = [](Notifier& notifier, std::optional<NotificationState>& into) -> Task<void> {
        into = co_await notifier.notificationState();
    };
    actor.spawn(ask(notifier, state));
    runEventsUntil([&] { return state.has_value(); }, 15000);
    return state;
}

// A code from `device`, received now, that expires `expiresIn` seconds from now.
LatestCode code(const MainActor& actor, const QString& digits, double expiresIn,
                const QString& device = "Pixel 8") {
    const Instant at = actor.now();
    return {"Work GitHub", "github", digits, device, at, at, addingSeconds(at, expiresIn)};
}

// Closes whatever dunst shows; one is locked while its context menu is open, so it repeats.
bool closeAllNotifications() {
    return runEventsUntil([] { return dunstctl({"close-all"}), displayedCount() == 0; }, 3000, 50);
}

// A process's real centre and notifier on its session bus; the clipboard is a fake.
struct Notifying {
    Notifying() { notifier.setUp(); }
    bool untilAuthorized() {
        return runEventsUntil([this] { return notifier.authorized; }, 5000);
    }

    QtMainActor actor;
    FakePasteboard pasteboard;
    ClipboardPublisher clipboard{pasteboard, actor};
    RecordingSystemLog log;
    FreedesktopNotificationCenter center{
        QDBusConnection::sessionBus(), ShownNotificationsFile::standardDirectory(), nullptr, &log};
    Notifier notifier{center, actor, clipboard};
};

// Runs against the session's dunst. The fixture stands between the centre and the notifier to see
// which actions reach the delegate.
class NotificationIntegration : public testing::Test, public UserNotificationCenter::Delegate {
protected:
    void SetUp() override {
        REQUIRE_DESKTOP_SESSION();
        ASSERT_TRUE(closeAllNotifications());
        app = std::make_unique<Notifying>();
        app->center.setDelegate(this);
        ASSERT_TRUE(app->untilAuthorized()) << "the authorization answer did not arrive";
    }
    void TearDown() override {
        if (insideDesktopSession()) {
            app.reset();
            closeAllNotifications();
        }
    }

    void didReceive(const UserNotificationCenter::Response& response,
                    std::function<void()> done) override {
        actions.append(response.actionIdentifier);
        app->notifier.didReceive(response, std::move(done));
    }

    std::optional<QString> copied() const { return app->pasteboard.string(Pasteboard::stringType); }

    std::unique_ptr<Notifying> app;
    QStringList actions;
};

// A running server means notifications are allowed; as this one reads no markup, the body goes
// out as plain text. A new code replaces the one shown, even when posted before the server has
// answered the first, until the user closes it.
TEST_F(NotificationIntegration, ShowsAccountCodeAndDeviceAndANewCodeReplacesItUntilClosed) {
    EXPECT_EQ(askNotificationState(app->notifier, app->actor), NotificationState::allowed);
    NotifyMonitor monitor;
    ASSERT_TRUE(monitor.ready) << monitor.output().toStdString();
    const auto untilCalls = [&](int count) {
        return runEventsUntil([&] { return monitor.calls().size() == count; }, 5000, 50);
    };
    app->notifier.post(code(app->actor, "12345678", 60, "Tom & Jerry <3"));
    app->notifier.post(code(app->actor, "222222", 60));
    ASSERT_TRUE(untilCalls(2));
    ASSERT_TRUE(untilDisplayed(1));
    runEventsFor(200);
    EXPECT_EQ(displayedCount(), 1);
    QString call = monitor.calls().at(0);
    // The hints, in any order, and the call without them.
    for (const QString hint :
         {R"(string "desktop-entry" variant string "net.brontal.zorvik")",
          R"(string "urgency" variant byte 1)",
          R"(string "x-zorvik-category" variant string "net.brontal.zorvik.mac.code")"}) {
        EXPECT_TRUE(call.contains("dict entry( " + hint + " ) ")) << hint.toStdString();
        call.remove("dict entry( " + hint + " ) ");
    }
    // The server takes it away by itself at the code's expiry: 60 s less the moments since.
    const QRegularExpressionMatch timeout = QRegularExpression(" int32 (\\d+)$").match(call);
    ASSERT_TRUE(timeout.hasMatch()) << call.toStdString();
    EXPECT_GT(timeout.captured(1).toInt(), 59000);
    EXPECT_LE(timeout.captured(1).toInt(), 60000);
    call.remove(timeout.capturedStart(), timeout.capturedLength());
    EXPECT_EQ(call.toUtf8(), R"(string "Zorvik" uint32 0 string "" string "Work GitHub" )"
                             "string \"1234 5678 \xc2\xb7 from Tom & Jerry <3\" "
                             R"(array [ string "default" string "" string "copy" string "Copy" ] )"
                             "array [ ]");
    EXPECT_NE(monitor.calls().at(1).section(' ', 2, 3), "uint32 0");
    EXPECT_TRUE(monitor.calls().at(1).contains("222 222"));

    dunstctl({"close"});
    ASSERT_TRUE(untilDisplayed(0));
    runEventsFor(200);  // lets the centre take in NotificationClosed
    app->notifier.post(code(app->actor, "333333", 60));
    ASSERT_TRUE(untilCalls(3));
    EXPECT_EQ(monitor.calls().at(2).section(' ', 2, 3), "uint32 0");
    EXPECT_TRUE(untilDisplayed(1));
}

TEST_F(NotificationIntegration, CopyButtonAndClickOnTheBodyReachTheDelegateAndCopyThePlainCode) {
    const std::tuple<QStringList, QString, QString> cases[] = {
        {{"context"}, "copy", "123456"},  // the session's dmenu picks the action labelled "Copy"
        {{"action", "0"}, "default", "654321"}};
    for (const auto& [command, action, digits] : cases) {
        SCOPED_TRACE(action.toStdString());
        actions.clear();
        app->notifier.post(code(app->actor, digits, 60));
        ASSERT_TRUE(untilDisplayed(1));
        dunstctl(command);
        ASSERT_TRUE(runEventsUntil([&, digits = digits] { return copied() == digits; }, 5000));
        EXPECT_EQ(actions, QStringList{action});
        ASSERT_TRUE(closeAllNotifications());
    }
}

TEST_F(NotificationIntegration, AnExpiredCodeIsClosedAboutOneSecondAfterPosting) {
    QElapsedTimer sincePost;
    sincePost.start();
    app->notifier.post(code(app->actor, "111111", -30));
    ASSERT_TRUE(untilDisplayed(1, 900)) << "not shown before its removal was due";
    ASSERT_TRUE(untilDisplayed(0, 4000, 25));
    EXPECT_GE(sincePost.elapsed(), 950);
    EXPECT_LE(sincePost.elapsed(), 3000);
    EXPECT_TRUE(app->pasteboard.entries.isEmpty()) << "a close is no click";
}

// A process that posted a code and then ended: the test runs itself again, and the child posts
// the code (expiring in the marker's seconds) and quits normally or dies as a crash or a kill
// would, with no tidying at all.
constexpr auto kEndingMarker = "ZORVIK_NOTIFICATION_TEST_ENDING";

// The record of the notifications on show, in the shared files' directory.
QStringList recordFiles() {
    const QDir directory(*ShownNotificationsFile::standardDirectory());
    QStringList paths;
    for (const QString& name : directory.entryList({"shown-notifications-*.json"}, QDir::Files)) {
        paths.append(directory.filePath(name));
    }
    return paths;
}

// Runs the test `filter` of this binary again with `marker` set to `value` in its environment, so
// that it does its part there, on a bus of its own when `busConfig` names one.
void runAgain(const char* marker, const QByteArray& value, const QString& filter,
              const QString& busConfig = {}) {
    qputenv(marker, value);  // for the child only
    const QStringList self{QCoreApplication::applicationFilePath(), "--gtest_filter=" + filter};
    const ProcessRun run =
        busConfig.isEmpty()
            ? runProcess(self[0], self.mid(1), 60000)
            : runProcess("dbus-run-session", QStringList{"--config-file=" + busConfig, "--"} + self,
                         60000);
    qunsetenv(marker);
    const std::string output = (run.output + run.errors).toStdString();
    ASSERT_TRUE(run.finished && run.exitCode == 0) << output;
    if (!value.startsWith("dies")) {  // a child that dies as a crash would prints no summary
        ASSERT_TRUE(run.output.contains("[  PASSED  ] 1 test.")) << output;
    }
}

void postThenEnd(bool dies, double expiresIn) {
    Notifying app;
    ASSERT_TRUE(app.untilAuthorized());
    app.notifier.post(code(app.actor, "482913", expiresIn));
    // Well before the notifier's own removal, due after a second.
    ASSERT_TRUE(
        runEventsUntil([] { return displayedCount() == 1 && !recordFiles().isEmpty(); }, 800, 20));
    if (dies) {
        std::_Exit(0);
    }
}

TEST(NotificationAfterItsProcess, NoNotificationOutlivesTheProcessThatAnswersItsCopyButton) {
    REQUIRE_DESKTOP_SESSION();
    if (qEnvironmentVariableIsSet(kEndingMarker)) {
        const QStringList how = qEnvironmentVariable(kEndingMarker).split(' ');
        postThenEnd(how[0] == "dies", how[1].toDouble());
        return;
    }
    ASSERT_TRUE(closeAllNotifications());
    const struct {
        const char* how;
        double expiresIn;
        int leftShown;  // right after the process ended
    } cases[] = {
        {"quits 60", 60, 0},   // the centre closes its own on the way out
        {"dies 60", 60, 1},    // the next centre closes it
        {"dies 1.5", 1.5, 1},  // the server closes it at its 1.5 s expire timeout
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        ASSERT_NO_FATAL_FAILURE(runAgain(kEndingMarker, c.how, "NotificationAfterItsProcess.*"));
        ASSERT_EQ(displayedCount(), c.leftShown);
        if (c.expiresIn < 2) {
            EXPECT_TRUE(untilDisplayed(0, 2000, 20));
        } else if (c.leftShown == 1) {
            const QStringList records = recordFiles();
            ASSERT_EQ(records.size(), 1);
            QFile record(records[0]);
            ASSERT_TRUE(record.open(QIODevice::ReadOnly));
            EXPECT_FALSE(record.readAll().contains("482913"));
            runEventsFor(300);
            EXPECT_EQ(displayedCount(), 1) << "nothing else closes it";
        }
        FreedesktopNotificationCenter next;
        EXPECT_TRUE(untilDisplayed(0));
        EXPECT_TRUE(runEventsUntil([] { return recordFiles().isEmpty(); }));
    }
}

// The bodies dunst keeps in its history, newest first.
QStringList historyBodies() {
    dunstctl({"close-all"});
    QStringList bodies;
    const QJsonArray shown =
        QJsonDocument::fromJson(dunstctl({"history"})).object()["data"].toArray()[0].toArray();
    for (const QJsonValue& notification : shown) {
        bodies.append(notification["body"]["data"].toString());
    }
    return bodies;
}

bool serverOnTheBus() {
    return QDBusConnection::sessionBus().interface()->isServiceRegistered(
        QStringLiteral("org.freedesktop.Notifications"));
}

constexpr auto kPrivateBusMarker = "ZORVIK_NOTIFICATION_TEST_PRIVATE_BUS";

// The test runs itself again on a bus of its own: first with no notification server there, then
// with a dunst that reads markup in the body, as dunst's own default configuration has it.
TEST(NotificationOnABusOfItsOwn, WithoutAServerItSaysSoAndAMarkupServerGetsTheBodyEscaped) {
    REQUIRE_DESKTOP_SESSION();
    if (!qEnvironmentVariableIsSet(kPrivateBusMarker)) {
        QTemporaryDir directory;
        runAgain(
            kPrivateBusMarker, "1",
            "NotificationOnABusOfItsOwn.WithoutAServerItSaysSoAndAMarkupServerGetsTheBodyEscaped",
            writePrivateBusConfig(directory.path()));
        return;
    }
    ASSERT_FALSE(serverOnTheBus());
    {
        Notifying app;
        std::optional<bool> granted;
        app.center.requestAuthorization(
            [&](bool answer, std::optional<QString>) { granted = answer; });
        EXPECT_EQ(askNotificationState(app.notifier, app.actor), NotificationState::noService)
            << "no server is nothing the user turned off";
        ASSERT_TRUE(runEventsUntil([&] { return granted.has_value(); }, 15000));
        EXPECT_EQ(granted, false);
        app.notifier.post(code(app.actor, "123456", 60));
        ASSERT_TRUE(runEventsUntil([&] { return !app.log.lines.empty(); }, 15000));
        EXPECT_EQ(app.log.lines[0].level, LogLevel::error);
        EXPECT_TRUE(app.log.lines[0].message.startsWith("the notification could not be shown: "))
            << app.log.lines[0].message.toStdString();
        EXPECT_FALSE(app.log.lines[0].message.contains("123456"));
    }

    QTemporaryDir directory;
    QFile config(directory.filePath("dunstrc"));
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    config.write("[global]\n    markup = full\n");
    config.close();
    QProcess dunst;
    dunst.setStandardErrorFile(directory.filePath("dunst.err"));
    dunst.start("dunst", {"-config", config.fileName()});
    ASSERT_TRUE(runEventsUntil(serverOnTheBus, 10000));
    Notifying app;
    ASSERT_TRUE(app.untilAuthorized());
    app.notifier.post(code(app.actor, "482913", 60, "Tom & Jerry <3"));
    ASSERT_TRUE(untilDisplayed(1));
    const QStringList bodies = historyBodies();
    ASSERT_EQ(bodies.size(), 1);
    EXPECT_TRUE(bodies[0].contains("Tom &amp; Jerry &lt;3")) << bodies[0].toStdString();
    QFile errors(directory.filePath("dunst.err"));
    ASSERT_TRUE(errors.open(QIODevice::ReadOnly));
    EXPECT_FALSE(errors.readAll().contains("Unable to parse markup"));
    dunst.terminate();
    dunst.waitForFinished(3000);
}

}  // namespace
