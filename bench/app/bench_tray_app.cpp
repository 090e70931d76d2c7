// SPDX-License-Identifier: GPL-3.0-or-later
// The whole tray application, timed and measured from outside as a user's desktop meets it: the
// real ZorvikMac binary in tray mode (no arguments) on the X display of the private desktop
// session, with its tray watcher, notification server and keyring. Measures
//   - start-up: from starting the process to its status item registered with the watcher;
//   - idle cost: resident memory and CPU use over a quiet minute, without and with a code held;
//   - the push path: from a phone's send, and from the cloud record's replacement, to the new
//     code heard as the status item's label.
// scripts/bench runs it in scripts/desktop-session; see --help.
#include <sys/statfs.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "ZorvikMac/CodeIntake/CloudSyncCrypto.h"
#include "bench/app/BenchSupport.h"
#include "bench/app/ProcessFigures.h"
#include "bench/app/RecordWatch.h"
#include "bench/app/SessionTray.h"
#include "platform/CloudRecord.h"
#include "platform/linux/cloud/LocalCloud.h"
#include "platform/linux/cloud/LocalCloudDatabase.h"
#include "platform/linux/keyring/SecretServiceKeychain.h"

namespace {

constexpr double kStartTargetMs = 60;
constexpr double kIdleMemoryTargetMiB = 40;
constexpr double kIdleCpuTargetPercent = 0.05;
constexpr double kPushTargetMs = 3;
constexpr double kPushP99TargetMs = 10;
constexpr int kRegistrationTimeoutMs = 10000;
constexpr int kLabelTimeoutMs = 5000;

const auto kRecordName = QStringLiteral("pending-code");
const auto kAppGroup = QStringLiteral("K8QW41TR7N.net.brontal.zorvik.mac");

double mib(std::int64_t kb) {
    return static_cast<double>(kb) / 1024.0;
}

// A running copy of the application, stopped when it goes out of scope.
struct StopAndDelete {
    void operator()(QProcess* app) const {
        stop(*app);
        delete app;
    }
};
using RunningCopy = std::unique_ptr<QProcess, StopAndDelete>;

struct Options {
    QString app;
    QString phone;
    int launches = 10;
    int firstLaunches = 5;
    int idleSeconds = 60;
    int settleSeconds = 3;
    int sends = 100;
    // Processes spinning beside the push path, and how long they run before it.
    int load = 0;
    int loadWarmUpSeconds = 30;
    bool sessionRuntimeDirectory = false;
    QStringList parts;
};

// The session's state the runs share: a sync key in the keyring, settings that have seen their
// first run, and the logs of every copy started.
class Bench {
public:
    explicit Bench(Options options)
        : options_(std::move(options)),
          sessionDirectory_(qEnvironmentVariable("ZORVIK_SESSION_DIR")),
          tray_(QDBusConnection::sessionBus()) {}

    bool prepare() {
        if (!tray_.isListening()) {
            say("bench_tray_app: cannot listen to the session bus\n");
            return false;
        }
        // Settings of a copy that ran before: no popover of its own after a second.
        settledConfig_ = makeDirectory(QStringLiteral("config-settled"));
        QDir(settledConfig_).mkpath(QStringLiteral("net.brontal.zorvik"));
        QFile settings(settledConfig_ + QStringLiteral("/net.brontal.zorvik/ZorvikMac.conf"));
        if (!settings.open(QIODevice::WriteOnly) ||
            settings.write("[General]\nfirstRunDone=true\n") < 0) {
            say("bench_tray_app: cannot write %s\n", qPrintable(settings.fileName()));
            return false;
        }
        settings.close();
        if (!chooseRuntimeDirectory()) {
            return false;
        }
        if (!phone(
                {QStringLiteral("key"), QStringLiteral("generate"), QStringLiteral("--force")})) {
            return false;
        }
        zone_ = LocalCloudDatabase::zoneDirectory(
            LocalCloud::privateDatabaseDirectory(LocalCloud::standardRootDirectory()));
        QDir().mkpath(zone_);
        return forgetCodes();
    }

