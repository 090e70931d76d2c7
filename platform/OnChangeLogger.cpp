// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/OnChangeLogger.h"

void OnChangeLogger::writeIfChanged(LogLevel level, const QString& topic, const QString& line) {
    const auto last = last_.constFind(topic);
    if (last != last_.constEnd() && *last == line) {
        return;
    }
    last_.insert(topic, line);
    logger_.writeLine(level, line);
}
