// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Logger.h"

namespace {

QString renderArgument(const LogArgument& argument, bool asBool) {
    if (const auto* text = std::get_if<QString>(&argument)) {
        return *text;
    }
    if (const auto* flag = std::get_if<bool>(&argument)) {
        if (asBool) {
            return *flag ? QStringLiteral("true") : QStringLiteral("false");
        }
        return QString::number(*flag ? 1 : 0);
    }
    const auto number = std::get<std::int64_t>(argument);
    if (asBool) {
        return number != 0 ? QStringLiteral("true") : QStringLiteral("false");
    }
    return QString::number(number);
}

}  // namespace

QString renderLogFormat(const QString& format, const std::vector<LogArgument>& arguments) {
    QString out;
    out.reserve(format.size() + 32);
    std::size_t next = 0;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format[i];
        if (c != u'%' || i + 1 == format.size()) {
            out += c;
            continue;
        }
        qsizetype j = i + 1;
        if (format[j] == u'%') {
            out += u'%';
            i = j;
            continue;
        }
        QStringView modifier;
        if (format[j] == u'{') {
            const qsizetype close = format.indexOf(u'}', j);
            if (close < 0) {
                out += c;
                continue;
            }
            modifier = QStringView(format).mid(j + 1, close - j - 1);
            j = close + 1;
        }
        while (j < format.size() && format[j] == u'l') {
            ++j;
        }
        if (j >= format.size() || !QStringView(u"sdi").contains(format[j])) {
            out += c;
            continue;
        }
        const bool asBool = modifier.contains(u"bool");
        out +=
            next < arguments.size() ? renderArgument(arguments[next], asBool) : QStringLiteral("?");
        ++next;
        i = j;
    }
    return out;
}

void Logger::write(LogLevel level, const char* format,
                   const std::vector<LogArgument>& arguments) const {
    log_.write(level, subsystem_, category_, renderLogFormat(QString::fromUtf8(format), arguments));
}

void Logger::writeLine(LogLevel level, const QString& line) const {
    log_.write(level, subsystem_, category_, line);
}
