#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

#include "ClipboardPublisher.h"
#include "FakePasteboard.h"
#include "FreedesktopNotificationCenter.h"
#include "Notifier.h"
#include "QtMainActor.h"
#include "SessionEnvironment.h"

namespace {

// Runs the event loop until `condition` holds, checking every `pollMs`; false after `timeoutMs`.
bool runUntil(const std::function<bool()>& condition, int timeoutMs, int pollMs = 20) {
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

void runFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// dunst's own command-line client: what the notification server shows, and the user's clicks.
QByteArray dunstctl(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral("dunstctl"), arguments);
    if (!process.waitForFinished(5000) || process.exitCode() != 0) {
        ADD_FAILURE() << "dunstctl " << arguments.join(' ').toStdString()
                      << " failed: " << process.readAllStandardError().toStdString();
    }
    return process.readAllStandardOutput();
}

int displayedCount() {
    return dunstctl({"count", "displayed"}).trimmed().toInt();
}

// Closes whatever dunst shows. A notification stays locked while its context menu is open, so
// closing is repeated until nothing is left.
bool closeAllNotifications() {
    return runUntil(
        [] {
            dunstctl({"close-all"});
            return displayedCount() == 0;
        },
        3000, 50);
}

// The notifications dunst keeps in its history (those that were closed), each as field → value.
QList<QVariantMap> dunstHistory() {
    QList<QVariantMap> history;
    const QJsonArray outer =
        QJsonDocument::fromJson(dunstctl({"history"})).object().value(u"data").toArray();
    for (const QJsonValue& entry : outer.at(0).toArray()) {
        QVariantMap fields;
        const QJsonObject object = entry.toObject();
        for (auto field = object.begin(); field != object.end(); ++field) {
            fields.insert(field.key(), field.value().toObject().value(u"data").toVariant());
        }
        history.append(fields);
    }
    return history;
}

// One Notify call as it went over the bus.
struct NotifyCall {
    QString appName;
    QString replacesId;
    QString appIcon;
    QString summary;
    QString body;
    QStringList actions;
    QMap<QString, QString> hints;  // key → "type value"
    QString expireTimeout;
};

// Watches the session bus with dbus-monitor and reads back the Notify calls it saw.
class NotifyMonitor {
public:
    NotifyMonitor() {
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.start(QStringLiteral("dbus-monitor"),
                       {"--session",
                        "type='method_call',interface='org.freedesktop.Notifications',"
                        "member='Notify'"});
        // It reports its own name going away once it has become a monitor.
        ready_ = runUntil([this] { return output().contains("member=NameLost"); }, 5000);
    }
    ~NotifyMonitor() {
        process_.terminate();
        process_.waitForFinished(2000);
    }
    bool ready() const { return ready_; }

    QString output() {
        buffer_ += QString::fromUtf8(process_.readAllStandardOutput());
        return buffer_;
    }

    QList<NotifyCall> calls() {
        QList<NotifyCall> found;
        QStringList lines;
        bool inNotify = false;
        const auto finish = [&] {
            if (inNotify) {
                found.append(parse(lines));
            }
            lines.clear();
        };
        for (const QString& line : output().split('\n')) {
            if (!line.startsWith(' ')) {
                finish();
                inNotify = line.startsWith("method call") && line.contains("member=Notify");
            } else if (inNotify) {
                lines.append(line.simplified());
            }
        }
        finish();
        return found;
    }

private:
    static QString unquoted(const QString& line) {
        const qsizetype first = line.indexOf('"');
        return line.mid(first + 1, line.lastIndexOf('"') - first - 1);
    }
    static QString value(const QString& line) { return line.section(' ', 1); }

    static NotifyCall parse(const QStringList& lines) {
        NotifyCall call;
        if (lines.size() < 8) {
            return call;
        }
        qsizetype at = 0;
        call.appName = unquoted(lines[at++]);
        call.replacesId = lines[at++];
        call.appIcon = unquoted(lines[at++]);
        call.summary = unquoted(lines[at++]);
        call.body = unquoted(lines[at++]);
        for (++at; at < lines.size() && lines[at] != "]"; ++at) {  // after "array ["
            call.actions.append(unquoted(lines[at]));
        }
        for (at += 2; at + 3 < lines.size() && lines[at] == "dict entry("; at += 4) {
            call.hints.insert(unquoted(lines[at + 1]), value(lines[at + 2]));
        }
        if (at + 1 < lines.size()) {
            call.expireTimeout = lines[at + 1];
        }
        return call;
    }

