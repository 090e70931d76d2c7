// SPDX-License-Identifier: GPL-3.0-or-later
#include "shared/Iso8601.h"

namespace {

using Days = std::chrono::days;

bool isDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

// The number written by `count` ASCII digits at `at`, or -1.
int digitsAt(QStringView text, qsizetype at, int count) {
    int value = 0;
    for (int i = 0; i < count; ++i) {
        const QChar c = text[at + i];
        if (!isDigit(c)) {
            return -1;
        }
        value = value * 10 + (c.unicode() - u'0');
    }
    return value;
}

bool separatorsAt(QStringView text, std::initializer_list<std::pair<qsizetype, char16_t>> wanted) {
    for (const auto& [at, c] : wanted) {
        if (text[at] != c) {
            return false;
        }
    }
    return true;
}

}  // namespace

namespace Iso8601 {

std::optional<Instant> parse(QStringView text) {
    // "YYYY-MM-DDTHH:MM:SS" then "Z" or "+HH:MM"/"-HH:MM".
    constexpr qsizetype kDateTimeLength = 19;
    if (text.size() != kDateTimeLength + 1 && text.size() != kDateTimeLength + 6) {
        return std::nullopt;
    }
    if (!separatorsAt(text, {{4, u'-'}, {7, u'-'}, {10, u'T'}, {13, u':'}, {16, u':'}})) {
        return std::nullopt;
    }
    const int year = digitsAt(text, 0, 4);
    const int month = digitsAt(text, 5, 2);
    const int day = digitsAt(text, 8, 2);
    const int hour = digitsAt(text, 11, 2);
    const int minute = digitsAt(text, 14, 2);
    const int second = digitsAt(text, 17, 2);
    if (year < 0 || month < 1 || day < 1 || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
        second < 0 || second > 59) {
        return std::nullopt;
    }
    const std::chrono::year_month_day date{std::chrono::year(year),
                                           std::chrono::month(static_cast<unsigned>(month)),
                                           std::chrono::day(static_cast<unsigned>(day))};
    if (!date.ok()) {
        return std::nullopt;
    }

    int offsetMinutes = 0;
    const QChar zone = text[kDateTimeLength];
    if (zone == u'Z') {
        if (text.size() != kDateTimeLength + 1) {
            return std::nullopt;
        }
    } else if (zone == u'+' || zone == u'-') {
        if (text.size() != kDateTimeLength + 6 || text[kDateTimeLength + 3] != u':') {
            return std::nullopt;
        }
        const int offsetHours = digitsAt(text, kDateTimeLength + 1, 2);
        const int offsetRest = digitsAt(text, kDateTimeLength + 4, 2);
        if (offsetHours < 0 || offsetHours > 23 || offsetRest < 0 || offsetRest > 59) {
            return std::nullopt;
        }
        offsetMinutes = (offsetHours * 60 + offsetRest) * (zone == u'-' ? -1 : 1);
    } else {
        return std::nullopt;
    }

    const auto local = std::chrono::sys_days(date) + std::chrono::hours(hour) +
                       std::chrono::minutes(minute) + std::chrono::seconds(second);
    const Instant instant(local - std::chrono::minutes(offsetMinutes));
    // An offset can carry the first or last day beyond the years we can write back.
    if (!format(instant)) {
        return std::nullopt;
    }
    return instant;
}

std::optional<QString> format(Instant instant) {
    const auto seconds = std::chrono::floor<std::chrono::seconds>(instant);
    const auto day = std::chrono::floor<Days>(seconds);
    const std::chrono::year_month_day date(day);
    const int year = static_cast<int>(date.year());
    if (year < 0 || year > 9999) {
        return std::nullopt;
    }
    const std::chrono::hh_mm_ss time(seconds - day);
    return QString::asprintf(
        "%04d-%02u-%02uT%02d:%02d:%02dZ", year, static_cast<unsigned>(date.month()),
        static_cast<unsigned>(date.day()), static_cast<int>(time.hours().count()),
        static_cast<int>(time.minutes().count()), static_cast<int>(time.seconds().count()));
}

}  // namespace Iso8601