    void describeMachine() const {
        utsname system{};
        uname(&system);
        QString model;
        QFile cpuinfo(QStringLiteral("/proc/cpuinfo"));
        if (cpuinfo.open(QIODevice::ReadOnly)) {
            for (const QByteArray& line : cpuinfo.readAll().split('\n')) {
                if (line.startsWith("model name")) {
                    model = QString::fromLatin1(line.mid(line.indexOf(':') + 1).trimmed());
                    break;
                }
            }
        }
        say("machine: %ld CPUs (%s), Linux %s, Qt %s; the app on Xvfb (xcb) with the session's "
            "tray watcher\n",
            sysconf(_SC_NPROCESSORS_ONLN), qPrintable(model), system.release, qVersion());
    }

    int startUp() {
        say("\n== start-up: process start to status item registered with the watcher (load %s)\n",
            qPrintable(loadAverage()));
        // Not counted: brings the binary and its libraries into the page cache.
        if (!launchAndTime(settledConfig_).has_value()) {
            return 1;
        }
        std::vector<double> settled;
        std::vector<double> named;
        for (int run = 0; run < options_.launches; ++run) {
            const auto timing = launchAndTime(settledConfig_);
            if (!timing) {
                return 1;
            }
            settled.push_back(timing->registered);
            named.push_back(timing->named);
        }
        std::vector<double> first;
        for (int run = 0; run < options_.firstLaunches; ++run) {
            const auto timing = launchAndTime(makeDirectory(QStringLiteral("config-first")));
            if (!timing) {
                return 1;
            }
            first.push_back(timing->registered);
        }
        const Spread s = spreadOf(settled);
        const Spread n = spreadOf(named);
        const auto late = std::count_if(settled.begin(), settled.end(),
                                        [](double ms) { return ms > kStartTargetMs; });
        say("registered, %d launches (settings from an earlier run): median %.1f ms, min %.1f ms, "
            "max %.1f ms  [target <= %.0f ms: %s, %d of %d launches over]\n",
            options_.launches, s.median, s.min, s.max, kStartTargetMs, verdict(late == 0),
            static_cast<int>(late), options_.launches);
        say("  of which up to the item's bus name owned: median %.1f ms, min %.1f ms, max %.1f "
            "ms\n",
            n.median, n.min, n.max);
        if (!first.empty()) {
            const Spread f = spreadOf(first);
            say("registered, %d first launches (fresh settings, popover due 1 s later): median "
                "%.1f ms, min %.1f ms, max %.1f ms\n",
                options_.firstLaunches, f.median, f.min, f.max);
        }
        return 0;
    }

