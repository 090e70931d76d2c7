// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <optional>

// A point in wall-clock time, UTC, with microsecond precision. Durations travel as seconds in a
// double, as the rest of the system counts them.
using Instant = std::chrono::sys_time<std::chrono::microseconds>;

// Seconds from `from` to `to`; negative when `to` lies before `from`.
double secondsBetween(Instant from, Instant to);

// `instant` moved by a (possibly fractional, possibly negative) number of seconds.
Instant addingSeconds(Instant instant, double seconds);

double secondsSince1970(Instant instant);

// Nothing for values that are not finite or lie beyond what an Instant can hold.
std::optional<Instant> instantFromSecondsSince1970(double seconds);
