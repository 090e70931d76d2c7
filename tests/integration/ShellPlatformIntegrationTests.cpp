#include <gtest/gtest.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>

#include "DBusDistributedNotificationCenter.h"
#include "ProcRunningApplications.h"
#include "QtMainActor.h"
#include "SessionEnvironment.h"
#include "SessionProcess.h"
#include "UnixSignalNotifier.h"

// The Linux pieces of the application shell: copies found through /proc and ended by signal,
// notices on the session bus, and signals turned into calls on the event loop.
namespace {

TEST(ProcRunningApplicationsTest, FindsAndEndsTheRunningCopiesOfAProgram) {
    QProcess first;
    QProcess second;
    for (QProcess* process : {&first, &second}) {
        process->start("sleep", {"30"});
        ASSERT_TRUE(process->waitForStarted(5000));
    }
    const QString sleepPath =
        QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(first.processId())))
            .filePath();
    ProcRunningApplications applications(sleepPath, "/proc");
    QList<qint32> found;
    for (const auto& copy : applications.runningApplications("K8QW41TR7N.net.brontal.zorvik")) {
        EXPECT_EQ(copy.bundleURL, sleepPath);
        found.append(copy.processIdentifier);
    }
    EXPECT_TRUE(found.contains(qint32(first.processId())));
    EXPECT_TRUE(found.contains(qint32(second.processId())));
    EXPECT_FALSE(found.contains(applications.currentProcessIdentifier()));

    applications.terminate(qint32(first.processId()));
    applications.terminate(qint32(second.processId()));
    for (QProcess* process : {&first, &second}) {
        ASSERT_TRUE(process->waitForFinished(5000));
        EXPECT_EQ(process->exitStatus(), QProcess::CrashExit) << "ended by the signal";
    }
}

TEST(ProcRunningApplicationsTest, ACopyWhoseProgramWasReplacedStillCounts) {
    QTemporaryDir proc;
    const auto process = [&](const char* pid, const QString& executable) {
        ASSERT_TRUE(QDir(proc.path()).mkpath(pid));
        ASSERT_TRUE(QFile::link(executable, proc.filePath(QString(pid) + "/exe")));
    };
    process("120", "/opt/zorvik/bin/ZorvikMac (deleted)");
    process("121", "/opt/zorvik/bin/ZorvikMac");
    process("122", "/opt/zorvik/bin/ZorvikMacAutoFill");
    process("self", "/opt/zorvik/bin/ZorvikMac");
    ASSERT_TRUE(QDir(proc.path()).mkpath("123"));  // no executable to read

    ProcRunningApplications applications("/opt/zorvik/bin/ZorvikMac", proc.path());
    const QList<RunningApplications::RunningApplication> expected{
        {120, "/opt/zorvik/bin/ZorvikMac"}, {121, "/opt/zorvik/bin/ZorvikMac"}};
    EXPECT_EQ(applications.runningApplications("K8QW41TR7N.net.brontal.zorvik"), expected);

    ProcRunningApplications replaced("/opt/zorvik/bin/ZorvikMac (deleted)", proc.path());
    EXPECT_EQ(replaced.runningApplications("x"), expected)
        << "the replaced copy itself finds the new one too";
}

TEST(DBusDistributedNotificationCenterTest, NoticesReachEveryProcessOnTheSessionBus) {
    REQUIRE_DESKTOP_SESSION();
    QtMainActor actor;
    DBusDistributedNotificationCenter poster(
        actor, QDBusConnection::connectToBus(QDBusConnection::SessionBus, "take-over-poster"));
    DBusDistributedNotificationCenter listener(
        actor, QDBusConnection::connectToBus(QDBusConnection::SessionBus, "take-over-listener"));
    QList<std::optional<QVariant>> heard;
    QList<std::optional<QVariant>> heardByPoster;
    listener.addObserver("net.brontal.zorvik.take-over",
                         [&](std::optional<QVariant> object) { heard.append(object); });
    const auto other =
        listener.addObserver("net.brontal.zorvik.other", [&](auto) { heard.append(QVariant(0)); });
    poster.addObserver("net.brontal.zorvik.take-over",
                       [&](std::optional<QVariant> object) { heardByPoster.append(object); });
    listener.removeObserver(other);

    poster.post("net.brontal.zorvik.take-over", QVariant(QStringLiteral("4711")));
    poster.post("net.brontal.zorvik.other", QVariant(QStringLiteral("1")));
    poster.post("net.brontal.zorvik.take-over", std::nullopt);
    ASSERT_TRUE(
        runEventsUntil([&] { return heard.size() >= 2 && heardByPoster.size() >= 2; }, 5000));
    runEventsFor(100);
    EXPECT_EQ(heard,
              (QList<std::optional<QVariant>>{QVariant(QStringLiteral("4711")), std::nullopt}));
    EXPECT_EQ(heardByPoster, heard) << "the poster hears its own notice too";
    QDBusConnection::disconnectFromBus("take-over-poster");
    QDBusConnection::disconnectFromBus("take-over-listener");
}

TEST(DBusDistributedNotificationCenterTest, WithoutABusNothingIsPostedOrHeard) {
    QtMainActor actor;
    DBusDistributedNotificationCenter center(
        actor, QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/bus"),
                                             "take-over-nowhere"));
    bool heard = false;
    center.addObserver("net.brontal.zorvik.take-over", [&](auto) { heard = true; });
    center.post("net.brontal.zorvik.take-over", QVariant(QStringLiteral("1")));
    runEventsFor(50);
    EXPECT_FALSE(heard);
    QDBusConnection::disconnectFromBus("take-over-nowhere");
}

}  // namespace

namespace {

TEST(UnixSignalNotifierTest, ASignalBecomesACallOnTheEventLoop) {
    QList<int> received;
    UnixSignalNotifier notifier({SIGUSR1, SIGUSR2}, [&](int number) { received.append(number); });
    ::raise(SIGUSR1);
    ::kill(::getpid(), SIGUSR2);
    EXPECT_TRUE(received.isEmpty()) << "nothing runs inside the signal handler";
    ASSERT_TRUE(runEventsUntil([&] { return received.size() == 2; }, 5000));
    EXPECT_EQ(received, (QList<int>{SIGUSR1, SIGUSR2}));
}

}  // namespace
