// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/browser/StdioChannel.h"

#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstdio>

StdioChannel::StdioChannel() {
    std::signal(SIGPIPE, SIG_IGN);
}

StdioChannel::~StdioChannel() = default;

QByteArray StdioChannel::read() {
    QByteArray buffer(64 * 1024, Qt::Uninitialized);
    for (;;) {
        const ssize_t count = ::read(STDIN_FILENO, buffer.data(), buffer.size());
        if (count >= 0) {
            buffer.truncate(count);
            return buffer;
        }
        if (errno != EINTR) {
            return {};
        }
    }
}

bool StdioChannel::write(QByteArrayView bytes) {
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t count =
            ::write(STDOUT_FILENO, bytes.data() + written, std::size_t(bytes.size() - written));
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return false;
        }
        written += count;
    }
    return true;
}

void StdioChannel::report(const QString& line) {
    std::fprintf(stderr, "%s\n", line.toUtf8().constData());
    std::fflush(stderr);
}

void StdioChannel::watchInput(std::function<void()> readable) {
    notifier_.reset();
    if (!readable) {
        return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                     [readable = std::move(readable)] { readable(); });
}
