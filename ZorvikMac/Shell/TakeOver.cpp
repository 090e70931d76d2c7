// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZorvikMac/Shell/TakeOver.h"

#include <algorithm>
#include <charconv>

#include "platform/DistributedNotificationCenter.h"
#include "platform/RunningApplications.h"

TakeOver::TakeOver(DistributedNotificationCenter& notices, RunningApplications& applications,
                   const BundleInfo& bundle, SystemLog& systemLog, std::function<void()> terminate)
    : notices_(notices),
      applications_(applications),
      bundleIdentifier_(bundle.identifier),
      log_(systemLog, QStringLiteral("net.brontal.zorvik"), QStringLiteral("shell")),
      terminate_(std::move(terminate)) {}

TakeOver::~TakeOver() {
    if (observer_) {
        notices_.removeObserver(*observer_);
    }
}

bool TakeOver::askOlderCopiesToQuit() {
    if (!bundleIdentifier_) {
        return true;
    }
    const qint32 ownPid = applications_.currentProcessIdentifier();
    observer_ = notices_.addObserver(
        QString::fromLatin1(noticeName),
        [this, ownPid](std::optional<QVariant> object) { handleTakeOver(object, ownPid); });
    const auto copies = applications_.runningApplications(*bundleIdentifier_);
    const auto own = std::find_if(copies.begin(), copies.end(), [ownPid](const auto& copy) {
        return copy.processIdentifier == ownPid;
    });
    QList<RunningApplications::RunningApplication> older;
    for (const auto& application : copies) {
        if (application.processIdentifier == ownPid) {
            continue;
        }
        // Without its own entry, this copy counts as the newest, as the one just started.
        if (own != copies.end() && RunningApplications::startedAfter(application, *own)) {
            log_.info("Zorvik: a newer copy (pid %d) is starting as well; this copy quits",
                      application.processIdentifier);
            return false;
        }
        older.append(application);
    }
    if (older.isEmpty()) {
        return true;
    }
    notices_.post(QString::fromLatin1(noticeName), QVariant(QString::number(ownPid)));
    for (const auto& application : older) {
        log_.info("Zorvik: asking the older copy at %{public}s (pid %d) to quit",
                  application.bundleURL.value_or(QStringLiteral("?")),
                  application.processIdentifier);
        applications_.terminate(application.processIdentifier);
    }
    return true;
}

std::optional<qint32> TakeOver::noticeProcessIdentifier(const std::optional<QVariant>& object) {
    if (!object || object->typeId() != QMetaType::QString) {
        return std::nullopt;
    }
    // Anything outside Latin-1 turns into "?", which is no digit either.
    const QByteArray text = object->toString().toLatin1();
    if (text.isEmpty()) {
        return std::nullopt;
    }
    const char* first = text.constData();
    const char* last = first + text.size();
    // from_chars takes a minus but not a plus.
    if (*first == '+') {
        ++first;
        if (first != last && *first == '-') {
            return std::nullopt;
        }
    }
    qint32 value = 0;
    const auto [end, error] = std::from_chars(first, last, value);
    if (error != std::errc() || end != last) {
        return std::nullopt;
    }
    return value;
}

void TakeOver::handleTakeOver(const std::optional<QVariant>& object, qint32 ownPid) {
    const std::optional<qint32> pid = noticeProcessIdentifier(object);
    if (!pid || *pid == ownPid || isOlderCopy(*pid, ownPid)) {
        return;
    }
    log_.info("Zorvik: a newer copy (pid %d) took over; quitting", *pid);
    terminate_();
}

bool TakeOver::isOlderCopy(qint32 pid, qint32 ownPid) const {
    if (!bundleIdentifier_) {
        return false;
    }
    const auto copies = applications_.runningApplications(*bundleIdentifier_);
    const auto find = [&copies](qint32 wanted) {
        return std::find_if(copies.begin(), copies.end(), [wanted](const auto& copy) {
            return copy.processIdentifier == wanted;
        });
    };
    const auto sender = find(pid);
    const auto own = find(ownPid);
    // A sender that is gone, or not a copy in this session, is taken at its word.
    return sender != copies.end() && own != copies.end() &&
           RunningApplications::startedAfter(*own, *sender);
}
