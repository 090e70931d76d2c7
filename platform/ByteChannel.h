// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

// The byte streams a helper process talks to its starter over (standard input and output), and
// the line it may leave for a person (standard error).
class ByteChannel {
public:
    virtual ~ByteChannel() = default;
    // Blocks until some input has arrived; empty at the end of input.
    virtual QByteArray read() = 0;
    // Writes all of `bytes`; false when nobody reads any more.
    virtual bool write(QByteArrayView bytes) = 0;
    // A diagnostic line, never mixed into the output.
    virtual void report(const QString& line) = 0;
    // While an event loop runs, `readable` is called whenever read() would not block. An empty
    // function stops watching.
    virtual void watchInput(std::function<void()> readable) = 0;
};
