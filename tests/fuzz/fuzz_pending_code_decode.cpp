// SPDX-License-Identifier: GPL-3.0-or-later
// Decodes fuzzer input as the JSON inside a sealed pending code. The phone writes it, so the
// bytes are only as trustworthy as the phone: every Error is a rejection the application
// handles; anything else is a finding.

#include <cstdint>
#include <optional>

#include "ZorvikMac/CodeIntake/PendingCode.h"
#include "platform/Error.h"
#include "tests/fuzz/PendingCodeRoundTrip.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray json(reinterpret_cast<const char*>(data), qsizetype(size));
    std::optional<PendingCode> decoded;
    try {
        decoded = PendingCode::decode(json);
    } catch (const Error&) {
        return 0;
    }
    requirePendingCodeRoundTrip(*decoded);
    return 0;
}
