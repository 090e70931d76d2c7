// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/cloud/LocalCloudRemoteNotifications.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QSet>
#include <QUuid>
#include <cerrno>
#include <cstring>

#include "platform/MainActor.h"
#include "platform/linux/cloud/CloudRecordCoding.h"
#include "platform/linux/cloud/LocalCloudDatabase.h"
#include "shared/AtomicFile.h"

namespace {

constexpr std::uint32_t kWatchedEvents = IN_CREATE | IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM |
                                         IN_DELETE | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

constexpr int kRecordCreated = 1;
constexpr int kRecordUpdated = 2;
constexpr int kRecordDeleted = 3;

const QString kJsonSuffix = QStringLiteral(".json");

QString systemMessage(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// The record a file name stands for; nothing for other files, temporary ones included.
std::optional<QString> recordNameOfFile(const QString& fileName) {
    if (!fileName.endsWith(kJsonSuffix)) {
        return std::nullopt;
    }
    QString name = fileName.chopped(kJsonSuffix.size());
    if (!CloudRecordCoding::isValidRecordName(name)) {
        return std::nullopt;
    }
    return name;
}

int firesOnFlag(int reason) {
    switch (reason) {
        case kRecordCreated:
            return QuerySubscription::onRecordCreation;
        case kRecordUpdated:
            return QuerySubscription::onRecordUpdate;
        default:
            return QuerySubscription::onRecordDeletion;
    }
}

}  // namespace

struct LocalCloudRemoteNotifications::Shared {
    Handlers handlers;
};

LocalCloudRemoteNotifications::LocalCloudRemoteNotifications(MainActor& mainActor,
                                                             QString databaseDirectory,
                                                             QString containerIdentifier)
    : mainActor_(mainActor),
      databaseDirectory_(std::move(databaseDirectory)),
      containerIdentifier_(std::move(containerIdentifier)),
      shared_(std::make_shared<Shared>()) {}

LocalCloudRemoteNotifications::~LocalCloudRemoteNotifications() {
    notifier_.reset();
    if (inotifyFd_ >= 0) {
        ::close(inotifyFd_);
    }
}

void LocalCloudRemoteNotifications::setHandlers(Handlers handlers) {
    shared_->handlers = std::move(handlers);
}

bool LocalCloudRemoteNotifications::isRegisteredForRemoteNotifications() const {
    return watch_ >= 0;
}

void LocalCloudRemoteNotifications::registerForRemoteNotifications() {
    QString problem;
    if (watch_ < 0) {
        problem = installWatch();
        if (problem.isEmpty()) {
            // What is there already was created before anyone listened.
            knownRecords_.clear();
            rescan(false);
        }
    }
    if (problem.isEmpty()) {
        deliver([](const Handlers& handlers) {
            if (handlers.didRegister) {
                handlers.didRegister();
            }
        });
    } else {
        deliver([problem](const Handlers& handlers) {
            if (handlers.didFailToRegister) {
                handlers.didFailToRegister(problem);
            }
        });
    }
}

QString LocalCloudRemoteNotifications::installWatch() {
    const QString zone = LocalCloudDatabase::zoneDirectory(databaseDirectory_);
    try {
        AtomicFile::makeDirectories(zone);
        AtomicFile::makeDirectories(LocalCloudDatabase::subscriptionsDirectory(databaseDirectory_));
    } catch (const FileOperationError& error) {
        return error.localizedDescription();
    }
    if (inotifyFd_ < 0) {
        inotifyFd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (inotifyFd_ < 0) {
            return QStringLiteral("Cannot watch %1: %2").arg(zone, systemMessage(errno));
        }
        notifier_ = std::make_unique<QSocketNotifier>(inotifyFd_, QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                         [this] { readEvents(); });
    }
    watch_ = inotify_add_watch(inotifyFd_, QFile::encodeName(zone).constData(), kWatchedEvents);
    if (watch_ < 0) {
        return QStringLiteral("Cannot watch %1: %2").arg(zone, systemMessage(errno));
    }
    return {};
}

void LocalCloudRemoteNotifications::removeWatch() {
    if (watch_ >= 0) {
        // Fails harmlessly when the kernel dropped the watch already.
        inotify_rm_watch(inotifyFd_, watch_);
        watch_ = -1;
    }
}

void LocalCloudRemoteNotifications::readEvents() {
    alignas(inotify_event) char buffer[16 * (sizeof(inotify_event) + NAME_MAX + 1)];
    bool lostEvents = false;
    bool lostWatch = false;
    for (;;) {
        const ssize_t length = ::read(inotifyFd_, buffer, sizeof buffer);
        if (length < 0 && errno == EINTR) {
            continue;
        }
        if (length <= 0) {
            break;  // EAGAIN: everything is read
        }
        for (ssize_t offset = 0; offset < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
            offset += ssize_t(sizeof(inotify_event) + event->len);
            if (event->mask & IN_Q_OVERFLOW) {
                lostEvents = true;
                continue;
            }
            if (event->wd != watch_ || watch_ < 0) {
                continue;  // a watch removed before
            }
            if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) {
                lostWatch = true;
                continue;
            }
            if (event->len == 0 || (event->mask & IN_ISDIR)) {
                continue;
            }
            const auto recordName = recordNameOfFile(QFile::decodeName(event->name));
            if (!recordName) {
                continue;
            }
            if (event->mask & IN_MOVED_TO) {
                recordWritten(*recordName, Write::renamedInPlace);
            } else if (event->mask & IN_CREATE) {
                recordWritten(*recordName, Write::appeared);
            } else if (event->mask & IN_CLOSE_WRITE) {
                recordWritten(*recordName, Write::closedAfterWriting);
            } else if (event->mask & (IN_DELETE | IN_MOVED_FROM)) {
                recordRemoved(*recordName);
            }
        }
    }
    if (lostWatch) {
        // The zone directory was deleted or moved away: watch the one at the path again, made
        // anew when needed, and take what is in it as written.
        removeWatch();
        if (installWatch().isEmpty()) {
            rescan(true);
        }
    } else if (lostEvents) {
        rescan(true);
    }
}

