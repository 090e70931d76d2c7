// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <algorithm>
#include <csignal>

#include "platform/linux/DBusDistributedNotificationCenter.h"
#include "platform/linux/ProcRunningApplications.h"
#include "platform/linux/QtMainActor.h"
#include "platform/linux/UnixSignalNotifier.h"
#include "tests/support/SessionEnvironment.h"
#include "tests/support/SessionProcess.h"

// The Linux pieces of the application shell: copies found through /proc and ended by signal,
// notices on the session bus, and signals turned into calls on the event loop.
namespace {

// A program of a name nothing else on the machine has, in a folder of its own.
QString copyOfSleep(const QTemporaryDir& directory, const QString& folder) {
    const QString path = directory.filePath(folder + "/zorvik-test-copy");
    if (!QDir().mkpath(directory.filePath(folder)) ||
        !QFile::copy(QStandardPaths::findExecutable("sleep"), path) ||
        !QFile::setPermissions(path, QFile::ReadOwner | QFile::ExeOwner)) {
        return {};
    }
    return path;
}

// Which copies are this session's is read from a /proc of its own, below.
TEST(ProcRunningApplicationsTest, FindsAndEndsTheCopiesWhereverTheyAreInstalled) {
    QTemporaryDir directory;
    const QString installed = copyOfSleep(directory, "installed/bin");
    const QString built = copyOfSleep(directory, "build");
    ASSERT_FALSE(installed.isEmpty());
    ASSERT_FALSE(built.isEmpty());
    QProcess first;
    QProcess second;
    first.start(installed, {"30"});
    second.start(built, {"30"});
    for (QProcess* process : {&first, &second}) {
        ASSERT_TRUE(process->waitForStarted(5000));
    }

    ProcRunningApplications applications(built, "/proc", qgetenv("DBUS_SESSION_BUS_ADDRESS"));
    auto found = applications.runningApplications("K8QW41TR7N.net.brontal.zorvik");
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
        return a.bundleURL > b.bundleURL;  // "installed/…" before "build/…"
    });
    ASSERT_EQ(found.size(), 2);
    EXPECT_EQ(found[0].processIdentifier, first.processId());
    EXPECT_EQ(found[0].bundleURL, installed);
    EXPECT_EQ(found[1].processIdentifier, second.processId());
    EXPECT_EQ(found[1].bundleURL, built);

    applications.terminate(qint32(first.processId()));
    applications.terminate(qint32(second.processId()));
    for (QProcess* process : {&first, &second}) {
        ASSERT_TRUE(process->waitForFinished(5000));
        EXPECT_EQ(process->exitStatus(), QProcess::CrashExit) << "ended by the signal";
    }
}

