// SPDX-License-Identifier: GPL-3.0-or-later
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <utility>

#include "platform/linux/desktop/FdDataWriter.h"

namespace {

// A pipe whose ends close with the test; the write end can be handed over.
struct Pipe {
    Pipe() { EXPECT_EQ(pipe2(ends, O_CLOEXEC), 0); }
    ~Pipe() {
        for (int end : ends) {
            if (end >= 0) {
                close(end);
            }
        }
    }
    int takeWriteEnd() { return std::exchange(ends[1], -1); }
    // Everything there is to read now, without waiting.
    QByteArray drain() {
        const int flags = fcntl(ends[0], F_GETFL);
        fcntl(ends[0], F_SETFL, flags | O_NONBLOCK);
        QByteArray data;
        char buffer[65536];
        for (;;) {
            const ssize_t count = read(ends[0], buffer, sizeof buffer);
            if (count <= 0) {
                atEnd = count == 0;
                break;
            }
            data.append(buffer, count);
        }
        fcntl(ends[0], F_SETFL, flags);
        return data;
    }

    int ends[2] = {-1, -1};
    bool atEnd = false;
};

TEST(FdDataWriter, ASmallEntryIsWrittenAtOnceAndTheReaderSeesItsEnd) {
    Pipe pipe;
    FdDataWriter writer(pipe.takeWriteEnd(), QByteArrayLiteral("493817"));
    EXPECT_EQ(writer.writeSome(), FdDataWriter::Progress::done);
    EXPECT_EQ(writer.fd(), -1);
    EXPECT_EQ(pipe.drain(), "493817");
    EXPECT_TRUE(pipe.atEnd) << "the descriptor was closed";
}

TEST(FdDataWriter, AReaderThatDoesNotReadNeverBlocksTheWriter) {
    // Far more than a pipe holds: a blocking write would hang the test here.
    QByteArray data(4 * 1024 * 1024, 'x');
    data[data.size() - 1] = 'y';
    Pipe pipe;
    FdDataWriter writer(pipe.takeWriteEnd(), data);
    EXPECT_EQ(writer.writeSome(), FdDataWriter::Progress::more);
    EXPECT_EQ(writer.writeSome(), FdDataWriter::Progress::more) << "still no room";
    // Once the reader reads, the rest follows piece by piece.
    QByteArray received;
    FdDataWriter::Progress progress = FdDataWriter::Progress::more;
    for (int round = 0; round < 10000 && progress == FdDataWriter::Progress::more; ++round) {
        received += pipe.drain();
        progress = writer.writeSome();
    }
    received += pipe.drain();
    EXPECT_EQ(progress, FdDataWriter::Progress::done);
    EXPECT_TRUE(received == data);  // not EXPECT_EQ: a failure would print 4 MB
}

TEST(FdDataWriter, AReaderThatWentAwayEndsTheWriteWithoutASignal) {
    Pipe pipe;
    close(std::exchange(pipe.ends[0], -1));
    FdDataWriter writer(pipe.takeWriteEnd(), QByteArrayLiteral("493817"));
    // With SIGPIPE's default action the test process would end here.
    EXPECT_EQ(writer.writeSome(), FdDataWriter::Progress::failed);
    sigset_t pending;
    sigemptyset(&pending);
    sigpending(&pending);
    EXPECT_EQ(sigismember(&pending, SIGPIPE), 0) << "no SIGPIPE left waiting either";
    EXPECT_EQ(writer.fd(), -1);
}

TEST(FdDataWriter, AWriterGivenUpOnClosesTheReadersPipe) {
    Pipe pipe;
    {
        FdDataWriter writer(pipe.takeWriteEnd(), QByteArray(1024 * 1024, 'x'));
        EXPECT_EQ(writer.writeSome(), FdDataWriter::Progress::more);
    }
    pipe.drain();
    EXPECT_TRUE(pipe.atEnd) << "the reader is not left waiting for more";
}

}  // namespace
