// SPDX-License-Identifier: GPL-3.0-or-later
// Zorvik beside what Linux users keep running instead for their one-time codes, measured in one
// run, in the same private desktop session and the same way: ZorvikMac in tray mode, kdeconnectd
// (codes arrive as the phone's notifications) and keepassxc minimised to its tray with a database
// open (codes from its TOTP entries), idle over one shared window; then the browser's side, the
// AutoFill host spawned to the code answered beside keepassxc-proxy spawned to its first answer.
// scripts/bench --peers runs it in scripts/desktop-session; see --help.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

#include "bench/app/BenchSupport.h"
#include "bench/app/IdleWindow.h"
#include "bench/app/SessionTray.h"
#include "bench/peers/NativeMessagingProbe.h"
#include "bench/peers/PeerLaunch.h"
#include "bench/peers/RunningProcess.h"

namespace {

constexpr int kRegistrationTimeoutMs = 10000;
constexpr int kLabelTimeoutMs = 5000;
const auto kAppGroup = QStringLiteral("K8QW41TR7N.net.brontal.zorvik.mac");
// The extension's origin, as Chromium passes it to the host it spawns.
const auto kOurOrigin = QStringLiteral("chrome-extension://pefndcdalefolcllbmhdfnidbfjfjkgc/");
const auto kTheirOrigin = QStringLiteral("chrome-extension://oboonakemofpalcgghocfoadofidjkkk/");

double mib(std::int64_t kb) {
    return static_cast<double>(kb) / 1024.0;
}

struct Options {
    QString app;
    QString phone;
    QString autoFill;
    int idleSeconds = 60;
    int settleSeconds = 3;
    int requests = 50;
};

struct Row {
    QString name;
    RunningProcess process;
    QString notRunning;
};

QString ratio(double ours, double theirs) {
    return theirs > 0 ? QString::number(ours / theirs, 'f', 2) : QStringLiteral("n/a");
}

QByteArray randomBase64(int bytes) {
    QByteArray data(bytes, '\0');
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(data.data()), bytes / 4);
    return data.toBase64();
}

class Bench {
public:
    explicit Bench(Options options)
        : options_(std::move(options)),
          work_(qEnvironmentVariable("ZORVIK_SESSION_DIR") + QStringLiteral("/bench-peers")),
          tray_(QDBusConnection::sessionBus()) {}

    bool prepare() {
        if (!tray_.isListening()) {
            say("bench_peers: cannot listen to the session bus\n");
            return false;
        }
        QDir().mkpath(work_);
        // A desktop's XDG_RUNTIME_DIR is a tmpfs, as bench_tray_app gives the app.
        QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
        if (!isTmpfs(runtime) && isTmpfs(QStringLiteral("/dev/shm"))) {
            runtime_ = std::make_unique<QTemporaryDir>(
                QStringLiteral("/dev/shm/zorvik-bench-peers-XXXXXX"));
            if (!runtime_->isValid()) {
                say("bench_peers: cannot make a runtime directory in /dev/shm\n");
                return false;
            }
            runtime = runtime_->path();
        }
        runtimeDirectory_ = runtime;
        const QString config = work_ + QStringLiteral("/config");
        environment_ = QProcessEnvironment::systemEnvironment();
        environment_.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        environment_.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
        environment_.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);

