// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "shared/Iso8601.h"

namespace {

Instant utc(int year, unsigned month, unsigned day, int hour, int minute, int second) {
    using namespace std::chrono;
    return Instant(sys_days(std::chrono::year(year) / month / day) + hours(hour) + minutes(minute) +
                   seconds(second));
}

TEST(Iso8601, ParsesUtcAndNumericOffsets) {
    for (const char16_t* text :
         {u"2026-01-02T03:04:05Z", u"2026-01-02T04:34:05+01:30", u"2026-01-01T23:04:05-04:00"}) {
        EXPECT_EQ(Iso8601::parse(text), utc(2026, 1, 2, 3, 4, 5));
    }
    EXPECT_EQ(Iso8601::parse(u"2024-02-29T00:00:00Z"), utc(2024, 2, 29, 0, 0, 0));
    EXPECT_EQ(Iso8601::parse(u"1969-12-31T23:59:59Z"), utc(1969, 12, 31, 23, 59, 59));
}

// A fraction of a second, no zone, a blank or lower case for T and Z, offsets without a colon
// or of a day, days, hours and minutes out of range, no leap seconds, blanks around, a sign,
// digits that are not ASCII, and years outside 0000-9999 once in UTC.
TEST(Iso8601, RejectsEveryOtherForm) {
    for (const char16_t* text : {u"2026-01-02T03:04:05.123Z",  u"2026-01-02T03:04:05.Z",
                                 u"2026-01-02T03:04:05",       u"2026-01-02 03:04:05Z",
                                 u"2026-01-02t03:04:05z",      u"2026-01-02T03:04:05+0100",
                                 u"2026-01-02T03:04:05+01",    u"2026-1-02T03:04:05Z",
                                 u"2026-02-30T03:04:05Z",      u"2025-02-29T03:04:05Z",
                                 u"2026-13-02T03:04:05Z",      u"2026-01-02T24:00:00Z",
                                 u"2026-01-02T03:60:05Z",      u"2026-01-02T03:04:60Z",
                                 u"2026-01-02T03:04:05+24:00", u"2026-01-02T03:04:05Z ",
                                 u" 2026-01-02T03:04:05Z",     u"+2026-01-02T03:04:05Z",
                                 u"２０２６-01-02T03:04:05Z",  u"0000-01-01T00:00:00+01:00",
                                 u"9999-12-31T23:00:00-01:00", u""}) {
        EXPECT_FALSE(Iso8601::parse(text)) << QString::fromUtf16(text).toStdString();
    }
}

TEST(Iso8601, FormatsUtcWithTheFractionDroppedAndReadsItBack) {
    EXPECT_EQ(Iso8601::format(utc(2026, 1, 2, 3, 4, 5) + std::chrono::milliseconds(999)),
              "2026-01-02T03:04:05Z");
    EXPECT_EQ(Iso8601::format(utc(1969, 12, 31, 23, 59, 59) + std::chrono::milliseconds(500)),
              "1969-12-31T23:59:59Z");
    EXPECT_EQ(Iso8601::format(utc(9999, 12, 31, 23, 59, 59)), "9999-12-31T23:59:59Z");
    EXPECT_FALSE(Iso8601::format(utc(10000, 1, 1, 0, 0, 0)));
    EXPECT_FALSE(Iso8601::format(utc(-1, 12, 31, 0, 0, 0)));
    for (const Instant instant : {utc(2000, 2, 29, 12, 0, 0), utc(1970, 1, 1, 0, 0, 0),
                                  utc(2038, 1, 19, 3, 14, 8), utc(0, 1, 1, 0, 0, 0)}) {
        EXPECT_EQ(Iso8601::parse(*Iso8601::format(instant)), instant);
    }
}

}  // namespace