    int idle(bool holdingCode) {
        say("\n== idle for %d s, %s, default poll interval, window from %d s after the item "
            "registered%s (load %s)\n",
            options_.idleSeconds, holdingCode ? "a code held" : "no code held",
            options_.settleSeconds, holdingCode ? " and the code arrived" : "",
            qPrintable(loadAverage()));
        if (!forgetCodes()) {
            return 1;
        }
        auto app = launch(settledConfig_);
        if (!app) {
            return 1;
        }
        if (holdingCode) {
            spin(1000);
            const QString code = newCode();
            const Clock::time_point sent = Clock::now();
            if (!phone({QStringLiteral("send"), QStringLiteral("--account"),
                        QStringLiteral("Bench"), QStringLiteral("--service"),
                        QStringLiteral("github"), QStringLiteral("--code"), code,
                        QStringLiteral("--ttl"),
                        QString::number(options_.settleSeconds + options_.idleSeconds + 30)})) {
                return 1;
            }
            if (!waitUntil([&] { return tray_.labelShowing(code, sent).has_value(); },
                           kLabelTimeoutMs)) {
                say("bench_tray_app: the label never showed the code\n");
                return 1;
            }
        }
        spin(options_.settleSeconds * 1000);

        const pid_t pid = static_cast<pid_t>(app->processId());
        const ProcessFigures::CpuTime cpuBefore = ProcessFigures::cpuTime(pid);
        const Clock::time_point start = Clock::now();
        std::int64_t rssMin = ProcessFigures::memory(pid).rssKb;
        std::int64_t rssMax = rssMin;
        for (int second = 0; second < options_.idleSeconds; ++second) {
            spin(1000);
            const std::int64_t rss = ProcessFigures::memory(pid).rssKb;
            rssMin = std::min(rssMin, rss);
            rssMax = std::max(rssMax, rss);
        }
        const ProcessFigures::CpuTime cpuAfter = ProcessFigures::cpuTime(pid);
        const double wallNs =
            std::chrono::duration<double, std::nano>(Clock::now() - start).count();
        const ProcessFigures::Memory memory = ProcessFigures::memory(pid);
        const auto kinds = ProcessFigures::memoryByKind(pid);
        const auto largest = ProcessFigures::largestMappings(pid, 8);
        if (app->state() != QProcess::Running) {
            say("bench_tray_app: ZorvikMac ended during the window\n");
            return 1;
        }

        const double cpuNs =
            static_cast<double>(cpuAfter.userAndSystemNs - cpuBefore.userAndSystemNs);
        const double scheduledNs =
            static_cast<double>(cpuAfter.scheduledNs - cpuBefore.scheduledNs);
        const double cpuPercent = 100.0 * cpuNs / wallNs;
        const double switches = static_cast<double>(cpuAfter.wakeUps - cpuBefore.wakeUps);
        say("RSS %.1f MiB at the end (min %.1f, max %.1f over the window; peak since start %.1f; "
            "Pss %.1f; anonymous %.1f, of files %.1f)",
            mib(memory.rssKb), mib(rssMin), mib(rssMax), mib(memory.peakKb), mib(memory.pssKb),
            mib(memory.anonymousKb), mib(memory.fileKb));
        if (!holdingCode) {
            say("  [target RSS <= %.0f MiB: %s]", kIdleMemoryTargetMiB,
                verdict(mib(memory.rssKb) <= kIdleMemoryTargetMiB));
        }
        say("\nCPU %.3f %% (utime+stime %.0f ms over %.1f s; %.1f ms on a CPU by schedstat); "
            "%.2f wake-ups/s over %d threads",
            cpuPercent, cpuNs / 1e6, wallNs / 1e9, scheduledNs / 1e6, switches / (wallNs / 1e9),
            cpuAfter.threads);
        say("  [target <= %.2f %%: %s]", kIdleCpuTargetPercent,
            verdict(cpuPercent <= kIdleCpuTargetPercent));
        say("\n  RSS by kind:");
        for (const auto& part : kinds) {
            if (part.rssKb >= 64) {
                say("\n    %-26s RSS %5.1f MiB, Pss %5.1f MiB, anonymous %5.1f MiB",
                    qPrintable(part.name), mib(part.rssKb), mib(part.pssKb), mib(part.anonymousKb));
            }
        }
        say("\n  largest:");
        for (const auto& part : largest) {
            say(" %s %.1f MiB;", qPrintable(part.name), mib(part.rssKb));
        }
        say("\n");
        stop(*app);
        return 0;
    }