    QProcess process_;
    QString buffer_;
    bool ready_ = false;
};

// Stands between the centre and the notifier to see which action reached the delegate.
class RecordingDelegate final : public UserNotificationCenter::Delegate {
public:
    explicit RecordingDelegate(UserNotificationCenter::Delegate& next) : next_(next) {}
    void didReceive(const UserNotificationCenter::Response& response,
                    std::function<void()> done) override {
        actions.append(response.actionIdentifier);
        next_.didReceive(response, std::move(done));
    }
    QStringList actions;

private:
    UserNotificationCenter::Delegate& next_;
};

// Runs against the session's dunst with the real centre and notifier; the clipboard is a fake.
class NotificationIntegration : public testing::Test {
protected:
    void SetUp() override {
        REQUIRE_DESKTOP_SESSION();
        ASSERT_TRUE(closeAllNotifications());
        // dunst's history outlives each test; a test looks only at what it adds.
        for (const QVariantMap& entry : dunstHistory()) {
            earlierHistory.insert(entry.value("id").toInt());
        }
        center = std::make_unique<FreedesktopNotificationCenter>();
        notifier = std::make_unique<Notifier>(*center, actor, clipboard);
        notifier->setUp();
        recorder = std::make_unique<RecordingDelegate>(*notifier);
        center->setDelegate(recorder.get());
        ASSERT_TRUE(runUntil([this] { return notifier->authorized; }, 5000))
            << "the authorization answer did not arrive";
    }
    void TearDown() override {
        if (insideDesktopSession()) {
            notifier.reset();
            center.reset();
            closeAllNotifications();
        }
    }

    LatestCode code(const QString& digits, double expiresIn,
                    const QString& device = QStringLiteral("Test Phone")) const {
        return LatestCode{"alice@example.com",
                          "github",
                          digits,
                          device,
                          actor.now(),
                          actor.now(),
                          addingSeconds(actor.now(), expiresIn)};
    }

    // What this test's notifications left in dunst's history.
    QList<QVariantMap> newHistory() const {
        QList<QVariantMap> added;
        for (const QVariantMap& entry : dunstHistory()) {
            if (!earlierHistory.contains(entry.value("id").toInt())) {
                added.append(entry);
            }
        }
        return added;
    }

    std::optional<QString> copied() const { return pasteboard.string(Pasteboard::stringType); }

