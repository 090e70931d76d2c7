// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/UnixSignalNotifier.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace {

int pipeEnds[2] = {-1, -1};

extern "C" void writeSignalNumber(int signal) {
    const int savedErrno = errno;
    const unsigned char number = static_cast<unsigned char>(signal);
    // A full pipe drops the signal; one is enough to quit.
    [[maybe_unused]] const ssize_t written = ::write(pipeEnds[1], &number, 1);
    errno = savedErrno;
}

}  // namespace

UnixSignalNotifier::UnixSignalNotifier(std::initializer_list<int> caught,
                                       std::function<void(int number)> handler, QObject* parent)
    : QObject(parent), handler_(std::move(handler)) {
    if (pipeEnds[0] < 0 && ::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    struct sigaction action {};
    action.sa_handler = writeSignalNumber;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : caught) {
        ::sigaction(signal, &action, nullptr);
    }
    notifier_ = std::make_unique<QSocketNotifier>(pipeEnds[0], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &UnixSignalNotifier::readSignals);
}

UnixSignalNotifier::~UnixSignalNotifier() = default;

void UnixSignalNotifier::readSignals() {
    unsigned char number = 0;
    while (::read(pipeEnds[0], &number, 1) == 1) {
        if (handler_) {
            handler_(number);
        }
    }
}

QString UnixSignalNotifier::name(int number) {
    switch (number) {
        case SIGTERM:
            return QStringLiteral("SIGTERM");
        case SIGINT:
            return QStringLiteral("SIGINT");
        case SIGHUP:
            return QStringLiteral("SIGHUP");
        default:
            return QString::number(number);
    }
}