        // Settings of a copy that ran before: no popover of its own after a second.
        QDir().mkpath(config + QStringLiteral("/net.brontal.zorvik"));
        QFile settings(config + QStringLiteral("/net.brontal.zorvik/ZorvikMac.conf"));
        if (!settings.open(QIODevice::WriteOnly) ||
            settings.write("[General]\nfirstRunDone=true\n") < 0) {
            say("bench_peers: cannot write %s\n", qPrintable(settings.fileName()));
            return false;
        }
        settings.close();
        if (!phone(
                {QStringLiteral("key"), QStringLiteral("generate"), QStringLiteral("--force")}) ||
            !phone({QStringLiteral("clear")})) {
            return false;
        }
        QDir group(runtime + QStringLiteral("/app/") + kAppGroup);
        for (const QString& file :
             group.entryList({QStringLiteral("latest-code.*")}, QDir::Files)) {
            group.remove(file);
        }
        return true;
    }

    // Starts the three; a peer that cannot run keeps its reason for the table.
    bool startAll() {
        say("\n== starting, each on the session's display and bus, XDG_RUNTIME_DIR %s (%s)\n",
            qPrintable(runtimeDirectory_), isTmpfs(runtimeDirectory_) ? "tmpfs" : "NOT tmpfs");
        Row ours{QStringLiteral("ZorvikMac"), startOurs(), {}};
        if (!ours.process) {
            return false;
        }
        say("ZorvikMac: up\n");
        hows_.append(QStringLiteral("ZorvikMac: %1 in tray mode, settings from an earlier run")
                         .arg(options_.app));
        rows_.push_back(std::move(ours));

        const PeerLaunch::Where where{work_, environment_};
        addPeer(QStringLiteral("kdeconnectd"),
                PeerLaunch::kdeConnect(where, PeerLaunch::kdeConnectDaemonPath()));
        addPeer(QStringLiteral("keepassxc"), PeerLaunch::keePassXC(where, tray_));
        return true;
    }

    int idle() {
        say("\n== idle, all in one window of %d s from %d s after the last came up, no code held "
            "(load %s)\n",
            options_.idleSeconds, options_.settleSeconds, qPrintable(loadAverage()));
        spin(options_.settleSeconds * 1000);
        std::vector<pid_t> pids;
        std::vector<Row*> measured;
        for (Row& row : rows_) {
            if (row.process) {
                pids.push_back(static_cast<pid_t>(row.process->processId()));
                measured.push_back(&row);
            }
        }
        const auto figures = IdleWindow::measure(pids, options_.idleSeconds);
        const IdleWindow::Figures& ours = figures.front();

        say("%-12s %8s %8s %10s %10s %10s   %s\n", "process", "RSS MiB", "Pss MiB", "CPU %",
            "on CPU", "wake-ups/s", "ours / theirs: RSS, Pss, CPU, wake-ups");
        int status = 0;
        std::optional<double> lowestCpu;
        std::optional<double> lowestWakeUps;
        for (Row& row : rows_) {
            const auto at = std::find(measured.begin(), measured.end(), &row);
            if (at == measured.end()) {
                say("%-12s not measured: %s\n", qPrintable(row.name), qPrintable(row.notRunning));
                continue;
            }
            const IdleWindow::Figures& f = figures[static_cast<std::size_t>(at - measured.begin())];
            if (f.ended) {
                say("%-12s ended during the window\n", qPrintable(row.name));
                status = 1;
                continue;
            }
            say("%-12s %8.1f %8.1f %10.3f %7.1f ms %10.2f   %s\n", qPrintable(row.name),
                mib(f.memory.rssKb), mib(f.memory.pssKb), f.cpuPercent, f.scheduledMs,
                f.wakeUpsPerSecond,
                &row == &rows_.front()
                    ? "-"
                    : qPrintable(QStringLiteral("%1, %2, %3, %4")
                                     .arg(ratio(mib(ours.memory.rssKb), mib(f.memory.rssKb)),
                                          ratio(mib(ours.memory.pssKb), mib(f.memory.pssKb)),
                                          ratio(ours.scheduledMs, f.scheduledMs),
                                          ratio(ours.wakeUpsPerSecond, f.wakeUpsPerSecond))));
            if (&row != &rows_.front()) {
                lowestCpu = std::min(lowestCpu.value_or(f.cpuPercent), f.cpuPercent);
                lowestWakeUps =
                    std::min(lowestWakeUps.value_or(f.wakeUpsPerSecond), f.wakeUpsPerSecond);
            }
        }
        if (lowestCpu && lowestWakeUps) {
            say("ZorvikMac against the lowest peer: CPU %.3f %% vs %.3f %% [%s], wake-ups %.2f/s "
                "vs "
                "%.2f/s [%s]\n",
                ours.cpuPercent, *lowestCpu, verdict(ours.cpuPercent <= *lowestCpu),
                ours.wakeUpsPerSecond, *lowestWakeUps,
                verdict(ours.wakeUpsPerSecond <= *lowestWakeUps));
        }
        say("RSS and Pss at the end of the window. On CPU: the scheduler's count (ns) for every "
            "thread seen in the window, over its length for CPU %%. Wake-ups: the voluntary "
            "context switches of those threads (each time one slept and was woken); being put "
            "off a CPU is counted apart as preemptions. Pss shares each library page among the "
            "processes mapping it, these three included.\n");
        for (std::size_t i = 0; i < measured.size(); ++i) {
            const IdleWindow::Figures& f = figures[i];
            say("  %s: RSS min %.1f, max %.1f MiB over the window; anonymous %.1f, of files %.1f "
                "MiB; %d threads, %.2f wake-ups/s (%s), %.2f preemptions/s; utime+stime %.0f ms "
                "(clock ticks)\n",
                qPrintable(measured[i]->name), mib(f.rssMinKb), mib(f.rssMaxKb),
                mib(f.memory.anonymousKb), mib(f.memory.fileKb), f.threads, f.wakeUpsPerSecond,
                qPrintable(IdleWindow::wakeUpsByThreadText(f)), f.preemptionsPerSecond, f.ticksMs);
        }
        for (const QString& line : hows_) {
            say("  %s\n", qPrintable(line));
        }
        return status;
    }

    int autoFill() {
        say("\n== AutoFill: the browser spawns the native-messaging host and waits for its first "
            "answer, %d requests each, taken in turns (load %s)\n",
            options_.requests, qPrintable(loadAverage()));
        const QString code = newCode(QString());
        const Clock::time_point sent = Clock::now();
        if (!phone({QStringLiteral("send"), QStringLiteral("--account"), QStringLiteral("Bench"),
                    QStringLiteral("--service"), QStringLiteral("github"), QStringLiteral("--code"),
                    code, QStringLiteral("--ttl"), QStringLiteral("600")})) {
            return 1;
        }
        if (!waitUntil([&] { return tray_.labelShowing(code, sent).has_value(); },
                       kLabelTimeoutMs)) {
            say("bench_peers: the status item never showed the code sent\n");
            return 1;
        }
        const QString theirProxy =
            QStandardPaths::findExecutable(QStringLiteral("keepassxc-proxy"));
        const auto keepass = std::find_if(rows_.begin(), rows_.end(),
                                          [](const Row& row) { return row.name == u"keepassxc"; });
        QString theirsMissing;
        if (keepass == rows_.end() || !keepass->process) {
            theirsMissing = QStringLiteral("keepassxc is not running: ") +
                            (keepass == rows_.end() ? QString() : keepass->notRunning);
        } else if (theirProxy.isEmpty()) {
            theirsMissing = QStringLiteral("keepassxc-proxy is not installed");
        }

        const QString log = work_ + QStringLiteral("/native-messaging-hosts.log");
        std::vector<double> ours;
        std::vector<double> theirs;
        // The first of each is not counted: it brings the binaries into the page cache.
        for (int n = -1; n < options_.requests; ++n) {
            const auto answer = NativeMessagingProbe::firstAnswer(
                options_.autoFill, {kOurOrigin}, environment_, ourRequest(n + 2), log);
            const QJsonObject json = QJsonDocument::fromJson(answer.json).object();
            if (!answer.failure.isEmpty() || json.value("result").toString() != u"code" ||
                json.value("code").toString() != code) {
                say("bench_peers: request %d to ZorvikMacAutoFill: %s\n", n + 1,
                    answer.failure.isEmpty() ? "the answer is not the code sent"
                                             : qPrintable(answer.failure));
                return 1;
            }
            if (n >= 0) {
                ours.push_back(answer.milliseconds);
            }
            if (theirsMissing.isEmpty()) {
                const auto their = NativeMessagingProbe::firstAnswer(
                    theirProxy, {kTheirOrigin}, environment_, theirRequest(), log);
                const QJsonObject reply = QJsonDocument::fromJson(their.json).object();
                if (!their.failure.isEmpty() || reply.value("success").toString() != u"true") {
                    theirsMissing =
                        QStringLiteral("request %1 to keepassxc-proxy: %2")
                            .arg(n + 1)
                            .arg(their.failure.isEmpty() ? QString::fromUtf8(their.json.left(200))
                                                         : their.failure);
                    theirs.clear();
                } else if (n >= 0) {
                    theirs.push_back(their.milliseconds);
                }
            }
            spin(50);
        }
        const Spread o = spreadOf(ours);
        say("%-18s %-46s median %6.2f ms  (p90 %.2f, min %.2f, max %.2f)\n", "ZorvikMacAutoFill",
            "provideWithoutUserInteraction -> the code", o.median, o.p90, o.min, o.max);
        if (!theirsMissing.isEmpty()) {
            say("%-18s not measured: %s\n", "keepassxc-proxy", qPrintable(theirsMissing));
            return 0;
        }
        const Spread t = spreadOf(theirs);
        say("%-18s %-46s median %6.2f ms  (p90 %.2f, min %.2f, max %.2f)\n", "keepassxc-proxy",
            "change-public-keys -> keepassxc's answer", t.median, t.p90, t.min, t.max);
        say("ours / theirs, medians: %s\n", qPrintable(ratio(o.median, t.median)));
        say("Not the same question: keepassxc hands out a code (get-totp) only over an encrypted "
            "connection that the user has approved once in keepassxc's own window (associate), "
            "which a headless run cannot click. Its first answer here is the key exchange that "
            "every connection starts with, relayed by the proxy from the running keepassxc: "
            "the least a code from it would take. Ours is the code itself, read from "
            "latest-code.json.\n");
        return 0;
    }

    void stopAll() { rows_.clear(); }

