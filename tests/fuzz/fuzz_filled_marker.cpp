// SPDX-License-Identifier: GPL-3.0-or-later
// Parses fuzzer input as the latest-code.filled marker, which the helper writes and the
// application reads; a marker that parses must survive being written again.

#include <cstdint>

#include "shared/LatestCodeStore.h"
#include "tests/fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArrayView text(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::optional<Instant> instant = parseFilledMarker(text);
    if (!instant) {
        return 0;
    }
    const QByteArray written = formatFilledMarker(*instant);
    fuzzRequire(parseFilledMarker(written) == instant, "the written marker names another instant");
    return 0;
}
