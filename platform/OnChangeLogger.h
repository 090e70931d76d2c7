// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QHash>
#include <QString>

#include "platform/Logger.h"

// Writes a line only when it differs from the last line written on the same topic. A state that
// holds across many fetches or checks ("nothing pending", a locked keyring, a network that is
// down) then takes one line in the log when it begins, not one at every repetition.
class OnChangeLogger {
public:
    explicit OnChangeLogger(const Logger& logger) : logger_(logger) {}

    template <class... Args>
    void write(LogLevel level, const QString& topic, const char* format, const Args&... arguments) {
        writeIfChanged(level, topic, Logger::render(format, arguments...));
    }

    // Forgets the topic's last line, so that its next line is written whatever it says.
    void forget(const QString& topic) { last_.remove(topic); }

private:
    void writeIfChanged(LogLevel level, const QString& topic, const QString& line);

    const Logger& logger_;
    QHash<QString, QString> last_;
};
