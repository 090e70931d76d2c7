// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/desktop/FdDataWriter.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <ctime>
#include <utility>

namespace {

// Holds SIGPIPE back on this thread for the length of a write, and takes away the one that the
// write raised, so that a reader closing its end never ends the process. (A pipe, unlike a
// socket, has no MSG_NOSIGNAL.)
class SigpipeGuard {
public:
    SigpipeGuard() {
        sigset_t pending;
        sigemptyset(&pending);
        sigpending(&pending);
        wasPending_ = sigismember(&pending, SIGPIPE) == 1;
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe, &previous_);
    }
    ~SigpipeGuard() {
        if (brokenPipe && !wasPending_) {
            sigset_t pipe;
            sigemptyset(&pipe);
            sigaddset(&pipe, SIGPIPE);
            const timespec none{0, 0};
            while (sigtimedwait(&pipe, nullptr, &none) == -1 && errno == EINTR) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    SigpipeGuard(const SigpipeGuard&) = delete;
    SigpipeGuard& operator=(const SigpipeGuard&) = delete;

    bool brokenPipe = false;

private:
    sigset_t previous_;
    bool wasPending_ = false;
};

}  // namespace

FdDataWriter::FdDataWriter(int fd, QByteArray data) : fd_(fd), data_(std::move(data)) {
    const int flags = fcntl(fd_, F_GETFL);
    if (flags != -1) {
        fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
    }
}

FdDataWriter::~FdDataWriter() {
    close();
}

FdDataWriter::Progress FdDataWriter::writeSome() {
    if (fd_ < 0) {
        return written_ == data_.size() ? Progress::done : Progress::failed;
    }
    SigpipeGuard guard;
    while (written_ < data_.size()) {
        const ssize_t count =
            ::write(fd_, data_.constData() + written_, size_t(data_.size() - written_));
        if (count > 0) {
            written_ += count;
            continue;
        }
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return Progress::more;
        }
        guard.brokenPipe = count < 0 && errno == EPIPE;
        close();
        return Progress::failed;
    }
    close();
    return Progress::done;
}

void FdDataWriter::close() {
    if (fd_ >= 0) {
        ::close(std::exchange(fd_, -1));
    }
}
