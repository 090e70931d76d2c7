// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>
#include <vector>

#include "platform/SystemLog.h"

// Keeps every line written, for tests to read back.
class RecordingSystemLog final : public SystemLog {
public:
    struct Line {
        LogLevel level;
        QString subsystem;
        QString category;
        QString message;
        bool operator==(const Line&) const = default;
    };

    void write(LogLevel level, const QString& subsystem, const QString& category,
               const QString& message) override {
        lines.push_back({level, subsystem, category, message});
    }

    QStringList messages() const {
        QStringList all;
        for (const auto& line : lines) {
            all.append(line.message);
        }
        return all;
    }

    std::vector<Line> lines;
};
