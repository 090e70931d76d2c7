// SPDX-License-Identifier: GPL-3.0-or-later
// End-to-end latency of a code's way to the desktop: from the phone's save of the cloud record
// (the same atomic write zorvik-phone send makes) to latest-code.json holding the new code,
// through the real directory watch, fetch, AES-GCM open and atomic rename, on the Qt main
// actor. Measures the push path, then the polling path at the default interval.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "ZorvikMac/CodeDelivery/ClipboardPublisher.h"
#include "ZorvikMac/CodeIntake/PendingCode.h"
#include "ZorvikMac/CodeIntake/SymmetricKey.h"
#include "ZorvikMac/Readiness/MacSettings.h"
#include "ZorvikMac/Receiver/CodeReceiver.h"
#include "platform/Keychain.h"
#include "platform/LoginItemService.h"
#include "platform/Pasteboard.h"
#include "platform/SystemLog.h"
#include "platform/linux/QSettingsUserDefaults.h"
#include "platform/linux/QtMainActor.h"
#include "platform/linux/cloud/LocalCloud.h"
#include "platform/linux/cloud/LocalCloudDatabase.h"

namespace {

const QByteArray kKey("0123456789abcdef0123456789abcdef");

// The parts of the desktop this path does not go through, kept out of the way.
struct QuietLog : SystemLog {
    void write(LogLevel, const QString&, const QString&, const QString&) override {}
};
struct KeyOnlyKeychain : Keychain {
    Result copyMatching(const Query&) override { return {success, kKey}; }
    std::int32_t add(const Query&, const QByteArray&) override { return success; }
    std::int32_t store(const Query&, const QByteArray&) override { return success; }
    std::int32_t remove(const Query&) override { return success; }
};
struct NoClipboard : Pasteboard {
    long clearContents() override { return ++count; }
    bool setString(const QString&, const QString&) override { return true; }
    std::optional<QString> string(const QString&) const override { return std::nullopt; }
    long changeCount() const override { return count; }
    long count = 0;
};
struct NoLoginItem : LoginItemService {
    Status status() const override { return Status::notRegistered; }
    void registerApp() override {}
    void unregisterApp() override {}
};
struct NoWorkspace : Workspace {
    ObserverToken addObserver(Event, std::function<void()>) override { return 0; }
    void removeObserver(ObserverToken) override {}
    bool openURL(const QString&) override { return false; }
    void openApplication(const QString&) override {}
};

void spin(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

struct Figures {
    double median = 0;
    double p99 = 0;
    double worst = 0;
};

Figures figuresOf(std::vector<double> milliseconds) {
    std::sort(milliseconds.begin(), milliseconds.end());
    const auto at = [&](double q) {
        return milliseconds[std::min(
            milliseconds.size() - 1,
            static_cast<std::size_t>(q * static_cast<double>(milliseconds.size())))];
    };
    return {at(0.5), at(0.99), milliseconds.back()};
}

class Bench {
public:
    explicit Bench(bool viaPush) {
        settings.setCopyToClipboard(false);
        settings.setNotify(false);
        CodeReceiver::Services services{
            actor,           log,       keychain, &cloud,  cloud.remoteNotifications(),
            workspace,       clipboard, nullptr,  nullptr, {},
            QTimeZone::utc()};
        receiver = std::make_unique<CodeReceiver>(
            settings, LatestCodeStore(directory.filePath("group/latest-code.json")), false,
            defaults, services);
        QObject::connect(receiver.get(), &CodeReceiver::latestChanged, [this] {
            if (receiver->latest()) {
                arrived.restart();
                arrivedCode = receiver->latest()->code;
            }
        });
        cloud.remoteNotifications().setHandlers(
            {[] {}, [](const QString&) {},
             [this](const QVariantMap& info) { receiver->handleRemoteNotification(info); }});
        receiver->start();
        if (viaPush) {
            settings.setPollInterval(3600);
            cloud.remoteNotifications().registerForRemoteNotifications();
        }
        spin(200);  // the checks save the subscription
    }

    // Milliseconds from the record's save to the new code in latest-code.json, or -1.
    double send(int n, double timeoutSeconds) {
        const QString digits = QString::number(100000 + n);
        const auto issued = std::chrono::floor<std::chrono::seconds>(actor.now());
        const PendingCode code{QUuid::createUuid(),        "Bench", "github", digits, issued,
                               addingSeconds(issued, 600), "iPhone"};
        CloudRecord record{"pending-code", "PendingCode", {}};
        record.fields.insert("blob", code.seal(*SymmetricKey::fromBytes(kKey)));
        record.fields.insert("expiresAt", code.expiresAt);
        QElapsedTimer sent;
        sent.start();
        LocalCloudDatabase::writeRecord(LocalCloud::privateDatabaseDirectory(cloud.rootDirectory()),
                                        record);
        while (arrivedCode != digits) {
            if (sent.elapsed() > timeoutSeconds * 1000) {
                return -1;
            }
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        }
        return static_cast<double>(sent.nsecsElapsed() - arrived.nsecsElapsed()) / 1e6;
    }

private:
    QTemporaryDir directory;
    QtMainActor actor;
    QuietLog log;
    KeyOnlyKeychain keychain;
    LocalCloud cloud{actor, directory.filePath("cloud")};
    NoWorkspace workspace;
    NoClipboard pasteboard;
    ClipboardPublisher clipboard{pasteboard, actor};
    QSettingsUserDefaults defaults{directory.filePath("ZorvikMac.conf")};
    NoLoginItem loginItem;
    MacSettings settings{defaults, loginItem};
    std::unique_ptr<CodeReceiver> receiver;
    QElapsedTimer arrived;
    QString arrivedCode;
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    if (arguments.contains("--help")) {
        std::printf(
            "Usage: bench_push_path [PUSH_CODES [POLL_CODES]]\n"
            "Sends PUSH_CODES (default 300) codes by push and POLL_CODES (default 12) by\n"
            "polling at the default 5-second interval; prints median, p99 and worst.\n");
        return 0;
    }
    const int pushCodes = arguments.size() > 1 ? arguments[1].toInt() : 300;
    const int pollCodes = arguments.size() > 2 ? arguments[2].toInt() : 12;

    std::vector<double> push;
    {
        Bench bench(true);
        for (int n = 0; n < pushCodes; ++n) {
            const double latency = bench.send(n, 5);
            if (latency < 0) {
                std::fprintf(stderr, "code %d did not arrive by push within 5 s\n", n);
                return 1;
            }
            push.push_back(latency);
            spin(2);  // the phone does not send back to back
        }
    }
    const Figures p = figuresOf(push);
    std::printf("push path, %d codes: median %.2f ms, p99 %.2f ms, worst %.2f ms\n", pushCodes,
                p.median, p.p99, p.worst);

    if (pollCodes > 0) {
        std::vector<double> poll;
        Bench bench(false);
        for (int n = 0; n < pollCodes; ++n) {
            spin(QRandomGenerator::global()->bounded(5000));  // any moment of the interval
            const double latency = bench.send(100000 + n, 12);
            if (latency < 0) {
                std::fprintf(stderr, "code %d did not arrive by polling within 12 s\n", n);
                return 1;
            }
            poll.push_back(latency);
        }
        const Figures q = figuresOf(poll);
        std::printf(
            "polling path (5 s interval), %d codes: median %.0f ms, p99 %.0f ms, worst %.0f ms\n",
            pollCodes, q.median, q.p99, q.worst);
    }
    return 0;
}
