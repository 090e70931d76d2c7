// SPDX-License-Identifier: GPL-3.0-or-later
// The code's road through the cloud's web service, timed from outside: the local double of the
// service (tests/support/cloudkit-double), the real ZorvikMac --headless signed in to it, and
// records written through the service as the phone writes them. Measures
//   - the time from writing the record (the records/modify call leaving) to the new code in
//     latest-code.json, by the web push courier, over many codes: median and p99;
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
#include <optional>

#include "ZorvikMac/CodeIntake/CloudSyncCrypto.h"
#include "bench/app/BenchSupport.h"
#include "bench/app/ProcessFigures.h"
#include "bench/app/RecordWatch.h"
#include "platform/CloudRecord.h"
#include "platform/linux/keyring/SecretServiceKeychain.h"
#include "tools/zorvik-phone/WebCloudWriter.h"

namespace {

constexpr double kPushTargetMs = 15;
constexpr double kIdleCpuTargetPercent = 0.1;
// Longer than the background poll (5 s): a push that comes while a poll's fetch runs is dropped,
// and the next poll brings the code.
constexpr int kArrivalTimeoutMs = 12000;
const auto kApiToken = QStringLiteral("bench-api-token");
const auto kAppGroup = QStringLiteral("K8QW41TR7N.net.brontal.zorvik.mac");

struct Options {
    QString app;
    QString phone;
    QString double_;
    int codes = 100;
    int idleSeconds = 60;
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
        return startDouble() && startApp({QStringLiteral("--sign-in")}) && signIn();
    }

    int push() {
        say("\n== record written through the web service to the code in latest-code.json, by the "
            "courier (%d codes, load %s)\n",
            options_.codes, qPrintable(loadAverage()));
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
        std::vector<double> arrived;
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
            arrived.push_back(millisecondsBetween(writing, *replaced));
            answered.push_back(millisecondsBetween(writing, written));
            // Codes a few tenths of a second apart, as no person types faster.
            spin(150 + QRandomGenerator::global()->bounded(100));
        }
        const int pushes =
            countInLog("push received: subscription pending-code-changes") - pushesBefore;
        const Spread s = spreadOf(arrived);
        const Spread w = spreadOf(answered);
        say("record written to latest-code.json: median %.2f ms, p90 %.2f ms, p99 %.2f ms, min "
            "%.2f ms, max %.2f ms  [target median <= %.0f ms: %s]\n",
            s.median, s.p90, percentile(arrived, 0.99), s.min, s.max, kPushTargetMs,
            verdict(s.median <= kPushTargetMs));
        say("  of which the write call until the service answered: median %.2f ms\n", w.median);
        say("  %d of %d codes announced by a courier push (the others were fetched first by the "
            "background poll)\n",
            pushes, options_.codes);
        return 0;
    }

    int idle(const char* holding) {
        say("\n== idle for %d s with the courier's long poll open, %s (the double answers an "
            "idle poll after %d s; load %s)\n",
            options_.idleSeconds, holding, options_.courierHold, qPrintable(loadAverage()));
        spin(3000);
        const pid_t pid = appPid_;
        const ProcessFigures::CpuTime before = ProcessFigures::cpuTime(pid);
        const Clock::time_point start = Clock::now();
        spin(options_.idleSeconds * 1000);
        const ProcessFigures::CpuTime after = ProcessFigures::cpuTime(pid);
        const double wallNs =
            std::chrono::duration<double, std::nano>(Clock::now() - start).count();
        if (app_->state() != QProcess::Running) {
            say("bench_web_push: ZorvikMac ended during the window\n");
            return 1;
        }
        const double percent =
            100.0 * static_cast<double>(after.userAndSystemNs - before.userAndSystemNs) / wallNs;
        const double scheduledPercent =
            100.0 * static_cast<double>(after.scheduledNs - before.scheduledNs) / wallNs;
        say("CPU %.3f %% (scheduler's count %.3f %%), %lld wake-ups  [target <= %.1f %%: %s]\n",
            percent, scheduledPercent,
            static_cast<long long>(after.contextSwitches - before.contextSwitches),
            kIdleCpuTargetPercent, verdict(percent <= kIdleCpuTargetPercent));
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
            ::kill(appPid_, SIGTERM);
            if (!app_->waitForFinished(5000)) {
                ::kill(appPid_, SIGKILL);
                app_->waitForFinished(5000);
            }
        }
        app_.reset();
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

    // The double's word: a long poll is open and the subscription is saved.
    bool courierPolling() {
        QNetworkRequest request(url_.resolved(QUrl(QStringLiteral("/_double/state"))));
        QNetworkReply* reply = network_.get(request);
        waitUntil([&] { return reply->isFinished(); }, 2000);
        const QJsonObject state = QJsonDocument::fromJson(reply->readAll()).object();
        reply->deleteLater();
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

    Options options_;
    std::unique_ptr<QTemporaryDir> runtime_;
    QString shared_;
    std::optional<SymmetricKey> key_;
    std::unique_ptr<QProcess> double_;
    std::unique_ptr<QProcess> app_;
    pid_t appPid_ = 0;
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
    parser.addOptions({codes, idleSeconds});
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

    Bench bench(options);
    if (!bench.prepare()) {
        return 1;
    }
    int status = bench.idle("no code held");
    status |= bench.push();
    status |= bench.idle("the last code held");
    return status;
}