void LocalCloudRemoteNotifications::recordWritten(const QString& recordName, Write write) {
    LocalCloudDatabase::FileVersion version;
    QString recordType;
    bool readable = true;
    try {
        recordType =
            LocalCloudDatabase::readRecord(databaseDirectory_, recordName, &version).recordType;
    } catch (const CloudError& error) {
        if (error.code() == CloudError::unknownItem) {
            return;  // gone again already; its removal follows
        }
        readable = false;  // of no known type, so it matches every subscription
    }
    if (write == Write::appeared && !readable) {
        return;  // a plain write under way: its close pushes
    }
    const auto known = knownRecords_.constFind(recordName);
    const bool created = known == knownRecords_.cend();
    if (write != Write::renamedInPlace && !created && version.isKnown() &&
        known->version == version) {
        return;  // the version pushed already, appeared whole and then closed
    }
    knownRecords_.insert(recordName, {recordType, version});
    push(recordName, recordType, created ? kRecordCreated : kRecordUpdated);
}

void LocalCloudRemoteNotifications::recordRemoved(const QString& recordName) {
    const auto known = knownRecords_.constFind(recordName);
    if (known == knownRecords_.cend()) {
        return;
    }
    const QString recordType = known->recordType;
    knownRecords_.erase(known);
    push(recordName, recordType, kRecordDeleted);
}

void LocalCloudRemoteNotifications::rescan(bool pushing) {
    const QDir zone(LocalCloudDatabase::zoneDirectory(databaseDirectory_));
    QSet<QString> present;
    for (const QString& fileName : zone.entryList(QDir::Files, QDir::Name)) {
        const auto recordName = recordNameOfFile(fileName);
        if (!recordName) {
            continue;
        }
        present.insert(*recordName);
        if (pushing) {
            recordWritten(*recordName, Write::closedAfterWriting);
            continue;
        }
        KnownRecord record;
        try {
            record.recordType =
                LocalCloudDatabase::readRecord(databaseDirectory_, *recordName, &record.version)
                    .recordType;
        } catch (const CloudError&) {
        }
        knownRecords_.insert(*recordName, record);
    }
    const QStringList known = knownRecords_.keys();
    for (const QString& recordName : known) {
        if (!present.contains(recordName)) {
            recordRemoved(recordName);
        }
    }
}

void LocalCloudRemoteNotifications::push(const QString& recordName, const QString& recordType,
                                         int reason) {
    const int event = firesOnFlag(reason);
    const auto subscriptions = LocalCloudDatabase::readSubscriptions(databaseDirectory_);
    for (const QuerySubscription& subscription : subscriptions.subscriptions) {
        if (!(subscription.firesOn & event) ||
            (!recordType.isEmpty() && subscription.recordType != recordType)) {
            continue;
        }
        const QVariantMap query{
            {QStringLiteral("dbs"), 1},
            {QStringLiteral("fo"), reason},
            {QStringLiteral("rid"), recordName},
            {QStringLiteral("sid"), subscription.subscriptionID},
            {QStringLiteral("zid"), QString::fromLatin1(LocalCloudDatabase::defaultZoneName)},
            {QStringLiteral("zoid"), QStringLiteral("_defaultOwner")},
        };
        const QVariantMap userInfo{
            {QStringLiteral("aps"), QVariantMap{{QStringLiteral("content-available"), 1}}},
            {QStringLiteral("ck"),
             QVariantMap{
                 {QStringLiteral("ce"), 2},
                 {QStringLiteral("cid"), containerIdentifier_},
                 {QStringLiteral("nid"), QUuid::createUuid().toString(QUuid::WithoutBraces)},
                 {QStringLiteral("qry"), query},
             }},
        };
        deliver([userInfo](const Handlers& handlers) {
            if (handlers.didReceive) {
                handlers.didReceive(userInfo);
            }
        });
    }
}

void LocalCloudRemoteNotifications::deliver(std::function<void(const Handlers&)> call) {
    // Through the queue, so a handler never runs inside a call to this object; and not at all
    // once the object is gone.
    mainActor_.post([weak = std::weak_ptr<Shared>(shared_), call = std::move(call)] {
        if (const auto shared = weak.lock()) {
            // A copy: a handler may replace the handlers.
            const Handlers handlers = shared->handlers;
            call(handlers);
        }
    });
}