    int push() {
        // The load's spinners count in the load average only after a while: they start first.
        const std::optional<CpuLoad> load =
            options_.load > 0 ? std::optional<CpuLoad>(std::in_place, options_.load) : std::nullopt;
        if (load) {
            spin(options_.loadWarmUpSeconds * 1000);
        }
        say("\n== push path: a new code to the status item's label, heard on the bus (load %s%s)\n",
            qPrintable(loadAverage()),
            load ? qPrintable(QStringLiteral(", of which %1 processes spinning beside it")
                                  .arg(options_.load))
                 : "");
        if (!forgetCodes()) {
            return 1;
        }
        const RecordWatch watch(zone_, kRecordName + QStringLiteral(".json"));
        if (!watch.isWatching()) {
            say("bench_tray_app: cannot watch %s\n", qPrintable(zone_));
            return 1;
        }
        auto app = launch(settledConfig_);
        if (!app) {
            return 1;
        }
        spin(options_.settleSeconds * 1000);

        // By the phone tool, as a user's phone would: its own start-up included.
        std::vector<double> whole;
        std::vector<double> phonePart;
        std::vector<double> appPart;
        for (int n = 0; n < options_.sends; ++n) {
            const QString code = newCode();
            QProcess send;
            send.setProgram(options_.phone);
            send.setArguments({QStringLiteral("send"), QStringLiteral("--account"),
                               QStringLiteral("Bench"), QStringLiteral("--service"),
                               QStringLiteral("github"), QStringLiteral("--code"), code,
                               QStringLiteral("--ttl"), QStringLiteral("600")});
            send.setStandardOutputFile(QProcess::nullDevice());
            send.setStandardErrorFile(QProcess::nullDevice());
            const Clock::time_point spawned = Clock::now();
            send.start();
            std::optional<Clock::time_point> shown;
            const bool arrived = waitUntil(
                [&] {
                    shown = tray_.labelShowing(code, spawned);
                    return shown.has_value();
                },
                kLabelTimeoutMs);
            send.waitForFinished(kLabelTimeoutMs);
            const auto replaced = watch.replacedSince(spawned);
            if (!arrived || !replaced || send.exitCode() != 0) {
                say("bench_tray_app: send %d (%s) did not reach the label; the app's log ends:\n%s",
                    n, arrived ? "the record was not replaced" : "no label",
                    appLogTail().constData());
                return 1;
            }
            whole.push_back(millisecondsBetween(spawned, *shown));
            phonePart.push_back(millisecondsBetween(spawned, *replaced));
            appPart.push_back(millisecondsBetween(*replaced, *shown));
            pause();
        }

        // By this process, in the same atomic way: the application's part alone.
        std::optional<SymmetricKey> key;
        try {
            SecretServiceKeychain keychain;
            key = CloudSyncCrypto::loadSyncKey(keychain);
        } catch (const Error& error) {
            say("bench_tray_app: no sync key: %s\n", qPrintable(error.localizedDescription()));
            return 1;
        }
        std::vector<double> written;
        std::vector<double> writeCall;
        for (int n = 0; n < options_.sends; ++n) {
            const QString code = newCode();
            const CloudRecord record = sealedCodeRecord(*key, code);
            const Clock::time_point writing = Clock::now();
            LocalCloudDatabase::writeRecord(
                LocalCloud::privateDatabaseDirectory(LocalCloud::standardRootDirectory()), record);
            std::optional<Clock::time_point> shown;
            const bool arrived = waitUntil(
                [&] {
                    shown = tray_.labelShowing(code, writing);
                    return shown.has_value();
                },
                kLabelTimeoutMs);
            const auto replaced = watch.replacedSince(writing);
            if (!arrived || !replaced) {
                say("bench_tray_app: written code %d did not reach the label (%s); the app's log "
                    "ends:\n%s",
                    n, replaced ? "no label" : "the record was not replaced",
                    appLogTail().constData());
                return 1;
            }
            written.push_back(millisecondsBetween(*replaced, *shown));
            writeCall.push_back(millisecondsBetween(writing, *shown));
            pause();
        }
        stop(*app);

        const auto line = [](const char* what, const std::vector<double>& values) {
            const Spread s = spreadOf(values);
            say("%s: median %.2f ms, p90 %.2f ms, min %.2f ms, max %.2f ms\n", what, s.median,
                s.p90, s.min, s.max);
        };
        const auto judge = [](const std::vector<double>& values) {
            const double p99 = percentile(values, 0.99);
            say("    p99 %.2f ms  [target median <= %.0f ms: %s; p99 <= %.0f ms: %s]\n", p99,
                kPushTargetMs, verdict(spreadOf(values).median <= kPushTargetMs), kPushP99TargetMs,
                verdict(p99 <= kPushP99TargetMs));
        };
        say("%d codes by `zorvik-phone send`:\n", options_.sends);
        line("  send started to label", whole);
        line("  send started to record replaced (the phone tool's own start and work)", phonePart);
        line("  record replaced to label", appPart);
        judge(appPart);
        say("%d codes written by this process the way zorvik-phone does:\n", options_.sends);
        line("  write started to label", writeCall);
        line("  record replaced to label", written);
        judge(written);
        return 0;
    }

private:
    struct StartTiming {
        double named = 0;       // process start to the item's bus name owned
        double registered = 0;  // process start to the item registered
    };

    QString makeDirectory(const QString& prefix) {
        const QString path =
            QStringLiteral("%1/bench-%2-%3").arg(sessionDirectory_, prefix).arg(++directories_);
        QDir().mkpath(path);
        return path;
    }

    // A desktop's XDG_RUNTIME_DIR (/run/user/UID) is a tmpfs, so the shared latest-code.json
    // there costs no disk write; the session keeps its own in its temporary directory, which may
    // be on disk. Unless told otherwise, the copies get a directory on tmpfs.
    bool chooseRuntimeDirectory() {
        runtimeDirectory_ = qEnvironmentVariable("XDG_RUNTIME_DIR");
        if (!options_.sessionRuntimeDirectory && !isTmpfs(runtimeDirectory_) &&
            isTmpfs(QStringLiteral("/dev/shm"))) {
            runtime_ = std::make_unique<QTemporaryDir>(
                QStringLiteral("/dev/shm/zorvik-bench-runtime-XXXXXX"));
            if (!runtime_->isValid()) {
                say("bench_tray_app: cannot make a runtime directory in /dev/shm\n");
                return false;
            }
            runtimeDirectory_ = runtime_->path();
        }
        say("XDG_RUNTIME_DIR of the app (holds latest-code.json): %s, %s\n",
            qPrintable(runtimeDirectory_), isTmpfs(runtimeDirectory_) ? "tmpfs" : "NOT tmpfs");
        return true;
    }

