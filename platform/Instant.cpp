#include "Instant.h"

#include <algorithm>
#include <cmath>

namespace {
// Far inside the range of a 64-bit count of microseconds (about 292 000 years).
constexpr double kLargestSeconds = 1e14;
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
