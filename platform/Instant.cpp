// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Instant.h"

#include <algorithm>
#include <cmath>

namespace {
// About 31 700 years: far inside what a 64-bit count of microseconds holds (about 9.2e12 s),
// so sums of such spans with any instant we handle cannot overflow.
constexpr double kLargestSeconds = 1e12;
}  // namespace

double secondsBetween(Instant from, Instant to) {
    return std::chrono::duration<double>(to - from).count();
}

Instant addingSeconds(Instant instant, double seconds) {
    const double clamped = std::clamp(seconds, -kLargestSeconds, kLargestSeconds);
    return instant +
           std::chrono::round<std::chrono::microseconds>(std::chrono::duration<double>(clamped));
}

double secondsSince1970(Instant instant) {
    return std::chrono::duration<double>(instant.time_since_epoch()).count();
}

std::optional<Instant> instantFromSecondsSince1970(double seconds) {
    if (!std::isfinite(seconds) || std::fabs(seconds) > kLargestSeconds) {
        return std::nullopt;
    }
    return Instant{} +
           std::chrono::round<std::chrono::microseconds>(std::chrono::duration<double>(seconds));
}