private:
    void addPeer(const QString& name, PeerLaunch::Launched launched) {
        if (launched.process) {
            const QString how =
                QStringLiteral("%1 %2: %3")
                    .arg(name,
                         packageVersion(name == u"kdeconnectd" ? QStringLiteral("kdeconnect")
                                                               : name),
                         launched.how);
            say("%s: up\n", qPrintable(name));
            hows_.append(how);
        } else {
            say("%s: %s\n", qPrintable(name), qPrintable(launched.notRunning));
        }
        rows_.push_back({name, std::move(launched.process), launched.notRunning});
    }

    // The Debian package's version, where dpkg knows it.
    static QString packageVersion(const QString& package) {
        QProcess query;
        query.start(QStringLiteral("dpkg-query"),
                    {QStringLiteral("-W"), QStringLiteral("-f=${Version}"), package});
        if (!query.waitForFinished(5000) || query.exitCode() != 0) {
            return QStringLiteral("(version unknown)");
        }
        return QString::fromUtf8(query.readAllStandardOutput()).trimmed();
    }

    RunningProcess startOurs() {
        RunningProcess app(new QProcess);
        app->setProcessEnvironment(environment_);
        app->setProgram(options_.app);
        const QString log = work_ + QStringLiteral("/ZorvikMac.log");
        app->setStandardOutputFile(log, QIODevice::Append);
        app->setStandardErrorFile(log, QIODevice::Append);
        app->start();
        const qint64 pid = app->processId();
        if (pid <= 0 || !waitUntil([&] { return tray_.registrationOf(pid).has_value(); },
                                   kRegistrationTimeoutMs)) {
            say("bench_peers: ZorvikMac's status item did not register (log: %s)\n",
                qPrintable(log));
            return nullptr;
        }
        tray_.followLabel(tray_.registrationOf(pid)->text.section(QLatin1Char('/'), 0, 0));
        return app;
    }

    bool phone(const QStringList& arguments) {
        QProcess process;
        process.start(options_.phone, arguments);
        if (!process.waitForFinished(10000) || process.exitStatus() != QProcess::NormalExit ||
            process.exitCode() != 0) {
            say("bench_peers: zorvik-phone %s failed: %s\n", qPrintable(arguments.first()),
                process.readAllStandardError().constData());
            return false;
        }
        return true;
    }

    static QByteArray ourRequest(int id) {
        const QJsonObject identity{
            {"serviceIdentifier", QJsonObject{{"identifier", "github.com"}, {"type", "domain"}}},
            {"recordIdentifier", "latest-code"}};
        return QJsonDocument(
                   QJsonObject{
                       {"id", id},
                       {"type", "provideWithoutUserInteraction"},
                       {"site", "github.com"},
                       {"request", QJsonObject{{"type", 3}, {"credentialIdentity", identity}}}})
            .toJson(QJsonDocument::Compact);
    }

    // A new client's first message to keepassxc: its public key for the key exchange.
    static QByteArray theirRequest() {
        return QJsonDocument(QJsonObject{{"action", "change-public-keys"},
                                         {"publicKey", QString::fromLatin1(randomBase64(32))},
                                         {"nonce", QString::fromLatin1(randomBase64(24))},
                                         {"clientID", QString::fromLatin1(randomBase64(24))}})
            .toJson(QJsonDocument::Compact);
    }

    Options options_;
    QString work_;
    SessionTray tray_;
    std::unique_ptr<QTemporaryDir> runtime_;
    QString runtimeDirectory_;
    QProcessEnvironment environment_;
    std::vector<Row> rows_;
    QStringList hows_;
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Measures ZorvikMac beside kdeconnectd and keepassxc in one run, inside\n"
        "scripts/desktop-session with a tray watcher (ZORVIK_TRAY_WATCHER): idle RSS, Pss and CPU\n"
        "over one shared window, then the AutoFill host spawned to the code answered beside\n"
        "keepassxc-proxy spawned to its first answer. A peer that is missing or cannot run is\n"
        "reported as such. scripts/bootstrap --peers installs them. For example:\n"
        "  ZORVIK_TRAY_WATCHER=build/bench/bench/tray-watcher/zorvik-test-tray-watcher \\\n"
        "    scripts/desktop-session build/bench/bench/bench_peers build/bench/ZorvikMac/ZorvikMac "
        "\\\n"
        "    build/bench/tools/zorvik-phone/zorvik-phone \\\n"
        "    build/bench/ZorvikMacAutoFill/ZorvikMacAutoFill");
    parser.addHelpOption();
    parser.addPositionalArgument("ZORVIKMAC", "the application binary");
    parser.addPositionalArgument("ZORVIK_PHONE", "the phone tool");
    parser.addPositionalArgument("ZORVIKMACAUTOFILL", "the AutoFill helper");
    const QCommandLineOption idleSeconds("idle-seconds", "length of the idle window (default 60)",
                                         "S", "60");
    const QCommandLineOption settleSeconds(
        "settle-seconds", "wait after the last came up before measuring (default 3)", "S", "3");
    const QCommandLineOption requests(
        "requests", "AutoFill requests to each host, after one not counted (default 50)", "N",
        "50");
    parser.addOptions({idleSeconds, settleSeconds, requests});
    parser.process(application);
    if (parser.positionalArguments().size() != 3) {
        parser.showHelp(2);
    }
    if (qEnvironmentVariable("ZORVIK_DESKTOP_SESSION") != u"1" ||
        qEnvironmentVariable("ZORVIK_TRAY_WATCHER_RUNNING") != u"1") {
        std::fprintf(stderr,
                     "bench_peers: run it inside scripts/desktop-session with ZORVIK_TRAY_WATCHER "
                     "set (see --help)\n");
        return 2;
    }
    Options options;
    options.app = parser.positionalArguments()[0];
    options.phone = parser.positionalArguments()[1];
    options.autoFill = parser.positionalArguments()[2];
    options.idleSeconds = std::max(1, parser.value(idleSeconds).toInt());
    options.settleSeconds = std::max(0, parser.value(settleSeconds).toInt());
    options.requests = std::max(1, parser.value(requests).toInt());

    Bench bench(options);
    if (!bench.prepare() || !bench.startAll()) {
        return 1;
    }
    int status = bench.idle();
    status |= bench.autoFill();
    bench.stopAll();
    say("\nload at the end: %s\n", qPrintable(loadAverage()));
    return status;
}