TEST(ProcRunningApplicationsTest, MatchesTheProgramsNameTheSessionAndAReplacedProgram) {
    QTemporaryDir proc;
    // The start is field 22 of stat, after a command name that may hold ") (".
    const auto process = [&](const char* pid, const QString& executable, const QByteArray& bus,
                             const char* parent = "1", const char* start = "900") {
        ASSERT_TRUE(QDir(proc.path()).mkpath(pid));
        ASSERT_TRUE(QFile::link(executable, proc.filePath(QString(pid) + "/exe")));
        QFile environ(proc.filePath(QString(pid) + "/environ"));
        ASSERT_TRUE(environ.open(QIODevice::WriteOnly));
        environ.write(QByteArray("HOME=/home/u") + '\0' + bus + '\0' + "LANG=C" + '\0');
        QFile stat(proc.filePath(QString(pid) + "/stat"));
        ASSERT_TRUE(stat.open(QIODevice::WriteOnly));
        stat.write(QByteArray(pid) + " (Zorvik) (Mac) S " + parent +
                   " 5 5 0 -1 4194304 100 0 0 0 1 2 0 0 20 0 4 0 " + start + " 1000 50\n");
    };
    const QByteArray ours = "DBUS_SESSION_BUS_ADDRESS=unix:path=/run/user/1000/bus";
    process("120", "/opt/zorvik/bin/ZorvikMac (deleted)", ours);
    process("121", "/opt/zorvik/bin/ZorvikMac", ours, "1", "1200");
    // Forked by copy 121 and about to run another program: no copy of its own.
    process("128", "/opt/zorvik/bin/ZorvikMac", ours, "121", "1300");
    // A command that answers and ends is no copy either.
    process("129", "/opt/zorvik/bin/ZorvikMac", ours, "1", "1400");
    QFile cmdline(proc.filePath("129/cmdline"));
    ASSERT_TRUE(cmdline.open(QIODevice::WriteOnly));
    cmdline.write(QByteArray("ZorvikMac") + '\0' + "--diagnostics" + '\0');
    cmdline.close();
    process("122", "/opt/zorvik/bin/ZorvikMacAutoFill", ours);
    process("124", "/home/u/.local/bin/ZorvikMac", ours);
    process("125", "/opt/zorvik/bin/ZorvikMac", "DBUS_SESSION_BUS_ADDRESS=unix:path=/tmp/other");
    process("126", "/opt/zorvik/bin/ZorvikMac", "");
    process("self", "/opt/zorvik/bin/ZorvikMac", ours);
    ASSERT_TRUE(QDir(proc.path()).mkpath("123"));  // no executable to read
    ASSERT_TRUE(QDir(proc.path()).mkpath("127"));  // an executable but no environment to read
    ASSERT_TRUE(QFile::link("/opt/zorvik/bin/ZorvikMac", proc.filePath("127/exe")));

    ProcRunningApplications applications("/opt/zorvik/bin/ZorvikMac", proc.path(),
                                         "unix:path=/run/user/1000/bus", {"--diagnostics"});
    const QList<RunningApplications::RunningApplication> expected{
        {120, "/opt/zorvik/bin/ZorvikMac", 900},
        {121, "/opt/zorvik/bin/ZorvikMac", 1200},
        {124, "/home/u/.local/bin/ZorvikMac", 900}};
    EXPECT_EQ(applications.runningApplications("K8QW41TR7N.net.brontal.zorvik"), expected);

    ProcRunningApplications replaced("/opt/zorvik/bin/ZorvikMac (deleted)", proc.path(),
                                     "unix:path=/run/user/1000/bus", {"--diagnostics"});
    EXPECT_EQ(replaced.runningApplications("x"), expected)
        << "the replaced copy itself finds the new one too";

    ProcRunningApplications noBus("/opt/zorvik/bin/ZorvikMac", proc.path(), "");
    EXPECT_EQ(
        noBus.runningApplications("x"),
        (QList<RunningApplications::RunningApplication>{{126, "/opt/zorvik/bin/ZorvikMac", 900}}))
        << "without a session bus, the copies started without one";
}

TEST(DBusDistributedNotificationCenterTest, NoticesReachEveryProcessOnTheSessionBus) {
    REQUIRE_DESKTOP_SESSION();
    // Not the take-over notice: an application running in the session would quit on that.
    const QString kNotice = QStringLiteral("net.brontal.zorvik.test-notice");
    QtMainActor actor;
    DBusDistributedNotificationCenter poster(
        actor, QDBusConnection::connectToBus(QDBusConnection::SessionBus, "take-over-poster"));
    DBusDistributedNotificationCenter listener(
        actor, QDBusConnection::connectToBus(QDBusConnection::SessionBus, "take-over-listener"));
    QList<std::optional<QVariant>> heard;
    QList<std::optional<QVariant>> heardByPoster;
    listener.addObserver(kNotice, [&](std::optional<QVariant> object) { heard.append(object); });
    const auto other =
        listener.addObserver("net.brontal.zorvik.other", [&](auto) { heard.append(QVariant(0)); });
    poster.addObserver(kNotice,
                       [&](std::optional<QVariant> object) { heardByPoster.append(object); });
    listener.removeObserver(other);

    poster.post(kNotice, QVariant(QStringLiteral("4711")));
    poster.post("net.brontal.zorvik.other", QVariant(QStringLiteral("1")));
    poster.post(kNotice, std::nullopt);
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
