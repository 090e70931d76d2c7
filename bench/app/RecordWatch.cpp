// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench/app/RecordWatch.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <QFile>
#include <climits>
#include <cstdint>

RecordWatch::RecordWatch(const QString& directory, const QString& fileName)
    : fileName_(QFile::encodeName(fileName)) {
    inotifyFd_ = inotify_init1(IN_CLOEXEC);
    stopFd_ = eventfd(0, EFD_CLOEXEC);
    if (inotifyFd_ < 0 || stopFd_ < 0) {
        return;
    }
    if (inotify_add_watch(inotifyFd_, QFile::encodeName(directory).constData(),
                          IN_MOVED_TO | IN_CREATE | IN_ONLYDIR) < 0) {
        return;
    }
    watching_ = true;
    thread_ = std::thread([this] { run(); });
}

RecordWatch::~RecordWatch() {
    if (thread_.joinable()) {
        const std::uint64_t one = 1;
        (void)!::write(stopFd_, &one, sizeof one);
        thread_.join();
    }
    for (const int fd : {inotifyFd_, stopFd_}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

std::optional<RecordWatch::Clock::time_point> RecordWatch::replacedSince(
    Clock::time_point since) const {
    const std::lock_guard lock(mutex_);
    for (const Clock::time_point at : replacements_) {
        if (at >= since) {
            return at;
        }
    }
    return std::nullopt;
}

void RecordWatch::run() {
    alignas(inotify_event) char buffer[16 * (sizeof(inotify_event) + NAME_MAX + 1)];
    pollfd fds[2] = {{inotifyFd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
    for (;;) {
        if (::poll(fds, 2, -1) < 0) {
            continue;  // EINTR
        }
        if (fds[1].revents != 0) {
            return;
        }
        const ssize_t length = ::read(inotifyFd_, buffer, sizeof buffer);
        const Clock::time_point now = Clock::now();
        for (ssize_t offset = 0; offset < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
            offset += ssize_t(sizeof(inotify_event) + event->len);
            if ((event->mask & (IN_MOVED_TO | IN_CREATE)) && event->len > 0 &&
                fileName_ == event->name) {
                const std::lock_guard lock(mutex_);
                replacements_.push_back(now);
            }
        }
    }
}
