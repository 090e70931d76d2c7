// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QVariant>
#include <functional>
#include <optional>

#include "platform/BundleInfo.h"
#include "platform/Logger.h"

class DistributedNotificationCenter;
class RunningApplications;

// Only the newest copy of the application runs: a copy that starts tells the older ones to
// quit through a distributed notice carrying its process identifier, and also sends each of
// them the terminate signal; a copy that hears a newer copy's notice quits. "Newer" is one
// order that every copy reads alike (the start of each process), so copies started at the same
// moment agree on the one that stays: a copy that finds a newer one already running steps back
// itself, and a notice from an older copy is ignored.
class TakeOver {
public:
    static constexpr auto noticeName = "net.brontal.zorvik.take-over";

    // `terminate` ends this application normally, tidying up as at any quit.
    TakeOver(DistributedNotificationCenter& notices, RunningApplications& applications,
             const BundleInfo& bundle, SystemLog& systemLog, std::function<void()> terminate);
    // Stops listening; the shell keeps its take-over for the life of the process.
    ~TakeOver();
    TakeOver(const TakeOver&) = delete;
    TakeOver& operator=(const TakeOver&) = delete;

    // Listens for newer copies for the rest of the process's life, then asks the older ones to
    // quit. False when a newer copy is already running: this one is to quit without starting.
    // Does nothing at all without a bundle identifier.
    bool askOlderCopiesToQuit();

    // The process identifier a notice names: a text of an optional sign and decimal digits that
    // fits 32 bits. Nothing for anything else.
    static std::optional<qint32> noticeProcessIdentifier(const std::optional<QVariant>& object);

    // Quits unless the notice is malformed, is this copy's own or comes from an older copy.
    void handleTakeOver(const std::optional<QVariant>& object, qint32 ownPid);

private:
    // Whether the copy `pid` started before this one, as far as the running copies tell.
    bool isOlderCopy(qint32 pid, qint32 ownPid) const;

    DistributedNotificationCenter& notices_;
    RunningApplications& applications_;
    std::optional<QString> bundleIdentifier_;
    Logger log_;
    std::function<void()> terminate_;
    std::optional<int> observer_;
};