    // Runs the phone tool to its end; false (and says why) when it fails.
    bool phone(const QStringList& arguments) {
        QProcess process;
        process.setProgram(options_.phone);
        process.setArguments(arguments);
        process.start();
        if (!process.waitForFinished(10000) || process.exitStatus() != QProcess::NormalExit ||
            process.exitCode() != 0) {
            say("bench_tray_app: zorvik-phone %s failed: %s\n", qPrintable(arguments.join(' ')),
                process.readAllStandardError().constData());
            return false;
        }
        return true;
    }

    // No record in the cloud and no code published from an earlier run.
    bool forgetCodes() {
        if (!phone({QStringLiteral("clear")})) {
            return false;
        }
        QDir group(runtimeDirectory_ + QStringLiteral("/app/") + kAppGroup);
        for (const QString& file :
             group.entryList({QStringLiteral("latest-code.*")}, QDir::Files)) {
            group.remove(file);
        }
        return true;
    }

    // A six-digit code unlike the one before.
    QString newCode() {
        lastCode_ = ::newCode(lastCode_);
        return lastCode_;
    }

    // Codes come from a person: not back to back.
    static void pause() { spin(250 + static_cast<int>(QRandomGenerator::global()->bounded(250))); }

    QByteArray appLogTail() const {
        QFile log(sessionDirectory_ + QStringLiteral("/logs/bench-app.log"));
        return log.open(QIODevice::ReadOnly) ? log.readAll().right(2000) : QByteArray("(none)\n");
    }

