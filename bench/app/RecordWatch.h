// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <chrono>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

// Notes, on a thread of its own, each moment a file appears whole in one directory: renamed into
// place, or linked in where there was none (QSaveFile's way with an unnamed temporary file). That
// is the instant a writer's atomic replacement of a cloud record becomes visible. The thread
// blocks in the kernel, so the moment is taken as the event arrives, whatever the main thread
// is doing.
class RecordWatch {
public:
    using Clock = std::chrono::steady_clock;

    RecordWatch(const QString& directory, const QString& fileName);
    ~RecordWatch();
    RecordWatch(const RecordWatch&) = delete;
    RecordWatch& operator=(const RecordWatch&) = delete;

    // False when the directory cannot be watched.
    bool isWatching() const { return watching_; }
    // The first replacement at or after `since`.
    std::optional<Clock::time_point> replacedSince(Clock::time_point since) const;

private:
    void run();

    QByteArray fileName_;
    int inotifyFd_ = -1;
    int stopFd_ = -1;
    bool watching_ = false;
    mutable std::mutex mutex_;
    std::vector<Clock::time_point> replacements_;
    std::thread thread_;
};
