// SPDX-License-Identifier: GPL-3.0-or-later
// The code's road through the cloud's web service, timed from outside: the local double of the
// service (tests/support/cloudkit-double), the real ZorvikMac --headless signed in to it, and
// records written through the service as the phone writes them. Measures
//   - the time from the record written (stored by the service, which says when) to the new code
//     in latest-code.json, by the web push courier, over many codes: median and p99; and the same
//     from the records/modify request leaving, which adds the service's own handling of it;
//   - the application's CPU use while idle with the courier's long poll open.
// scripts/bench --web runs it in scripts/desktop-session; see --help.
#include <signal.h>
#include <sys/stat.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTemporaryDir>
#include <map>
#include <optional>

#include "ZorvikMac/CodeIntake/CloudSyncCrypto.h"
#include "bench/app/BenchSupport.h"
#include "bench/app/IdleWindow.h"
#include "bench/app/ProcessFigures.h"
#include "bench/app/RecordWatch.h"
#include "platform/CloudRecord.h"
#include "platform/linux/keyring/SecretServiceKeychain.h"
#include "tools/zorvik-phone/WebCloudWriter.h"

namespace {

constexpr double kPushMedianTargetMs = 10;
constexpr double kPushP99TargetMs = 25;
// No code later than this while the courier is up.
constexpr double kPushLatestMs = 1000;
constexpr double kIdleCpuTargetPercent = 0.1;
constexpr double kBesidePollsTarget = 0.25;
// Longer than two background polls (5 s), should the courier's frame be lost.
constexpr int kArrivalTimeoutMs = 12000;
const auto kApiToken = QStringLiteral("bench-api-token");
const auto kAppGroup = QStringLiteral("K8QW41TR7N.net.brontal.zorvik.mac");

struct Options {
    QString app;
    QString phone;
    QString double_;
    int codes = 100;
    int idleSeconds = 60;
    // Processes spinning beside the push path, and how long they run before it.
    int load = 0;
    int loadWarmUpSeconds = 30;
    // How long the double holds an idle long poll before answering it empty.
    int courierHold = 25;
};

quint16 freePort() {
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

class Bench {
public:
    explicit Bench(Options options) : options_(std::move(options)) {}

    ~Bench() {
        stopApp();
        if (double_) {
            stop(*double_);
        }
    }

    bool prepare() {
        // A desktop's /run/user/UID is a tmpfs; so is this one.
        runtime_ = std::make_unique<QTemporaryDir>(QStringLiteral("/dev/shm/zorvik-bench-XXXXXX"));
        if (!runtime_->isValid() || !isTmpfs(runtime_->path())) {
            say("bench_web_push: cannot make a runtime directory in /dev/shm\n");
            return false;
        }
        shared_ = runtime_->path() + QStringLiteral("/app/") + kAppGroup;
        QDir().mkpath(shared_);
        QFile::setPermissions(runtime_->path(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        ::chmod(QFile::encodeName(shared_).constData(), 0700);

        QProcess key;
        key.start(options_.phone,
                  {QStringLiteral("key"), QStringLiteral("generate"), QStringLiteral("--force")});
        if (!key.waitForFinished(10000) || key.exitCode() != 0) {
            say("bench_web_push: zorvik-phone key generate failed\n");
            return false;
        }
        try {
            SecretServiceKeychain keychain;
            key_ = CloudSyncCrypto::loadSyncKey(keychain);
        } catch (const Error& error) {
            say("bench_web_push: no sync key: %s\n", qPrintable(error.localizedDescription()));
            return false;
        }
        // The session's own keyring would otherwise give the app a session from an earlier run.
        QProcess::execute(QStringLiteral("secret-tool"),
                          {QStringLiteral("clear"), QStringLiteral("service"),
                           QStringLiteral("net.brontal.zorvik.cloudkit"), QStringLiteral("account"),
                           QStringLiteral("web-auth-token")});
        return writeSettings() && startDouble() && startApp({QStringLiteral("--sign-in")}) &&
               signIn();
    }

    int push() {
        // The load's spinners count in the load average only after a while: they start first.
        const std::optional<CpuLoad> load =
            options_.load > 0 ? std::optional<CpuLoad>(std::in_place, options_.load) : std::nullopt;
        if (load) {
            spin(options_.loadWarmUpSeconds * 1000);
        }
        say("\n== record written through the web service to the code in latest-code.json, by the "
            "courier (%d codes, load %s%s)\n",
            options_.codes, qPrintable(loadAverage()),
            load ? qPrintable(QStringLiteral(", of which %1 processes spinning beside it")
                                  .arg(options_.load))
                 : "");
        WebCloudWriter writer(url_, kApiToken);
        if (const auto problem = writer.signIn()) {
            say("bench_web_push: %s\n", qPrintable(*problem));
            return 1;
        }
        RecordWatch watch(shared_, QStringLiteral("latest-code.json"));
        if (!watch.isWatching()) {
            say("bench_web_push: cannot watch %s\n", qPrintable(shared_));
            return 1;
        }
        const int pushesBefore = countInLog("push received: subscription pending-code-changes");
        std::vector<double> arrived;  // from the record stored in the service
        std::vector<double> sent;     // from the write's request leaving this process
        std::vector<double> answered;
        QString code;
        for (int n = 0; n < options_.codes; ++n) {
            code = newCode(code);
            const CloudRecord record = sealedCodeRecord(*key_, code);
            const Clock::time_point writing = Clock::now();
            if (const auto problem = writer.save(record)) {
                say("bench_web_push: writing code %d: %s\n", n, qPrintable(*problem));
                return 1;
            }
            const Clock::time_point written = Clock::now();
            const bool published = waitUntil([&] { return latestHolds(code); }, kArrivalTimeoutMs);
            // The watch's thread notes the replacement as its event arrives, which may be just
            // after the new content shows.
            std::optional<Clock::time_point> replaced;
            waitUntil([&] { return (replaced = watch.replacedSince(writing)).has_value(); }, 1000);
            if (!published || !replaced) {
                say("bench_web_push: code %d %s; the app's log:\n%s", n,
                    published ? "was published, but no replacement of latest-code.json was seen"
                              : "did not reach latest-code.json",
                    log_.right(1500).constData());
                return 1;
            }
            const auto stored = recordWrittenAt(QStringLiteral("pending-code"));
            if (!stored || *stored < writing || *stored > *replaced) {
                say("bench_web_push: the double did not say when it stored code %d\n", n);
                return 1;
            }
            arrived.push_back(millisecondsBetween(*stored, *replaced));
            sent.push_back(millisecondsBetween(writing, *replaced));
            answered.push_back(millisecondsBetween(writing, written));
            // Codes a few tenths of a second apart, as no person types faster.
            spin(150 + QRandomGenerator::global()->bounded(100));
        }
        const int pushes =
            countInLog("push received: subscription pending-code-changes") - pushesBefore;
        const Spread s = spreadOf(arrived);
        const Spread w = spreadOf(answered);
        const Spread fromRequest = spreadOf(sent);
        const double p99 = percentile(arrived, 0.99);
        say("record written to latest-code.json: median %.2f ms, p90 %.2f ms, p99 %.2f ms, min "
            "%.2f ms, max %.2f ms  [targets median <= %.0f ms: %s, p99 <= %.0f ms: %s, none "
            "later than %.0f ms: %s]\n",
            s.median, s.p90, p99, s.min, s.max, kPushMedianTargetMs,
            verdict(s.median <= kPushMedianTargetMs), kPushP99TargetMs,
            verdict(p99 <= kPushP99TargetMs), kPushLatestMs, verdict(s.max <= kPushLatestMs));
        say("from the write's request leaving: median %.2f ms, p99 %.2f ms, max %.2f ms; the "
            "service answered the write after a median %.2f ms\n",
            fromRequest.median, percentile(sent, 0.99), fromRequest.max, w.median);
        say("  %d of %d codes announced by a courier push (the others were fetched first by the "
            "background poll)\n",
            pushes, options_.codes);
        return 0;
    }

    struct IdleRun {
        IdleWindow::Figures figures;
        int polls = 0;  // fetches of the record the double saw in the window
    };

    std::optional<IdleRun> idle(const char* holding) {
        say("\n== idle for %d s with the courier's long poll open, %s, polling every %d s (the "
            "double answers an idle long poll after %d s; load %s)\n",
            options_.idleSeconds, holding, pollInterval_, options_.courierHold,
            qPrintable(loadAverage()));
        // Past the start's own work: a check that found push still registering runs again
        // 15 s later.
        spin(20000);
        const qint64 logBefore = doubleLog().size();
        const auto figures = IdleWindow::measure({appPid_}, options_.idleSeconds);
        const IdleWindow::Figures& f = figures.front();
        if (f.ended || app_->state() != QProcess::Running) {
            say("bench_web_push: ZorvikMac ended during the window\n");
            return std::nullopt;
        }
        const QByteArray calls = doubleLog().mid(logBefore);
        const int polls = int(calls.count("records/lookup"));
        say("CPU %.3f %% (%.1f ms on a CPU), %.2f wake-ups/s (%s), %.2f preemptions/s; %d "
            "fetches of the record  [target <= %.1f %%: %s]\n",
            f.cpuPercent, f.scheduledMs, f.wakeUpsPerSecond,
            qPrintable(IdleWindow::wakeUpsByThreadText(f)), f.preemptionsPerSecond, polls,
            kIdleCpuTargetPercent, verdict(f.cpuPercent <= kIdleCpuTargetPercent));
        say("  calls the service saw in the window: %s\n", qPrintable(callsText(calls)));
        return IdleRun{f, polls};
    }

    // The app again, signed in from the keyring, polling every `seconds`.
    bool restartPollingEvery(int seconds) {
        stopApp();
        log_.clear();
        pollInterval_ = seconds;
        if (!writeSettings() || !startApp({})) {
            return false;
        }
        if (!waitUntil([&] { return log_.contains("push registered") && courierPolling(); },
                       15000)) {
            say("bench_web_push: the app did not come back to the courier\n%s", log_.constData());
            return false;
        }
        return true;
    }

    // Two windows apart only in how often the app polls tell what one poll costs, and so what
    // the app does beside its polls: W = rate * T + polls * perPoll for each.
    static int besidePolls(const IdleRun& often, const IdleRun& rarely, double seconds) {
        const auto wakeUps = [&](const IdleRun& run) {
            return run.figures.wakeUpsPerSecond * seconds;
        };
        if (often.polls <= rarely.polls) {
            say("bench_web_push: the windows polled alike; nothing to tell them apart\n");
            return 1;
        }
        const double perPoll = (wakeUps(often) - wakeUps(rarely)) / (often.polls - rarely.polls);
        const double beside = std::max(0.0, (wakeUps(rarely) - rarely.polls * perPoll) / seconds);
        say("\n== what the app wakes for\none fetch of the record (poll): %.1f wake-ups; beside "
            "the polls: %.2f wake-ups/s  [target <= %.2f/s: %s]\n",
            perPoll, beside, kBesidePollsTarget, verdict(beside <= kBesidePollsTarget));
        return 0;
    }

private:
    bool startDouble() {
        signInPort_ = freePort();
        const QString portFile = runtime_->path() + QStringLiteral("/cloud-url");
        double_ = std::make_unique<QProcess>();
        double_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        double_->start(QStringLiteral("python3"),
                       {options_.double_, QStringLiteral("--port-file"), portFile,
                        QStringLiteral("--api-token"), kApiToken, QStringLiteral("--callback"),
                        QStringLiteral("http://127.0.0.1:%1/zorvik-signin").arg(signInPort_),
                        QStringLiteral("--courier-hold"), QString::number(options_.courierHold),
                        QStringLiteral("--log"), runtime_->path() + QStringLiteral("/cloud.log")});
        if (!waitUntil([&] { return QFile(portFile).size() > 0; }, 10000)) {
            say("bench_web_push: the cloud double did not start\n");
            return false;
        }
        QFile file(portFile);
        (void)file.open(QIODevice::ReadOnly);
        url_ = QUrl(QString::fromUtf8(file.readAll().trimmed()));
        return true;
    }

    // The app runs at a terminal, as a person starts --headless: it asks there which account to
    // use, and the bench answers as the person would.
    bool startApp(const QStringList& flags) {
        app_ = std::make_unique<QProcess>();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime_->path());
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome());
        app_->setProcessEnvironment(environment);
        app_->setProcessChannelMode(QProcess::MergedChannels);
        QObject::connect(app_.get(), &QProcess::readyRead, [this] { log_ += app_->readAll(); });
        const QString pidFile = runtime_->path() + QStringLiteral("/app.pid");
        QFile::remove(pidFile);
        QStringList command{options_.app,
                            QStringLiteral("--headless"),
                            QStringLiteral("--cloud-url"),
                            url_.toString(),
                            QStringLiteral("--cloud-api-token"),
                            kApiToken,
                            QStringLiteral("--sign-in-port"),
                            QString::number(signInPort_)};
        command += flags;
        QString line = QStringLiteral("echo $$ >'%1'; exec").arg(pidFile);
        for (const QString& word : command) {
            line += QStringLiteral(" '") + word + QLatin1Char('\'');
        }
        app_->start(QStringLiteral("script"),
                    {QStringLiteral("-qfec"), line, QStringLiteral("/dev/null")});
        if (!app_->waitForStarted(10000) ||
            !waitUntil([&] { return QFile(pidFile).size() > 0; }, 10000)) {
            say("bench_web_push: cannot start %s at a terminal (script)\n",
                qPrintable(options_.app));
            return false;
        }
        QFile file(pidFile);
        (void)file.open(QIODevice::ReadOnly);
        appPid_ = static_cast<pid_t>(file.readAll().trimmed().toInt());
        return appPid_ > 0;
    }

    void stopApp() {
        if (app_ && app_->state() != QProcess::NotRunning) {
            // Never kill(0): that is this process's whole group.
            if (appPid_ > 0) {
                ::kill(appPid_, SIGTERM);
            }
            if (!app_->waitForFinished(5000)) {
                if (appPid_ > 0) {
                    ::kill(appPid_, SIGKILL);
                }
                app_->kill();
                app_->waitForFinished(5000);
            }
        }
        app_.reset();
        appPid_ = 0;
    }

    // Plays the browser: follows the sign-in page the app names back to its listener.
    bool signIn() {
        QString page;
        const bool offered = waitUntil(
            [&] {
                const qsizetype at = log_.indexOf("sign-in: open ");
                if (at < 0) {
                    return false;
                }
                const qsizetype from = at + qsizetype(qstrlen("sign-in: open "));
                page = QString::fromUtf8(log_.mid(from, log_.indexOf(' ', from) - from));
                return true;
            },
            10000);
        if (!offered) {
            say("bench_web_push: the app offered no sign-in page\n%s", log_.constData());
            return false;
        }
        QProcess browser;
        browser.start(QStringLiteral("curl"), {QStringLiteral("-fsSL"), page});
        if (!browser.waitForFinished(10000) || browser.exitCode() != 0) {
            say("bench_web_push: the browser could not follow the sign-in page\n");
            return false;
        }
        if (!waitUntil([&] { return log_.contains("with the account"); }, 10000)) {
            say("bench_web_push: the app did not ask which account to use\n%s", log_.constData());
            return false;
        }
        app_->write("yes\n");
        if (!waitUntil([&] { return courierPolling(); }, 10000)) {
            say("bench_web_push: the app is not polling the courier\n%s", log_.constData());
            return false;
        }
        return true;
    }

    QJsonObject doubleState() {
        QNetworkRequest request(url_.resolved(QUrl(QStringLiteral("/_double/state"))));
        QNetworkReply* reply = network_.get(request);
        waitUntil([&] { return reply->isFinished(); }, 2000);
        const QJsonObject state = QJsonDocument::fromJson(reply->readAll()).object();
        reply->deleteLater();
        return state;
    }

    // When the double stored the record last, on the monotonic clock this process's Clock reads.
    std::optional<Clock::time_point> recordWrittenAt(const QString& recordName) {
        const QJsonValue at =
            doubleState().value(QStringLiteral("writtenAt")).toObject().value(recordName);
        if (!at.isDouble()) {
            return std::nullopt;
        }
        return Clock::time_point(std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(at.toDouble())));
    }

    // The double's word: a long poll is open and the subscription is saved.
    bool courierPolling() {
        const QJsonObject state = doubleState();
        if (!state.value(QStringLiteral("subscriptions"))
                 .toObject()
                 .contains(QStringLiteral("pending-code-changes"))) {
            return false;
        }
        const QJsonObject tokens = state.value(QStringLiteral("courierTokens")).toObject();
        for (const QJsonValue& token : tokens) {
            if (token.toObject().value(QStringLiteral("polling")).toInt() > 0) {
                return true;
            }
        }
        return false;
    }

    bool latestHolds(const QString& code) const {
        QFile file(shared_ + QStringLiteral("/latest-code.json"));
        return file.open(QIODevice::ReadOnly) &&
               file.readAll().contains(QStringLiteral("\"code\":\"%1\"").arg(code).toUtf8());
    }

    int countInLog(const char* line) const { return int(log_.count(line)); }

    QString configHome() const { return runtime_->path() + QStringLiteral("/config"); }
    bool writeSettings() const {
        const QString directory = configHome() + QStringLiteral("/net.brontal.zorvik");
        QDir().mkpath(directory);
        QFile settings(directory + QStringLiteral("/ZorvikMac.conf"));
        return settings.open(QIODevice::WriteOnly) &&
               settings.write(QStringLiteral("[General]\nfirstRunDone=true\npollInterval=%1\n")
                                  .arg(pollInterval_)
                                  .toUtf8()) > 0;
    }
    // The double's request log: "TIME METHOD PATH STATUS" a line.
    QByteArray doubleLog() const {
        QFile file(runtime_->path() + QStringLiteral("/cloud.log"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    // "GET /aps 2, POST .../records/lookup 8": the calls in `log` by method and path.
    static QString callsText(const QByteArray& log) {
        std::map<QString, int> counts;
        for (const QByteArray& line : log.split('\n')) {
            const QList<QByteArray> fields = line.split(' ');
            if (fields.size() >= 4) {
                const QByteArray path = fields[fields.size() - 2].split('?').front();
                counts[QString::fromUtf8(fields[fields.size() - 3] + ' ' + path)] += 1;
            }
        }
        QStringList parts;
        for (const auto& [call, count] : counts) {
            parts.append(QStringLiteral("%1 %2").arg(call).arg(count));
        }
        return parts.isEmpty() ? QStringLiteral("none") : parts.join(QStringLiteral(", "));
    }

    Options options_;
    std::unique_ptr<QTemporaryDir> runtime_;
    QString shared_;
    std::optional<SymmetricKey> key_;
    std::unique_ptr<QProcess> double_;
    std::unique_ptr<QProcess> app_;
    pid_t appPid_ = 0;
    int pollInterval_ = 5;  // the default
    QByteArray log_;
    QUrl url_;
    quint16 signInPort_ = 0;
    QNetworkAccessManager network_;
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Times the code's road through the cloud's web service, played by its local double, in "
        "the private desktop session (scripts/desktop-session): a record written through the "
        "service to the code in latest-code.json by the web push courier (median and p99), and "
        "the app's idle CPU with the courier's long poll open.");
    parser.addHelpOption();
    parser.addPositionalArgument("ZORVIKMAC", "the application binary");
    parser.addPositionalArgument("ZORVIK_PHONE", "the phone tool");
    parser.addPositionalArgument("DOUBLE", "tests/support/cloudkit-double/cloudkit-double.py");
    const QCommandLineOption codes("codes", "codes to send (default 100)", "N", "100");
    const QCommandLineOption idleSeconds("idle-seconds", "length of the idle window (default 60)",
                                         "S", "60");
    const QCommandLineOption load(
        "load",
        "processes that spin on a CPU beside the push path, started 30 s before it "
        "(default 0)",
        "N", "0");
    parser.addOptions({codes, idleSeconds, load});
    parser.process(application);
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 3) {
        parser.showHelp(2);
    }
    if (qEnvironmentVariable("ZORVIK_DESKTOP_SESSION") != u"1") {
        say("bench_web_push: run it inside scripts/desktop-session (scripts/bench --web does)\n");
        return 2;
    }
    Options options;
    options.app = positional[0];
    options.phone = positional[1];
    options.double_ = positional[2];
    options.codes = std::max(1, parser.value(codes).toInt());
    options.idleSeconds = std::max(1, parser.value(idleSeconds).toInt());
    options.load = std::max(0, parser.value(load).toInt());

    Bench bench(options);
    if (!bench.prepare()) {
        return 1;
    }
    int status = 0;
    const auto often = bench.idle("no code held");
    const bool rarelyStarted = often && bench.restartPollingEvery(60);
    const auto rarely = rarelyStarted ? bench.idle("no code held") : std::nullopt;
    if (!often || !rarely || !bench.restartPollingEvery(5)) {
        return 1;
    }
    status |= Bench::besidePolls(*often, *rarely, options.idleSeconds);
    status |= bench.push();
    status |= bench.idle("the last code held") ? 0 : 1;
    return status;
}
