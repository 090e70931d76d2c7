// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>
#include <concepts>
#include <cstdint>
#include <variant>
#include <vector>

#include "platform/SystemLog.h"

// One argument of a log format: text, a whole number or a Bool.
using LogArgument = std::variant<QString, std::int64_t, bool>;

// Renders a log format in the printf style the product's messages are written in:
// "%{public}s" and "%s" take text, "%ld"/"%d" whole numbers, "%{bool}d" a Bool as true/false,
// "%%" a percent sign. A missing argument renders as "?".
QString renderLogFormat(const QString& format, const std::vector<LogArgument>& arguments);

// Writes one subsystem's and category's lines to the system log.
class Logger {
public:
    Logger(SystemLog& log, QString subsystem, QString category)
        : log_(log), subsystem_(std::move(subsystem)), category_(std::move(category)) {}

    template <class... Args>
    void debug(const char* format, const Args&... arguments) const {
        write(LogLevel::debug, format, {toArgument(arguments)...});
    }
    template <class... Args>
    void info(const char* format, const Args&... arguments) const {
        write(LogLevel::info, format, {toArgument(arguments)...});
    }
    template <class... Args>
    void warning(const char* format, const Args&... arguments) const {
        write(LogLevel::warning, format, {toArgument(arguments)...});
    }
    template <class... Args>
    void error(const char* format, const Args&... arguments) const {
        write(LogLevel::error, format, {toArgument(arguments)...});
    }

    // The line `format` renders to with these arguments, as it would be written.
    template <class... Args>
    static QString render(const char* format, const Args&... arguments) {
        return renderLogFormat(QString::fromUtf8(format), {toArgument(arguments)...});
    }
    // Writes a line rendered before.
    void writeLine(LogLevel level, const QString& line) const;

private:
    static LogArgument toArgument(const QString& text) { return text; }
    static LogArgument toArgument(const char* text) { return QString::fromUtf8(text); }
    static LogArgument toArgument(bool flag) { return flag; }
    template <std::integral Number>
    requires(!std::same_as<Number, bool>) static LogArgument toArgument(Number number) {
        return static_cast<std::int64_t>(number);
    }

    void write(LogLevel level, const char* format, const std::vector<LogArgument>& arguments) const;

    SystemLog& log_;
    QString subsystem_;
    QString category_;
};
