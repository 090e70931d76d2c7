// SPDX-License-Identifier: GPL-3.0-or-later
// Parses fuzzer input as an internet date-time, and writes an instant taken from the same bytes.
// Dates arrive from the phone and from the shared file, so neither side may trust the other.

#include <QString>
#include <chrono>
#include <cstdint>
#include <cstring>

#include "shared/Iso8601.h"
#include "tests/fuzz/FuzzCheck.h"

namespace {

using namespace std::chrono;

const Instant kFirstWritable = sys_days(year(0) / January / 1);
const Instant kLastWritable = sys_days(year(10000) / January / 1) - microseconds(1);

bool isWritable(Instant instant) {
    return instant >= kFirstWritable && instant <= kLastWritable;
}

// Every instant of the years 0000–9999 must be written, and read back to its whole second.
void requireFormatRoundTrip(Instant instant) {
    const std::optional<QString> text = Iso8601::format(instant);
    if (!isWritable(instant)) {
        fuzzRequire(!text, "format wrote a year outside 0000-9999");
        return;
    }
    fuzzRequire(text.has_value(), "format failed inside 0000-9999");
    fuzzRequire(Iso8601::parse(*text) == floor<seconds>(instant),
                "format's text does not parse back to the same second");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    if (const std::optional<Instant> parsed = Iso8601::parse(text)) {
        fuzzRequire(*parsed == floor<seconds>(*parsed), "parse produced a fraction of a second");
        requireFormatRoundTrip(*parsed);
    }

    // The first eight bytes, folded into a span a little wider than the writable years so both
    // edges get exercised.
    if (size >= sizeof(std::uint64_t)) {
        std::uint64_t raw = 0;
        std::memcpy(&raw, data, sizeof raw);
        const auto margin = days(2);
        const auto first = kFirstWritable - margin;
        const auto span = std::uint64_t(((kLastWritable + margin) - first).count()) + 1;
        requireFormatRoundTrip(first + microseconds(std::int64_t(raw % span)));
    }
    return 0;
}
