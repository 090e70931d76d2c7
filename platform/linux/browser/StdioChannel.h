// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>

#include "platform/ByteChannel.h"

class QSocketNotifier;

// Standard input and output as the channel, standard error for reports.
class StdioChannel final : public ByteChannel {
public:
    // Ignores SIGPIPE, so a reader that has gone shows up as a failed write instead of ending
    // the process.
    StdioChannel();
    ~StdioChannel() override;

    QByteArray read() override;
    bool write(QByteArrayView bytes) override;
    void report(const QString& line) override;
    void watchInput(std::function<void()> readable) override;

private:
    std::unique_ptr<QSocketNotifier> notifier_;
};
