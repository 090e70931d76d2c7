// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

// Writes one block of data to a reader's file descriptor (the pipe a clipboard reader hands the
// compositor) without ever blocking: each call writes what the pipe takes at that moment. A reader
// that went away ends the write with `failed` instead of a SIGPIPE that would end the app.
class FdDataWriter {
public:
    enum class Progress { more, done, failed };

    // Takes the descriptor over and makes it non-blocking.
    FdDataWriter(int fd, QByteArray data);
    ~FdDataWriter();
    FdDataWriter(const FdDataWriter&) = delete;
    FdDataWriter& operator=(const FdDataWriter&) = delete;

    // Writes as much as the reader takes now; `more` means: call again once the descriptor is
    // writable. After `done` or `failed` the descriptor is closed.
    Progress writeSome();
    int fd() const { return fd_; }

private:
    void close();

    int fd_;
    QByteArray data_;
    qsizetype written_ = 0;
};
