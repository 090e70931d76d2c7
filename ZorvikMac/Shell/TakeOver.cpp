#include "TakeOver.h"

#include <charconv>

#include "DistributedNotificationCenter.h"
#include "RunningApplications.h"

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

void TakeOver::askOlderCopiesToQuit() {
    if (!bundleIdentifier_) {
        return;
    }
    const qint32 ownPid = applications_.currentProcessIdentifier();
    observer_ = notices_.addObserver(
        QString::fromLatin1(noticeName),
        [this, ownPid](std::optional<QVariant> object) { handleTakeOver(object, ownPid); });
    QList<RunningApplications::RunningApplication> older;
    for (const auto& application : applications_.runningApplications(*bundleIdentifier_)) {
        if (application.processIdentifier != ownPid) {
            older.append(application);
        }
    }
    if (older.isEmpty()) {
        return;
    }
    notices_.post(QString::fromLatin1(noticeName), QVariant(QString::number(ownPid)));
    for (const auto& application : older) {
        log_.info("Zorvik: asking the older copy at %{public}s (pid %d) to quit",
                  application.bundleURL.value_or(QStringLiteral("?")),
                  application.processIdentifier);
        applications_.terminate(application.processIdentifier);
    }
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
    if (!pid || *pid == ownPid) {
        return;
    }
    log_.info("Zorvik: a newer copy (pid %d) took over; quitting", *pid);
    terminate_();
}