    QtMainActor actor;
    FakePasteboard pasteboard;
    ClipboardPublisher clipboard{pasteboard, actor};
    std::unique_ptr<FreedesktopNotificationCenter> center;
    std::unique_ptr<Notifier> notifier;
    std::unique_ptr<RecordingDelegate> recorder;
    QSet<int> earlierHistory;
};

TEST_F(NotificationIntegration, RunningServerMeansNotificationsAreAllowed) {
    std::optional<NotificationState> state;
    auto ask = [](Notifier& notifier, std::optional<NotificationState>& into) -> Task<void> {
        into = co_await notifier.notificationState();
    };
    actor.spawn(ask(*notifier, state));
    ASSERT_TRUE(runUntil([&] { return state.has_value(); }, 5000));
    EXPECT_EQ(state, NotificationState::allowed);
}

TEST_F(NotificationIntegration, NotificationShowsAccountDisplayCodeAndDevice) {
    NotifyMonitor monitor;
    ASSERT_TRUE(monitor.ready()) << monitor.output().toStdString();
    notifier->post(code("12345678", 60));
    ASSERT_TRUE(
        runUntil([&] { return monitor.calls().size() == 1 && displayedCount() == 1; }, 5000, 50));

    const NotifyCall call = monitor.calls().at(0);
    EXPECT_EQ(call.appName, "Zorvik");
    EXPECT_EQ(call.replacesId, "uint32 0");
    EXPECT_EQ(call.appIcon, "");
    EXPECT_EQ(call.summary, "alice@example.com");
    EXPECT_EQ(call.body.toUtf8(), "1234 5678 \xc2\xb7 from Test Phone");
    EXPECT_EQ(call.actions, (QStringList{"default", "", "copy", "Copy"}));
    const QMap<QString, QString> hints{
        {"urgency", "byte 2"},
        {"desktop-entry", "string \"net.brontal.zorvik\""},
        {"x-zorvik-category", "string \"net.brontal.zorvik.mac.code\""}};
    EXPECT_EQ(call.hints, hints);
    EXPECT_EQ(call.expireTimeout, "int32 -1");

    // What dunst made of it, read back once the notification is closed.
    dunstctl({"close"});
    ASSERT_TRUE(runUntil([this] { return newHistory().size() == 1; }, 5000, 50));
    const QVariantMap shown = newHistory().at(0);
    EXPECT_EQ(shown.value("appname").toString(), "Zorvik");
    EXPECT_EQ(shown.value("summary").toString(), "alice@example.com");
    EXPECT_EQ(shown.value("body").toString().toUtf8(), "1234 5678 \xc2\xb7 from Test Phone");
    EXPECT_EQ(shown.value("default_action_name").toString(), "default");
}

TEST_F(NotificationIntegration, NewCodeReplacesTheShownNotification) {
    NotifyMonitor monitor;
    ASSERT_TRUE(monitor.ready()) << monitor.output().toStdString();
    // Back to back: the second is added before the server has answered the first.
    notifier->post(code("111111", 60));
    notifier->post(code("222222", 60));
    ASSERT_TRUE(runUntil([&] { return monitor.calls().size() == 2; }, 5000, 50));
    runFor(200);
    EXPECT_EQ(displayedCount(), 1);
    const QList<NotifyCall> calls = monitor.calls();
    EXPECT_EQ(calls[0].replacesId, "uint32 0");
    EXPECT_NE(calls[1].replacesId, "uint32 0");
    EXPECT_EQ(calls[1].body.toUtf8(), "222 222 \xc2\xb7 from Test Phone");
}

TEST_F(NotificationIntegration, AfterTheUserClosesItTheNextCodeShowsAFreshNotification) {
    NotifyMonitor monitor;
    ASSERT_TRUE(monitor.ready()) << monitor.output().toStdString();
    notifier->post(code("111111", 60));
    ASSERT_TRUE(runUntil([&] { return displayedCount() == 1; }, 5000, 50));
    dunstctl({"close"});
    ASSERT_TRUE(runUntil([&] { return displayedCount() == 0; }, 5000, 50));
    runFor(200);  // lets the centre take in NotificationClosed
    notifier->post(code("222222", 60));
    ASSERT_TRUE(runUntil([&] { return monitor.calls().size() == 2; }, 5000, 50));
    EXPECT_EQ(monitor.calls().at(1).replacesId, "uint32 0");
    EXPECT_TRUE(runUntil([&] { return displayedCount() == 1; }, 5000, 50));
}

TEST_F(NotificationIntegration, CopyButtonReachesTheDelegateAndCopiesThePlainCode) {
    notifier->post(code("123456", 60));
    ASSERT_TRUE(runUntil([&] { return displayedCount() == 1; }, 5000, 50));
    // The session's dmenu picks the action labelled "Copy".
    dunstctl({"context"});
    ASSERT_TRUE(runUntil([&] { return copied().has_value(); }, 5000));
    EXPECT_EQ(recorder->actions, QStringList{"copy"});
    EXPECT_EQ(copied(), "123456");
    EXPECT_TRUE(pasteboard.string(Pasteboard::concealedType).has_value());
}

TEST_F(NotificationIntegration, ClickOnTheBodyReachesTheDelegateAsDefaultAndCopies) {
    notifier->post(code("654321", 60));
    ASSERT_TRUE(runUntil([&] { return displayedCount() == 1; }, 5000, 50));
    dunstctl({"action", "0"});
    ASSERT_TRUE(runUntil([&] { return copied().has_value(); }, 5000));
    EXPECT_EQ(recorder->actions, QStringList{"default"});
    EXPECT_EQ(copied(), "654321");
}

TEST_F(NotificationIntegration, ExpiredCodeIsClosedAboutOneSecondAfterPosting) {
    QElapsedTimer sincePost;
    sincePost.start();
    notifier->post(code("123456", -30));
    ASSERT_TRUE(runUntil([&] { return displayedCount() == 1; }, 900, 50))
        << "not shown before its removal was due";
    ASSERT_TRUE(runUntil([&] { return displayedCount() == 0; }, 4000, 25));
    const qint64 shownFor = sincePost.elapsed();
    EXPECT_GE(shownFor, 950);
    EXPECT_LE(shownFor, 3000);
    // Closed by the application, so dunst keeps it in its history.
    EXPECT_EQ(newHistory().size(), 1);
    EXPECT_TRUE(pasteboard.entries.isEmpty());
}

TEST_F(NotificationIntegration, OlderCodesRemovalLeavesTheNewerNotificationUp) {
    notifier->post(code("111111", -30));  // its removal falls due after 1 s
    notifier->post(code("222222", 60));
    ASSERT_TRUE(runUntil([&] { return displayedCount() == 1; }, 900, 50));
    runFor(1500);
    EXPECT_EQ(displayedCount(), 1);
    EXPECT_TRUE(newHistory().isEmpty());
}

// With no notification server on the bus. The test runs itself again on a bus of its own, made
// by dbus-run-session in a temporary directory, and checks there.
constexpr auto kPrivateBusMarker = "ZORVIK_NOTIFICATION_TEST_PARENT_BUS";

void checkWithoutServer() {
    const QByteArray bus = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    ASSERT_FALSE(bus.isEmpty());
    ASSERT_NE(bus, qgetenv(kPrivateBusMarker)) << "still on the session's bus";
    ASSERT_TRUE(QDBusConnection::sessionBus().isConnected());
    ASSERT_FALSE(QDBusConnection::sessionBus().interface()->isServiceRegistered(
        QStringLiteral("org.freedesktop.Notifications")));

    QtMainActor actor;
    FakePasteboard pasteboard;
    ClipboardPublisher clipboard{pasteboard, actor};
    FreedesktopNotificationCenter center;
    Notifier notifier{center, actor, clipboard};
    notifier.setUp();

    std::optional<bool> granted;
    center.requestAuthorization([&](bool answer, std::optional<QString>) { granted = answer; });
    std::optional<NotificationState> state;
    auto ask = [](Notifier& notifier, std::optional<NotificationState>& into) -> Task<void> {
        into = co_await notifier.notificationState();
    };
    actor.spawn(ask(notifier, state));
    ASSERT_TRUE(runUntil([&] { return granted.has_value() && state.has_value(); }, 10000));
    EXPECT_EQ(granted, false);
    EXPECT_EQ(state, NotificationState::off);
    EXPECT_FALSE(notifier.authorized);
    // Posting without a server fails quietly.
    notifier.post(LatestCode{"a", std::nullopt, "123456", "d", actor.now(), actor.now(),
                             addingSeconds(actor.now(), 60)});
    runFor(200);
}

TEST(NotificationWithoutServer, StateIsOffAndAuthorizationIsNotGranted) {
    REQUIRE_DESKTOP_SESSION();
    if (qEnvironmentVariableIsSet(kPrivateBusMarker)) {
        checkWithoutServer();
        return;
    }
    QTemporaryDir directory;
    ASSERT_TRUE(directory.isValid());
    QFile config(directory.filePath("bus.conf"));
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    config.write("<busconfig><type>session</type><listen>unix:dir=" + directory.path().toUtf8() +
                 "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow "
                 "send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow "
                 "own=\"*\"/></policy></busconfig>");
    config.close();

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(kPrivateBusMarker, qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"));
    QProcess child;
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(
        "dbus-run-session",
        {"--config-file=" + config.fileName(), "--", QCoreApplication::applicationFilePath(),
         "--gtest_filter=NotificationWithoutServer.StateIsOffAndAuthorizationIsNotGranted"});
    ASSERT_TRUE(child.waitForFinished(60000));
    const QString output = QString::fromUtf8(child.readAll());
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains("[  PASSED  ] 1 test.")) << output.toStdString();
}

}  // namespace