    RunningCopy start(const QString& configDirectory) {
        RunningCopy app(new QProcess);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configDirectory);
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDirectory_);
        app->setProcessEnvironment(environment);
        app->setProgram(options_.app);
        app->setStandardOutputFile(sessionDirectory_ + QStringLiteral("/logs/bench-app.log"),
                                   QIODevice::Append);
        app->setStandardErrorFile(sessionDirectory_ + QStringLiteral("/logs/bench-app.log"),
                                  QIODevice::Append);
        return app;
    }

    // Starts a copy and waits for its item; follows the item's label.
    RunningCopy launch(const QString& configDirectory) {
        auto app = start(configDirectory);
        app->start();
        if (!app->waitForStarted(kRegistrationTimeoutMs)) {
            say("bench_tray_app: cannot start %s\n", qPrintable(options_.app));
            return nullptr;
        }
        const qint64 pid = app->processId();
        if (!waitUntil([&] { return tray_.registrationOf(pid).has_value(); },
                       kRegistrationTimeoutMs)) {
            say("bench_tray_app: the status item did not register (log: %s/logs/bench-app.log)\n",
                qPrintable(sessionDirectory_));
            return nullptr;
        }
        const QString item = tray_.registrationOf(pid)->text;
        tray_.followLabel(item.section(QLatin1Char('/'), 0, 0));
        return app;
    }

    std::optional<StartTiming> launchAndTime(const QString& configDirectory) {
        auto app = start(configDirectory);
        const Clock::time_point started = Clock::now();
        app->start();
        const qint64 pid = app->processId();
        if (pid <= 0 || !waitUntil([&] { return tray_.registrationOf(pid).has_value(); },
                                   kRegistrationTimeoutMs)) {
            say("bench_tray_app: the status item did not register (log: %s/logs/bench-app.log)\n",
                qPrintable(sessionDirectory_));
            return std::nullopt;
        }
        StartTiming timing;
        timing.registered = millisecondsBetween(started, tray_.registrationOf(pid)->at);
        const auto named = tray_.itemNameOwnedBy(pid);
        timing.named = named ? millisecondsBetween(started, *named) : 0;
        stop(*app);
        return timing;
    }

    Options options_;
    QString sessionDirectory_;
    SessionTray tray_;
    QString settledConfig_;
    std::unique_ptr<QTemporaryDir> runtime_;
    QString runtimeDirectory_;
    QString zone_;
    QString lastCode_;
    int directories_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Measures the tray application from outside, inside scripts/desktop-session with a tray\n"
        "watcher (ZORVIK_TRAY_WATCHER): start-up to the status item registered, idle memory and\n"
        "CPU without and with a code held, and the push path to the item's label. For example:\n"
        "  ZORVIK_TRAY_WATCHER=build/bench/bench/tray-watcher/zorvik-test-tray-watcher \\\n"
        "    scripts/desktop-session build/bench/bench/bench_tray_app \\\n"
        "    build/bench/ZorvikMac/ZorvikMac build/bench/tools/zorvik-phone/zorvik-phone");
    parser.addHelpOption();
    parser.addPositionalArgument("ZORVIKMAC", "the application binary");
    parser.addPositionalArgument("ZORVIK_PHONE", "the phone tool");
    const QCommandLineOption only(
        "only", "run only these parts, comma-separated: startup, idle, push (default all)",
        "PARTS");
    const QCommandLineOption launches("launches", "timed launches (default 10)", "N", "10");
    const QCommandLineOption firstLaunches(
        "first-launches", "timed launches with fresh settings (default 5)", "N", "5");
    const QCommandLineOption idleSeconds("idle-seconds", "length of each idle window (default 60)",
                                         "S", "60");
    const QCommandLineOption settleSeconds(
        "settle-seconds", "wait before measuring a launched copy (default 3)", "S", "3");
    // A p99 needs a hundred values: of twenty, it is the slowest one.
    const QCommandLineOption sends("sends", "codes sent each way on the push path (default 100)",
                                   "N", "100");
    const QCommandLineOption sessionRuntime(
        "session-runtime-dir",
        "give the app the session's XDG_RUNTIME_DIR even when it is not on tmpfs (by default it "
        "gets one in /dev/shm, as a desktop's /run/user/UID is a tmpfs)");
    const QCommandLineOption load(
        "load",
        "processes that spin on a CPU beside the push path, started 30 s before it "
        "(default 0)",
        "N", "0");
    parser.addOptions(
        {only, launches, firstLaunches, idleSeconds, settleSeconds, sends, load, sessionRuntime});
    parser.process(application);
    if (parser.positionalArguments().size() != 2) {
        parser.showHelp(2);
    }
    if (qEnvironmentVariable("ZORVIK_DESKTOP_SESSION") != u"1" ||
        qEnvironmentVariable("ZORVIK_TRAY_WATCHER_RUNNING") != u"1") {
        std::fprintf(stderr,
                     "bench_tray_app: run it inside scripts/desktop-session with "
                     "ZORVIK_TRAY_WATCHER set (see --help)\n");
        return 2;
    }

    Options options;
    options.app = parser.positionalArguments()[0];
    options.phone = parser.positionalArguments()[1];
    options.launches = std::max(1, parser.value(launches).toInt());
    options.firstLaunches = std::max(0, parser.value(firstLaunches).toInt());
    options.idleSeconds = std::max(1, parser.value(idleSeconds).toInt());
    options.settleSeconds = std::max(0, parser.value(settleSeconds).toInt());
    options.sends = std::max(1, parser.value(sends).toInt());
    options.load = std::max(0, parser.value(load).toInt());
    options.sessionRuntimeDirectory = parser.isSet(sessionRuntime);
    options.parts = parser.isSet(only) ? parser.value(only).split(',', Qt::SkipEmptyParts)
                                       : QStringList{"startup", "idle", "push"};
    for (const QString& part : options.parts) {
        if (part != u"startup" && part != u"idle" && part != u"push") {
            std::fprintf(stderr, "bench_tray_app: unknown part '%s'\n", qPrintable(part));
            return 2;
        }
    }

    Bench bench(options);
    bench.describeMachine();
    if (!bench.prepare()) {
        return 1;
    }
    int status = 0;
    if (options.parts.contains("startup")) {
        status |= bench.startUp();
    }
    if (options.parts.contains("idle")) {
        status |= bench.idle(false);
        status |= bench.idle(true);
    }
    if (options.parts.contains("push")) {
        status |= bench.push();
    }
    say("\nload at the end: %s\n", qPrintable(loadAverage()));
    return status;
}
